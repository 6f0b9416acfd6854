#pragma once
// Tagging one WAVE file in place with the loop properties of a clsAcidSettings.

#include "ChangeRecorder.h"
#include "VelorizeUi.h"
#include "clsAcidSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mmio {
class File;
struct FormTable;
}  // namespace mmio

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

// Finds the first "fmt " chunk of the form from chunk `next` on and reads it.
// 0 on success, -1 when there is none or it is shorter than 16 bytes. `next`
// is then the chunk behind it.
int32_t ReadWaveFormat(mmio::File& handle, const mmio::FormTable& form, size_t& next, WaveFormat& format);
// Finds the first "data" chunk of the form from chunk `next` on: 0 and its
// declared size, or -1. `next` is then the chunk behind it.
int32_t GetDataChunkSize(const mmio::FormTable& form, size_t& next, uint32_t& size);

// Whole frames in `dataSize` bytes of audio in `format`; 0 when the format
// gives no frame size (block alignment, channels or bits 0, or bits not a
// multiple of 8).
uint64_t FrameCount(const WaveFormat& format, uint32_t dataSize);

constexpr float kDefaultTempo = 120.0f;
// The tempo of a loop of `beats` beats whose audio is `dataSize` bytes in `format`:
// the float nearest to beats x 60 x rate / frames, with frames = dataSize / block
// alignment. 120 when the format gives no frame size or there is no whole frame.
float LoopTempo(int32_t beats, const WaveFormat& format, uint32_t dataSize);
// The float nearest to num / den (ties to even); den > 0.
float NearestFloat(__int128 num, uint64_t den);

// Tags the file at `path`: asks before changing a read-only or already tagged file,
// derives the tempo of a loop, then overwrites the existing acid body or appends a
// new acid chunk. Every problem is told to the user through `ui`; the two answer
// variables carry Yes to All (3) and Cancel (-1) from file to file. A recorder,
// when given, is told the change before the file is touched; when it can't
// record it, the file is left as it was, with a message.
void VelorizeFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                  VelorizeUi& ui, ChangeRecorder* recorder = nullptr);

}  // namespace velorizer
