#include "PanelChoice.h"

namespace velorizer {

namespace {
// The MIDI note of the root C: a loop's is middle C, a disk-based file's an octave lower.
constexpr int kLoopC = 60;
constexpr int kDiskC = 48;
// A disk-based file without a root note stores this one all the same.
constexpr int16_t kDiskDefaultRoot = 60;
}  // namespace

const char* RootNoteName(int index) {
    if (index <= 0 || index >= kRootNoteCount) return "Don't transpose";
    return NoteName(index - 1);
}

void FillSettings(clsAcidSettings& settings, const PanelChoice& choice) {
    switch (choice.kind) {
        case PanelChoice::OneShot: settings.Mode(kModeOneShot); break;
        case PanelChoice::Loop:
            settings.Mode(kModeLoopRoot);
            if (choice.loopRootIndex > 0) settings.MidiBase(static_cast<int16_t>(kLoopC - 1 + choice.loopRootIndex));
            else settings.Mode(kModeLoop);
            settings.LoopBeats(choice.beats);
            break;
        case PanelChoice::DiskBased:
            if (choice.tempoChecked) {
                if (choice.diskRootIndex > 0) {
                    settings.MidiBase(static_cast<int16_t>(kDiskC - 1 + choice.diskRootIndex));
                    settings.Mode(kModeDiskTempoRoot);
                } else {
                    settings.Mode(kModeDiskTempo);
                    settings.MidiBase(kDiskDefaultRoot);
                }
            } else {
                settings.Mode(kModeDiskNoTempo);
                settings.MidiBase(kDiskDefaultRoot);
            }
            settings.Tempo(static_cast<float>(choice.tempoMilli / 1000.0));
            break;
    }
}

}  // namespace velorizer
