#pragma once
// What tagging decides from a file's layout before it writes anything: which
// acid chunks the form holds, whether an interrupted append lies behind it,
// where a new chunk would go, and the verdict for every refusal. Tagging and the
// read-only inspection both decide through these, so they never disagree.

#include "Outcome.h"
#include "RiffForm.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

inline constexpr mmio::FOURCC kAcid = mmio::StringToFOURCC("acid");
inline constexpr mmio::FOURCC kWave = mmio::StringToFOURCC("WAVE");

// The acid chunks of a form, as its table lists them.
struct AcidChunks {
    std::vector<int64_t> bodies;  // data offsets of the 24-byte ones
    bool hasOdd = false;          // one of another size, the first of which is
    uint32_t oddSize = 0;
};

AcidChunks FindAcidChunks(const mmio::FormTable& table);

// An append stopped between the chunk and the RIFF size leaves the intact form,
// the zero pad byte its last chunk may need, and one whole 24-byte acid chunk
// behind it. That shape and nothing else: the offset of the chunk's header, or -1.
int64_t InterruptedAppend(mmio::File& h, const mmio::FormTable& table, const AcidChunks& acid);

// Where a new acid chunk goes in a file of `fileSize` bytes without one: behind
// the form, after writing the last chunk's missing pad byte when `pad`. A file
// where the form is not the whole file gets `refusal` instead.
struct AppendPlace {
    int64_t at = -1;
    bool pad = false;
    Reason refusal = Reason::None;
};
AppendPlace PlaceForAppend(const mmio::FormTable& table, int64_t fileSize);

}  // namespace velorizer
