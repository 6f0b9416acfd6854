#pragma once
// The number of beats in a loop, found in its audio. A loop of n beats
// repeats its onsets every length ÷ n, and wraps round from its end to its
// start: each candidate count is laid over the onsets of the whole loop as a
// circular grid, and scored by how the grid's beats and half beats meet the
// kicks, snares and hats, with a prior for the tempos and bar lengths loops
// are made in. Most of the doubt is between a tempo and its double: the
// score's terms are the evidence that tells those two apart.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

// Below this share of the belief the best count is not trusted: the loop is
// left alone, with its candidates named, rather than tagged with a guess.
constexpr double kBeatsSureConfidence = 0.65;

struct BeatCandidate {
    int32_t beats = 0;
    double bpm = 0;
    double confidence = 0;  // share of the belief, 0 to 1
};

struct BeatEstimate {
    int32_t beats = 0;      // the best count; 0 when nothing could be told (see why)
    double confidence = 0;  // its share of the belief
    int32_t runnerUp = 0;   // the next best count, 0 when there is none
    double runnerUpConfidence = 0;
    bool sure = false;                      // confidence >= kBeatsSureConfidence
    std::string why;                        // when beats is 0: why no count could be told
    std::vector<BeatCandidate> candidates;  // best first, a handful at most
};

// `samples` is the loop's audio, one channel at `rate` samples a second;
// `loopSamples` its exact length in those samples (the length tagging reads
// from the file, which the samples may fall short of: the rest is silence).
// Safe to call from several threads at once.
BeatEstimate DetectBeats(const std::vector<float>& samples, double rate, double loopSamples);

// The terms each candidate count is scored by, for fitting the score's
// weights and seeing why a loop went wrong (bench_detect prints them).
constexpr size_t kBeatTerms = 22;
struct BeatTerms {
    int32_t beats = 0;
    double bpm = 0;
    double prior = 0;                    // the fixed part: bar lengths and the tempo window
    std::array<double, kBeatTerms> x{};  // weighed by kBeatWeights (a bass line's by kBassLineWeights)
    double score = 0;
};
// `coverage`: the share of the best grid's beats that carry an onset;
// `steady`: the share of the time its notes hold from one window to the next
// (a bass line's, near 1; drums', far less), which picks the weights.
std::vector<BeatTerms> ScoreBeatCounts(const std::vector<float>& samples, double rate, double loopSamples,
                                       double* coverage = nullptr, double* steady = nullptr);

}  // namespace velorizer
