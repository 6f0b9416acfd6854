#pragma once
// The loop properties record: the 24-byte body of an `acid` chunk, with one
// property per field the program sets, and the operation that writes it into an
// open WAVE file.

#include <array>
#include <cstdint>

namespace mmio {
class File;
}

namespace velorizer {

// Bits of the loop type (Mode).
enum AcidFlag : int32_t {
    kFlagOneShot = 0x01,   // a one-shot, or a disk-based file without a tempo
    kFlagRootNote = 0x02,  // the root note is set
    kFlagStretch = 0x04,   // the tempo applies
    kFlagDiskBased = 0x08,
};

// The six loop-type values the program writes.
enum AcidMode : int32_t {
    kModeOneShot = 1,
    kModeLoop = 20,
    kModeLoopRoot = 22,
    kModeDiskNoTempo = 25,
    kModeDiskTempo = 28,
    kModeDiskTempoRoot = 30,
};

// The name of a MIDI note's pitch class: C, C#, D, ... B.
const char* NoteName(int midi);

class clsAcidSettings {
public:
    static constexpr int kBodySize = 24;
    static constexpr int kChunkSize = 8 + kBodySize;  // with its header
    using Body = std::array<uint8_t, kBodySize>;

    clsAcidSettings();
    // A record holding a body read from a file.
    static clsAcidSettings FromBody(const Body& body) {
        clsAcidSettings s;
        s.body_ = body;
        return s;
    }
    // The time signature stored at offsets 18 (numerator) and 16 (denominator).
    int16_t Numerator() const;
    int16_t Denominator() const;

    int32_t Mode() const;
    void Mode(int32_t value);
    int16_t MidiBase() const;
    void MidiBase(int16_t value);
    int32_t LoopBeats() const;
    void LoopBeats(int32_t value);
    float Tempo() const;
    void Tempo(float value);
    Body Contents() const { return body_; }

    // create true: a whole new chunk (header and body) at the file's current
    // position; false: the 24 body bytes over an existing chunk's body there.
    // False when the disk refused the write, so that the caller can put the
    // file back as it was and say so ("error!").
    bool WriteData(mmio::File& handle, bool create) const;

private:
    template <typename T> T Get(int offset) const;
    template <typename T> void Set(int offset, T value);
    Body body_{};
};

}  // namespace velorizer
