#pragma once
// What the loop settings panel offers, and how a choice on it becomes the loop
// properties record of a run. The command line makes the same choices from
// its options.

#include "clsAcidSettings.h"

#include <cstdint>

namespace velorizer {

// The root-note lists: index 0 "Don't transpose", then C to B.
constexpr int kRootNoteCount = 13;
const char* RootNoteName(int index);

struct PanelChoice {
    enum Kind { OneShot, Loop, DiskBased };
    Kind kind = OneShot;
    int loopRootIndex = 0;  // 0 = don't transpose, 1..12 = C..B
    int32_t beats = 4;      // 1..10000
    bool tempoChecked = false;
    int diskRootIndex = 0;        // 0 = don't transpose, 1..12 = C..B
    int32_t tempoMilli = 120000;  // thousandths of a beat per minute, 60000..240000
};

void FillSettings(clsAcidSettings& settings, const PanelChoice& choice);

}  // namespace velorizer
