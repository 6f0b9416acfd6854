// Tagging in place on arbitrary bytes, in every mode, checked against what
// tagging may ever do to a file: nothing; append exactly one acid chunk (after a
// zero pad byte where the last chunk lacks one) with the RIFF size raised to
// the new length; or rewrite only the bodies of existing 24-byte acid chunks,
// after raising the RIFF size over the one chunk an interrupted append left
// behind an intact form, where that is what the file holds.

#include "ScratchFolder.h"
#include "Velorize.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velorizer;
using Bytes = std::vector<uint8_t>;

namespace {

class ScriptedUi : public VelorizeUi {
public:
    explicit ScriptedUi(uint8_t answers) : answers_(answers) {}
    void MsgBox(const std::string&, int, const std::string&) override {}
    int32_t GetConfirmReadOnly(const std::string&, const std::string&) override {
        static const int32_t kAnswers[4] = {kAnswerYes, kAnswerNo, kAnswerYesToAll, kAnswerCancel};
        const int32_t a = kAnswers[answers_ & 3];
        answers_ >>= 2;
        return a;
    }

private:
    uint8_t answers_;
};

uint32_t LE32(const Bytes& b, size_t o) {
    return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 | uint32_t(b[o + 3]) << 24;
}

[[noreturn]] void Fail(const char* why) {
    std::fprintf(stderr, "tagging oracle violated: %s\n", why);
    std::abort();
}

// The bodies of the 24-byte acid chunks that lie wholly in the file, found by a
// walk of our own (not the engine's) over the top-level chunks of the form.
std::vector<size_t> AcidBodies(const Bytes& in) {
    std::vector<size_t> bodies;
    if (in.size() < 12 || std::memcmp(in.data(), "RIFF", 4) != 0 || std::memcmp(in.data() + 8, "WAVE", 4) != 0)
        return bodies;
    const uint64_t formEnd = 8 + uint64_t(LE32(in, 4));
    uint64_t pos = 12;
    while (pos + 8 <= formEnd && pos + 8 <= in.size()) {
        const uint32_t size = LE32(in, pos + 4);
        if (std::memcmp(in.data() + pos, "acid", 4) == 0 && size == 24 && pos + 8 + 24 <= in.size())
            bodies.push_back(pos + 8);
        pos += 8 + uint64_t(size) + (size & 1);
    }
    return bodies;
}

// The body of the acid chunk an append stopped before its RIFF size left behind
// the form: the form's chunks end where it says (or one byte short, the last
// one being odd), then a zero pad byte where that byte is missing, then one
// 24-byte acid chunk and nothing more; the form holds no acid chunk. 0 otherwise.
size_t LeftBehindBody(const Bytes& in) {
    if (in.size() < 12 || std::memcmp(in.data(), "RIFF", 4) != 0 || std::memcmp(in.data() + 8, "WAVE", 4) != 0)
        return 0;
    const uint64_t formEnd = 8 + uint64_t(LE32(in, 4));
    uint64_t pos = 12, dataEnd = 12;
    bool odd = false;
    while (pos + 8 <= formEnd && pos + 8 <= in.size()) {
        if (std::memcmp(in.data() + pos, "acid", 4) == 0) return 0;
        const uint32_t size = LE32(in, pos + 4);
        dataEnd = pos + 8 + size;
        odd = size & 1;
        pos = dataEnd + (size & 1);
    }
    const bool pad = odd && dataEnd == formEnd;
    if (pos != formEnd + (pad ? 1 : 0) || in.size() != pos + 32) return 0;
    static const uint8_t kHeader[8] = {'a', 'c', 'i', 'd', 24, 0, 0, 0};
    if ((pad && in[formEnd] != 0) || std::memcmp(in.data() + pos, kHeader, 8) != 0) return 0;
    return pos + 8;
}

Bytes ReadAll(const char* path) {
    Bytes out;
    FILE* f = std::fopen(path, "rb");
    if (!f) return out;
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Byte 0: the panel choice; byte 1: the answers and the read-only bit.
    static const int32_t kModes[6] = {kModeOneShot,     kModeLoop,      kModeLoopRoot,
                                      kModeDiskNoTempo, kModeDiskTempo, kModeDiskTempoRoot};
    clsAcidSettings settings;
    settings.Mode(kModes[data[0] % 6]);
    settings.LoopBeats(1 + (data[0] >> 3) * 397);
    settings.MidiBase(static_cast<int16_t>(48 + (data[0] & 7)));
    settings.Tempo(60.0f + (data[0] >> 1));
    const bool readOnly = data[1] & 0x80;
    const Bytes in(data + 2, data + size);

    static const std::string path = fuzzsupport::ScratchFolder() + "/input.wav";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) std::abort();
        if (!in.empty() && std::fwrite(in.data(), 1, in.size(), f) != in.size()) std::abort();
        std::fclose(f);
    }
    ::chmod(path.c_str(), readOnly ? 0444 : 0644);

    ScriptedUi ui(data[1]);
    int32_t readOnlyAnswer = 0, retagAnswer = 0;
    VelorizeFile(path, settings, readOnlyAnswer, retagAnswer, ui);

    struct stat st = {};
    ::stat(path.c_str(), &st);
    if ((st.st_mode & 0777) != (readOnly ? 0444u : 0644u)) Fail("permissions not restored");

    const Bytes out = ReadAll(path.c_str());
    const auto body = settings.Contents();
    if (out == in) return 0;

    if (out.size() == in.size()) {
        // Only acid bodies may differ, and each that differs holds the new body.
        std::vector<size_t> bodies = AcidBodies(in);
        std::vector<bool> allowed(in.size(), false);
        if (LE32(out, 4) != LE32(in, 4)) {
            const size_t left = LeftBehindBody(in);
            if (left == 0) Fail("the RIFF size changed, but not over a chunk an interrupted append left");
            if (LE32(out, 4) != in.size() - 8) Fail("the RIFF size does not cover the chunk left behind");
            for (size_t i = 4; i < 8; ++i) allowed[i] = true;
            bodies.push_back(left);
        }
        for (size_t b : bodies)
            for (size_t i = 0; i < 24; ++i) allowed[b + i] = true;
        for (size_t i = 0; i < in.size(); ++i)
            if (in[i] != out[i] && !allowed[i]) Fail("a byte outside the acid bodies changed");
        for (size_t b : bodies)
            if (std::memcmp(out.data() + b, in.data() + b, 24) != 0 &&
                std::memcmp(out.data() + b, body.data(), 24) != 0)
                Fail("an acid body holds something else than the settings");
        return 0;
    }

    const size_t pad = out.size() - in.size() == 33 ? 1 : 0;
    if (out.size() - in.size() != 32 + pad || out.size() < in.size()) Fail("the file changed length wrongly");
    if (in.size() < 12) Fail("appended to a file without a RIFF header");
    for (size_t i = 0; i < in.size(); ++i)
        if ((i < 4 || i >= 8) && in[i] != out[i]) Fail("an existing byte changed in an append");
    if (LE32(out, 4) != out.size() - 8) Fail("the RIFF size does not match the new length");
    if (pad && out[in.size()] != 0) Fail("the pad byte is not zero");
    static const uint8_t kHeader[8] = {'a', 'c', 'i', 'd', 24, 0, 0, 0};
    if (std::memcmp(out.data() + in.size() + pad, kHeader, 8) != 0) Fail("the appended chunk header is wrong");
    if (std::memcmp(out.data() + in.size() + pad + 8, body.data(), 24) != 0) Fail("the appended body is wrong");
    if (!AcidBodies(in).empty()) Fail("appended although the form holds an acid chunk");
    return 0;
}
