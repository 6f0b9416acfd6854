#include "AudioFacts.h"

#include "WaveSamples.h"

#include <cmath>

namespace velorizer {

namespace {
// A root note is heard in the first twenty minutes; a long file's memory stays bounded.
constexpr double kLongestListenSeconds = 20 * 60;
}  // namespace

AudioFacts ListenTo(const std::string& path, const Inspection& file, bool beats, bool root, bool isLoop) {
    AudioFacts facts;
    // A loop too long for its beats to be found is refused by DetectBeats, by its length.
    const auto frames = static_cast<int64_t>(kLongestListenSeconds * file.format.samplesPerSec);
    AnalysisAudio audio;
    if (!ReadAnalysisAudio(path, frames, audio, &facts.unreadable)) return facts;
    if (audio.samples.empty() && file.frames > 0) {
        facts.unreadable = "its audio chunk holds no whole frame";
        return facts;
    }
    if (beats)
        facts.beats = DetectBeats(audio.samples, audio.sampleRate, static_cast<double>(file.frames) / audio.factor);
    if (root) facts.root = DetectRoot(audio.samples, audio.sampleRate, isLoop);
    return facts;
}

bool TemposAgree(double a, double b, double share) {
    if (!(a > 0 && b > 0)) return false;
    double octaves = std::log2(a / b);
    octaves -= std::round(octaves);
    return std::fabs(std::exp2(octaves) - 1) <= share;
}

}  // namespace velorizer
