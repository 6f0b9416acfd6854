// The detectors on audio made here, where the answer is known: the octave a
// drum loop's grid settles on, and a bass line's tonic against its key's
// relative and its fifth.

#include "BeatDetect.h"
#include "RootDetect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

using namespace velorizer;

namespace {

constexpr double kRate = 11025;

// Adds a decaying hit at `at` seconds: a sine of `hz` (0: none) mixed with noise.
void Hit(std::vector<float>& x, double at, double seconds, double hz, double noise, double gain, uint32_t& seed) {
    const auto start = static_cast<size_t>(at * kRate);
    for (size_t i = 0; i < static_cast<size_t>(seconds * kRate); ++i) {
        const double t = static_cast<double>(i) / kRate;
        seed = seed * 1664525u + 1013904223u;
        const double n = static_cast<double>(seed >> 8) / 8388608.0 - 1;
        const double v = (1 - noise) * std::sin(2 * std::numbers::pi * hz * t) + noise * n;
        x[(start + i) % x.size()] += static_cast<float>(gain * std::exp(-t / (seconds / 4)) * v);
    }
}

// `beats` beats at `bpm`: kicks on 1 and 3, snares on 2 and 4, and closed
// hats on the eighths if `hats`.
std::vector<float> Drums(double bpm, int beats, bool hats = true) {
    const double beat = 60 / bpm;
    std::vector<float> x(static_cast<size_t>(std::lround(beats * beat * kRate)));
    uint32_t seed = 7;
    for (int b = 0; b < beats; ++b) {
        const double at = b * beat;
        if (b % 2 == 0) Hit(x, at, 0.25, 60, 0.1, 0.9, seed);
        if (b % 2 == 1) Hit(x, at, 0.18, 190, 0.8, 0.8, seed);
        if (!hats) continue;
        Hit(x, at, 0.04, 0, 1, 0.25, seed);
        Hit(x, at + beat / 2, 0.04, 0, 1, 0.2, seed);
    }
    return x;
}

// Notes of a quarter beat each at `rate`, MIDI numbers, saw-like.
std::vector<float> Line(const std::vector<int>& notes, double seconds, double rate) {
    std::vector<float> x;
    for (const int note : notes) {
        const double hz = 440 * std::exp2((note - 69) / 12.0);
        for (size_t i = 0; i < static_cast<size_t>(seconds * rate); ++i) {
            const double t = static_cast<double>(i) / rate;
            double v = 0;
            for (int k = 1; k <= 6; ++k) v += std::sin(2 * std::numbers::pi * k * hz * t) / k;
            x.push_back(static_cast<float>(0.3 * v * std::exp(-t / 0.6)));
        }
    }
    return x;
}

}  // namespace

TEST(DetectBeats, SettlesOnTheTempoTheBackbeatGivesNotItsHalfOrDouble) {
    for (const double bpm : {70.0, 96.0, 128.0, 174.0}) {
        const std::vector<float> x = Drums(bpm, 8);
        const BeatEstimate e = DetectBeats(x, kRate, static_cast<double>(x.size()));
        EXPECT_EQ(e.beats, 8) << bpm << " bpm";
        EXPECT_TRUE(e.sure) << bpm << " bpm, confidence " << e.confidence;
        EXPECT_NE(e.runnerUp, 8);
    }
    // A loop as long as it is, whatever part of it the samples hold: a
    // shorter buffer is the loop with silence after.
    std::vector<float> x = Drums(100, 16);
    const auto whole = static_cast<double>(x.size());
    x.resize(x.size() - 100);
    EXPECT_EQ(DetectBeats(x, kRate, whole).beats, 16);
}

TEST(DetectBeats, ABarIsReadFromTheLoopsStart) {
    // The share of the snare band's onsets on the second and fourth beats of
    // the grid's bars (term 16) and on the third (term 17); the kicks' clicks
    // make the rest.
    const auto terms = [](const std::vector<float>& x, int32_t beats) {
        for (const BeatTerms& t : ScoreBeatCounts(x, kRate, static_cast<double>(x.size())))
            if (t.beats == beats) return t.x;
        return std::array<double, kBeatTerms>{};
    };
    const std::vector<float> x = Drums(70, 8, false);
    EXPECT_GT(terms(x, 8)[16], 0.6);
    EXPECT_GT(terms(x, 16)[17], 0.6) << "at twice the tempo the snares fall on the third beats";
    // The same loop cut to start on its snare: its bars start there.
    std::vector<float> late(x.begin() + static_cast<std::ptrdiff_t>(x.size() / 8), x.end());
    late.insert(late.end(), x.begin(), x.begin() + static_cast<std::ptrdiff_t>(x.size() / 8));
    EXPECT_LT(terms(late, 8)[16], 0.4);
}

TEST(DetectBeats, HeldNotesMarkABassLineWithoutDrumsAndItIsCounted) {
    // Four bars of held quarter notes at 86 bpm, the tonic (E) on each bar's first.
    const std::vector<float> line = Line({40, 43, 45, 43, 40, 47, 45, 43, 40, 43, 40, 47, 40, 45, 43, 40}, 0.7, kRate);
    const auto length = static_cast<double>(line.size());
    double steady = 0;
    ScoreBeatCounts(line, kRate, length, nullptr, &steady);
    EXPECT_GT(steady, 0.9);
    const BeatEstimate e = DetectBeats(line, kRate, length);
    EXPECT_EQ(e.beats, 16);
    EXPECT_TRUE(e.sure) << e.confidence;
    // Drums' "notes" jump about from window to window.
    const std::vector<float> drums = Drums(120, 8);
    ScoreBeatCounts(drums, kRate, static_cast<double>(drums.size()), nullptr, &steady);
    EXPECT_LT(steady, 0.9);
}

TEST(DetectBeats, NoOnsetsOrNoGridIsNoCount) {
    const std::vector<float> silence(static_cast<size_t>(2 * kRate), 0.0f);
    const BeatEstimate quiet = DetectBeats(silence, kRate, static_cast<double>(silence.size()));
    EXPECT_EQ(quiet.beats, 0);
    EXPECT_EQ(quiet.why, "its audio holds no onsets to count beats by");
    const std::vector<float> held = Line({45}, 2.0, kRate);  // one note: every grid fits it alike
    EXPECT_FALSE(DetectBeats(held, kRate, static_cast<double>(held.size())).sure);
    EXPECT_EQ(DetectBeats(silence, kRate, 0).why, "its length can't be told from its format and audio chunks");
}

TEST(DetectRoot, ALoopsTonicNotItsRelativeNorItsFifthAndAShotsPitchAtAnyRate) {
    // A minor over A, C, E, G: the notes of C major too; A is held longest.
    const std::vector<float> aMinor = Line({45, 45, 48, 45, 52, 45, 55, 45}, 0.25, kRate);
    const RootEstimate minor = DetectRoot(aMinor, kRate, true);
    EXPECT_TRUE(minor.sure);
    EXPECT_EQ(minor.rootIndex, 10);  // A
    // A line in D that dwells on the fifth as much as on its root.
    const std::vector<float> d = Line({38, 45, 38, 45, 41, 45, 38, 43}, 0.25, kRate);
    EXPECT_EQ(DetectRoot(d, kRate, true).rootIndex, 3);  // D
    // One note at the highest analysis rate, lowered twice before it is tracked.
    const std::vector<float> shot = Line({40}, 1.0, 2 * kRate);
    const RootEstimate e = DetectRoot(shot, 2 * kRate, false);
    EXPECT_TRUE(e.sure);
    EXPECT_EQ(e.rootIndex, 5);  // E
}
