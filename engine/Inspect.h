#pragma once
// What the tagger sees in a file, read without changing it: whether it would
// tag it (and, if not, why not, in tagging's own words), the acid chunks it
// holds, and the audio's format and length, found as a loop's tempo is derived.

#include "Velorize.h"
#include "clsAcidSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

struct Inspection {
    // Why the file's acid chunks can't be read: it can't be opened, it is no
    // WAVE form, or its acid chunks are not ones tagging would rewrite. Empty
    // when they can be read.
    std::string unreadable;
    // Why tagging would leave the file alone; empty when it would tag it. A
    // read-only or already tagged file is asked about, not refused.
    std::string refusal;
    bool wave = false;  // a RIFF "WAVE" form opens the file
    // Acid chunks of any size in the form, with one an interrupted run left
    // behind it (which the next tagging takes in).
    int acidChunks = 0;
    std::vector<clsAcidSettings::Body> bodies;  // the 24-byte ones, when readable
    bool hasFormat = false;                     // a "fmt " chunk of 16 bytes or more
    WaveFormat format;
    bool hasData = false;  // a "data" chunk behind it
    uint32_t dataSize = 0;
    uint64_t frames = 0;  // whole frames of audio; 0 when unknown

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
