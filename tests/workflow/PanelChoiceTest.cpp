#include "PanelChoice.h"

#include <gtest/gtest.h>

using namespace velorizer;

TEST(FillSettings, TheSixPanelChoicesGiveTheSixModes) {
    struct Case {
        PanelChoice choice;
        int32_t mode;
        int16_t midi;
        int32_t beats;
        float tempo;
    };
    auto loop = [](int root, int beats) {
        PanelChoice c;
        c.kind = PanelChoice::Loop;
        c.loopRootIndex = root;
        c.beats = beats;
        c.diskRootIndex = 5;  // never read for a loop
        return c;
    };
    auto disk = [](bool tempo, int root, int milli) {
        PanelChoice c;
        c.kind = PanelChoice::DiskBased;
        c.tempoChecked = tempo;
        c.diskRootIndex = root;
        c.tempoMilli = milli;
        c.loopRootIndex = 3;  // never read for a disk-based file
        c.beats = 99;
        return c;
    };
    PanelChoice oneShot;
    oneShot.loopRootIndex = 4;
    oneShot.beats = 16;
    oneShot.tempoChecked = true;
    const Case cases[] = {
        {oneShot, 1, 0, 4, 120.0f},
        {loop(0, 8), 20, 0, 8, 120.0f},
        {loop(1, 8), 22, 60, 8, 120.0f},   // C
        {loop(12, 3), 22, 71, 3, 120.0f},  // B
        {disk(true, 0, 95500), 28, 60, 4, 95.5f},
        {disk(true, 1, 120000), 30, 48, 4, 120.0f},   // C
        {disk(true, 12, 60001), 30, 59, 4, 60.001f},  // B
        {disk(false, 7, 240000), 25, 60, 4, 240.0f},  // the root-note list is not read
    };
    for (const auto& c : cases) {
        clsAcidSettings s;
        FillSettings(s, c.choice);
        EXPECT_EQ(s.Mode(), c.mode);
        EXPECT_EQ(s.MidiBase(), c.midi) << "mode " << c.mode;
        EXPECT_EQ(s.LoopBeats(), c.beats) << "mode " << c.mode;
        EXPECT_EQ(s.Tempo(), c.tempo) << "mode " << c.mode;
    }
}
