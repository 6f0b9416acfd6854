// A run's journal on arbitrary bytes: nothing a reader takes from it fails to
// read back the same when written out again, and a record never passes its
// checksum once a byte of it is changed.

#include "JournalRecords.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace velorizer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    journal::Parsed p;
    if (!journal::Parse(text, p)) return 0;
    if (p.changes.size() != p.numbers.size()) std::abort();
    for (size_t i = 0; i < p.changes.size(); ++i) {
        const std::string line = journal::Sealed(journal::ChangeContent(p.numbers[i], p.changes[i]));
        journal::Parsed again;
        if (!journal::Parse(std::string(journal::kMagic2) + "\n" + line, again) || again.changes.size() != 1 ||
            !(again.changes[0] == p.changes[i]) || again.numbers[0] != p.numbers[i])
            std::abort();
        // One byte of the record changed: the checksum refuses it.
        std::string bent = line;
        bent[size % (bent.size() - 1)] ^= 0x01;
        journal::Parsed broken;
        journal::Parse(std::string(journal::kMagic2) + "\n" + bent, broken);
        if (!broken.changes.empty() && !(broken.changes[0] == p.changes[i] && bent == line)) std::abort();
    }
    return 0;
}
