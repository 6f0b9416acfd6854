#pragma once
// Where a form's acid chunks lie, as tagging, showing and removing all see
// them: the 24-byte ones in the form, one of another size (which no one
// changes), and the one an interrupted append may have left behind the form.

#include "Mmio.h"
#include "RiffForm.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

inline constexpr mmio::FOURCC kAcid = mmio::StringToFOURCC("acid");
inline constexpr mmio::FOURCC kWave = mmio::StringToFOURCC("WAVE");
inline constexpr const char* kCutShort = "it holds fewer bytes than its RIFF header declares";
inline constexpr const char* kTooManyChunks = "it holds more than 10,000 chunks";

struct AcidChunks {
    std::vector<int64_t> bodies;  // data offsets of the 24-byte ones
    bool hasOdd = false;          // one of another size, the first of which is
    uint32_t oddSize = 0;
};

AcidChunks FindAcidChunks(const mmio::FormTable& table);
std::string OddAcidText(const AcidChunks& acid);

// An append stopped between the chunk and the RIFF size leaves the intact form,
// the zero pad byte its last chunk may need, and one whole 24-byte acid chunk
// behind it. That shape and nothing else: the offset of the chunk's header, or -1.
int64_t InterruptedAppend(mmio::File& h, const mmio::FormTable& table, const AcidChunks& acid);

}  // namespace velorizer
