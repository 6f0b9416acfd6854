#include "Velorize.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace velorizer;

namespace {
WaveFormat Format(uint16_t channels, uint32_t rate, uint16_t bits, int align = -1) {
    WaveFormat f;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.bitsPerSample = bits;
    f.blockAlign = align >= 0 ? static_cast<uint16_t>(align) : static_cast<uint16_t>(channels * bits / 8);
    return f;
}
}  // namespace

TEST(LoopTempo, TheWorkedExampleAndBigLoopsWithoutOverflow) {
    // Stereo, 16 bits, 44.1 kHz, 352,800 bytes of audio: 88,200 frames; 4 beats.
    EXPECT_EQ(LoopTempo(4, Format(2, 44100, 16), 352800), 120.0f);
    // 1,000 beats at 44.1 kHz no longer overflows.
    EXPECT_EQ(LoopTempo(1000, Format(2, 44100, 16), 352800), 30000.0f);
    // The largest beat count with a data chunk of almost 4 GiB: 1,073,741,823
    // frames, and 10,000 x 60 x 48,000 / 1,073,741,823 = 26.82209017...; in
    // steps of 2^-19 (a float's between 16 and 32) that is 14,062,500.013, so
    // the nearest float is 14,062,500 x 2^-19.
    EXPECT_EQ(LoopTempo(10000, Format(2, 48000, 16), 0xFFFFFFFFu), 14062500.0f / 524288.0f);
}

TEST(LoopTempo, FramesComeFromTheBlockAlignment) {
    // 24-bit audio in 32-bit containers: the block alignment is the frame size.
    EXPECT_EQ(LoopTempo(4, Format(2, 48000, 32, 8), 96000 * 8), 120.0f);
    // A trailing partial frame is not a frame: 44,100 whole frames of 6 bytes.
    EXPECT_EQ(LoopTempo(2, Format(2, 44100, 24), 44100 * 6 + 5), 120.0f);
}

TEST(LoopTempo, StopsAt120WhenTheFormatGivesNoFrames) {
    EXPECT_EQ(LoopTempo(8, Format(2, 44100, 12, 4), 352800), 120.0f) << "bits not a multiple of 8";
    EXPECT_EQ(LoopTempo(8, Format(2, 44100, 16, 0), 352800), 120.0f) << "block alignment 0";
    EXPECT_EQ(LoopTempo(8, Format(0, 44100, 16, 4), 352800), 120.0f) << "no channels";
    EXPECT_EQ(LoopTempo(8, Format(2, 44100, 0, 4), 352800), 120.0f) << "no bits";
    EXPECT_EQ(LoopTempo(8, Format(2, 44100, 16), 0), 120.0f) << "empty data chunk";
    EXPECT_EQ(LoopTempo(8, Format(2, 44100, 16), 3), 120.0f) << "less than one frame";
}

TEST(NearestFloat, RoundsTheExactQuotientNotADoubleRoundedOne) {
    const __int128 den = static_cast<__int128>(1) << 60;
    const __int128 tie = den + (static_cast<__int128>(1) << 36);  // exactly halfway between 1 and 1 + 2^-23
    const float up = std::nextafter(1.0f, 2.0f);
    EXPECT_EQ(NearestFloat(tie, static_cast<uint64_t>(den)), 1.0f) << "a tie goes to the even neighbour";
    EXPECT_EQ(NearestFloat(tie + 1, static_cast<uint64_t>(den)), up) << "a hair above the tie rounds up";
    EXPECT_EQ(NearestFloat(tie - 1, static_cast<uint64_t>(den)), 1.0f);
    // Halfway between 1 + 2^-23 (odd) and 1 + 2^-22 (even) goes up.
    const __int128 tie2 = den + 3 * (static_cast<__int128>(1) << 36);
    EXPECT_EQ(NearestFloat(tie2, static_cast<uint64_t>(den)), std::nextafter(up, 2.0f));
    EXPECT_EQ(NearestFloat(-tie - 1, static_cast<uint64_t>(den)), -up);
    EXPECT_EQ(NearestFloat(0, 7), 0.0f);
    EXPECT_EQ(NearestFloat(1, 3), 1.0f / 3.0f);
}
