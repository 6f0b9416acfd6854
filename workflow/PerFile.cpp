#include "PerFile.h"

#include "AudioFacts.h"
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

namespace {

// A tempo and the beats it gives, as a message names them: "8 (96 bpm)".
std::string BeatsText(int32_t beats, const Inspection& file) {
    return std::to_string(beats) + " (" + ShortestText(file.LoopTempoFor(beats)) + " bpm)";
}

std::string NameKeyNote(const NameKey& key) {
    if (key.keys.empty()) return "its name gives no key";
    std::string keys;
    for (const std::string& k : key.keys) keys += (keys.empty() ? "" : ", ") + k;
    return "its name gives more than one key (" + keys + ")";
}

void AddNote(FileDecision& d, const std::string& note) { d.note += (d.note.empty() ? "" : "; ") + note; }

// The beats of a loop from its audio: false, with the reason in `d`, when
// they can't be told for sure.
bool BeatsFromAudio(const AudioFacts& heard, const Inspection& file, PanelChoice& choice, FileDecision& d,
                    Provenance& from) {
    from.beatsSource = "audio";
    if (!heard.unreadable.empty()) {
        d = {true, "its audio can't be read: " + heard.unreadable};
        return false;
    }
    const BeatEstimate& e = *heard.beats;
    if (e.beats == 0) {
        d = {true, e.why};
        return false;
    }
    from.beatsConfidence = e.confidence;
    if (e.runnerUp) from.beatsRunnerUp = e.runnerUp;
    if (!e.sure) {
        d = {true, "can't tell its beats: " + BeatsText(e.beats, file) + " or " + BeatsText(e.runnerUp, file)};
        return false;
    }
    choice.beats = e.beats;
    return true;
}

}  // namespace

FileDecision DecideForFile(const std::string& path, const Inspection& file, const PerFileRules& rules,
                           PanelChoice& choice, Provenance* provenance) {
    FileDecision d;
    Provenance own;
    Provenance& from = provenance ? *provenance : own;
    const bool loop = choice.kind == PanelChoice::Loop;
    const bool rootApplies = loop || (choice.kind == PanelChoice::DiskBased && choice.tempoChecked);
    const NameKey key = rules.rootFromName && rootApplies ? KeyFromName(path) : NameKey{};
    const bool rootHeard = rules.rootFromAudio && rootApplies && key.rootIndex == 0;
    // The audio is read once, for all that is asked of it.
    std::optional<AudioFacts> heard;
    const auto listen = [&]() -> const AudioFacts& {
        if (!heard) heard = ListenTo(path, file, rules.loopAtAudio && loop, rootHeard, loop);
        return *heard;
    };

    if (loop) from.beatsSource = "given";
    if (rules.NeedsLength() && loop) {
        std::optional<double> bpm = rules.loopAtBpm;
        if (rules.loopAtName) bpm = TempoFromName(path);
        if (!bpm && !rules.loopAtAudio) return {true, "its name gives no tempo"};
        if (!bpm) {
            if (!BeatsFromAudio(listen(), file, choice, d, from)) return d;
        } else {
            const int32_t beats = BeatsAt(*bpm, file);
            if (beats == 0) return {true, "its length can't be told from its format and audio chunks"};
            const float tempo = file.LoopTempoFor(beats);
            if (std::fabs(tempo - *bpm) > kLoopAtTolerance * *bpm) {
                return {true, "it is no loop at " + ShortestText(*bpm) + " bpm: " + std::to_string(beats) +
                                  (beats == 1 ? " beat" : " beats") + " would make it " + ShortestText(tempo) + " bpm"};
            }
            choice.beats = beats;
            from.beatsSource = rules.loopAtName ? "name" : "tempo";
            // Asked for the name's tempo, else the audio's: the audio checks the name.
            if (rules.loopAtAudio) {
                const AudioFacts& h = listen();
                if (h.unreadable.empty() && h.beats->sure &&
                    !TemposAgree(file.LoopTempoFor(h.beats->beats), *bpm, kNameAndAudioTolerance)) {
                    AddNote(d, "its name says " + ShortestText(*bpm) + " bpm, its audio " +
                                   BeatsText(h.beats->beats, file) + "; the name's tempo is used");
                }
            }
        }
    }
    if ((rules.rootFromName || rules.rootFromAudio) && rootApplies) {
        int& root = loop ? choice.loopRootIndex : choice.diskRootIndex;
        root = key.rootIndex;
        if (root != 0) {
            from.rootSource = "name";
        } else if (!rules.rootFromAudio) {
            AddNote(d, NameKeyNote(key) + ", so it gets no root note");
        } else if (!rootHeard) {
        } else {
            const AudioFacts& h = listen();
            const std::string name = rules.rootFromName ? NameKeyNote(key) + ", and " : "";
            if (!h.unreadable.empty()) {
                AddNote(d, name + "its audio can't be read (" + h.unreadable + "), so it gets no root note");
            } else if (h.root->sure) {
                root = h.root->rootIndex;
                from.rootSource = "audio";
                from.rootConfidence = h.root->confidence;
            } else {
                from.rootConfidence = h.root->confidence;
                AddNote(d, name + "its audio gives no clear root note, so it gets no root note");
            }
        }
    } else if (rootApplies && (loop ? choice.loopRootIndex : choice.diskRootIndex) != 0) {
        from.rootSource = "given";
    }
    return d;
}

}  // namespace velorizer
