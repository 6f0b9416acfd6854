#include "PerFile.h"

#include "NameRules.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace velorizer {

namespace {
template <typename Number> std::string Shortest(Number value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}
}  // namespace

std::string ShortestText(double value) { return Shortest(value); }
std::string ShortestText(float value) { return Shortest(value); }

int32_t BeatsAt(double bpm, const Inspection& file) {
    const double seconds = file.Duration();
    if (seconds <= 0) return 0;
    const double beats = std::round(bpm * seconds / 60.0);
    return static_cast<int32_t>(std::clamp<double>(beats, kMinBeats, kMaxBeats));
}

FileDecision DecideForFile(const std::string& path, const Inspection& file, const PerFileRules& rules,
                           PanelChoice& choice) {
    FileDecision d;
    if (rules.NeedsLength() && choice.kind == PanelChoice::Loop) {
        std::optional<double> bpm = rules.loopAtBpm;
        if (rules.loopAtName && !(bpm = TempoFromName(path))) return {true, "its name gives no tempo"};
        // Tagging would refuse it anyway; the beats would be guessed from nothing.
        if (!file.refusal.empty()) return {true, file.refusal};
        const int32_t beats = BeatsAt(*bpm, file);
        if (beats == 0) return {true, "its length can't be told from its format and audio chunks"};
        const float tempo = file.LoopTempoFor(beats);
        if (std::fabs(tempo - *bpm) > kLoopAtTolerance * *bpm) {
            return {true, "it is no loop at " + ShortestText(*bpm) + " bpm: " + std::to_string(beats) +
                              (beats == 1 ? " beat" : " beats") + " would make it " + ShortestText(tempo) + " bpm"};
        }
        choice.beats = beats;
    }
    const bool rootApplies =
        choice.kind == PanelChoice::Loop || (choice.kind == PanelChoice::DiskBased && choice.tempoChecked);
    if (rules.rootFromName && rootApplies) {
        const NameKey key = KeyFromName(path);
        int& root = choice.kind == PanelChoice::Loop ? choice.loopRootIndex : choice.diskRootIndex;
        root = key.rootIndex;
        if (key.keys.empty()) {
            d.note = "its name gives no key, so it gets no root note";
        } else if (key.rootIndex == 0) {
            std::string keys;
            for (const std::string& k : key.keys) keys += (keys.empty() ? "" : ", ") + k;
            d.note = "its name gives more than one key (" + keys + "), so it gets no root note";
        }
    }
    return d;
}

}  // namespace velorizer
