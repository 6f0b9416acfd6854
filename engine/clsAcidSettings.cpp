#include "clsAcidSettings.h"

#include "Mmio.h"

#include <bit>
#include <cstring>

namespace velorizer {

static_assert(std::endian::native == std::endian::little,
              "the acid body is stored as the processor holds it: little-endian");

const char* NoteName(int midi) {
    static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return kNames[((midi % 12) + 12) % 12];
}

clsAcidSettings::clsAcidSettings() {
    Mode(kModeOneShot);
    Tempo(120.0f);
    LoopBeats(4);
    body_[16] = 4;  // 4/4 time
    body_[18] = 4;
}

template <typename T> T clsAcidSettings::Get(int offset) const {
    T value;
    std::memcpy(&value, body_.data() + offset, sizeof value);
    return value;
}

template <typename T> void clsAcidSettings::Set(int offset, T value) {
    std::memcpy(body_.data() + offset, &value, sizeof value);
}

int32_t clsAcidSettings::Mode() const { return Get<int32_t>(0); }
void clsAcidSettings::Mode(int32_t value) { Set(0, value); }
int16_t clsAcidSettings::MidiBase() const { return Get<int16_t>(4); }
void clsAcidSettings::MidiBase(int16_t value) { Set(4, value); }
int32_t clsAcidSettings::LoopBeats() const { return Get<int32_t>(12); }
void clsAcidSettings::LoopBeats(int32_t value) { Set(12, value); }
int16_t clsAcidSettings::Numerator() const { return Get<int16_t>(18); }
int16_t clsAcidSettings::Denominator() const { return Get<int16_t>(16); }
float clsAcidSettings::Tempo() const { return Get<float>(20); }
void clsAcidSettings::Tempo(float value) { Set(20, value); }

bool clsAcidSettings::WriteData(mmio::File& handle, bool create) const {
    bool ok = true;
    mmio::MMCKINFO ck;
    if (create) {
        ck.ckid = mmio::StringToFOURCC("acid");
        if (handle.CreateChunk(ck, 0) != mmio::MMSYSERR_NOERROR) ok = false;
    }
    if (ok && handle.Write(body_.data(), kBodySize) < 0) ok = false;
    // Writes are buffered: the ascend of a new chunk, or a flush, is where the disk
    // accepts or refuses them.
    if (ok && create && handle.Ascend(ck, 0) != mmio::MMSYSERR_NOERROR) ok = false;
    if (ok && !create && !handle.Flush()) ok = false;
    return ok;
}

}  // namespace velorizer
