#pragma once
// The root note of a sample, found in its audio: a pitch track (aubio's
// YIN), each frame weighed by how sure the tracker is and how loud the
// frame is, and the pitch class that holds the most of that weight. For a
// loop the classes are then matched against the major and minor keys, and
// the key's tonic is the root note, as a name's key gives it (A minor: A).

#include <string>
#include <vector>

namespace velorizer {

// Below this share of the weight the root note is not trusted.
constexpr double kRootSureConfidence = 0.40;

struct RootEstimate {
    int rootIndex = 0;      // 1..12 for C..B; 0 when nothing pitched was heard
    double confidence = 0;  // the share of the pitched weight behind it, 0 to 1
    bool sure = false;      // confidence >= kRootSureConfidence and pitched enough
};

// `samples`: one channel at `rate` samples a second. Safe to call from
// several threads at once.
RootEstimate DetectRoot(const std::vector<float>& samples, double rate, bool isLoop);

}  // namespace velorizer
