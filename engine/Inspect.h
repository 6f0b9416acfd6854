#pragma once
// What the tagger sees in a file, read without changing it: whether it would
// tag it (and, if not, why not: tagging's own verdict), the acid chunks it
// holds, and the audio's format and length, found as a loop's tempo is derived.

#include "Outcome.h"
#include "clsAcidSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

// The fields of a "fmt " chunk that tagging uses.
struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

constexpr float kDefaultTempo = 120.0f;
// The tempo of a loop of `beats` beats whose audio is `dataSize` bytes in `format`:
// the float nearest to beats x 60 x rate / frames, with frames = dataSize / block
// alignment. 120 when the format gives no frame size or there is no whole frame.
float LoopTempo(int32_t beats, const WaveFormat& format, uint32_t dataSize);

struct Inspection {
    // Why the file's acid chunks can't be read: it can't be opened, it is no
    // WAVE form, or its acid chunks are not ones tagging would rewrite. None
    // when they can be read.
    Verdict unreadable;
    // Why tagging would leave the file alone; none when it would tag it. A
    // read-only or already tagged file is asked about, not refused.
    Verdict refusal;
    uint64_t device = 0, inode = 0;  // the file looked at
    bool wave = false;               // a RIFF "WAVE" form opens the file
    // Acid chunks of any size in the form, with one an interrupted run left
    // behind it (which the next tagging takes in).
    int acidChunks = 0;
    std::vector<clsAcidSettings::Body> bodies;  // the 24-byte ones, when readable
    bool hasFormat = false;                     // a "fmt " chunk of 16 bytes or more
    WaveFormat format;
    bool hasData = false;  // a "data" chunk behind it
    uint32_t dataSize = 0;
    int64_t dataOffset = 0;  // its first byte
    uint64_t frames = 0;     // whole frames of audio; 0 when unknown

    // Seconds of audio; 0 when unknown.
    double Duration() const {
        return frames > 0 && format.samplesPerSec > 0 ? static_cast<double>(frames) / format.samplesPerSec : 0.0;
    }
    // The tempo tagging would write for a loop of `beats` beats.
    float LoopTempoFor(int32_t beats) const { return hasData ? LoopTempo(beats, format, dataSize) : kDefaultTempo; }
};

Inspection Inspect(const std::string& path);

// The bodies of the 24-byte acid chunks of a WAVE file, read without changing it.
// False, with the reason in `error`, when the file can't be read as a WAVE form.
bool ReadAcidChunks(const std::string& path, std::vector<clsAcidSettings::Body>& bodies, std::string& error);

}  // namespace velorizer
