#pragma once
// Loop properties chosen anew for each file of a run: the beat count that
// makes a loop closest to a tempo (given, or read from the file's name) and
// the root note read from the file's name.

#include "BatchRun.h"
#include "Inspect.h"
#include "PanelChoice.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velorizer {

// A loop differs from the tempo it is tagged at by this share at most.
constexpr double kLoopAtTolerance = 0.02;
constexpr int32_t kMinBeats = 1, kMaxBeats = 10000;
// A name's tempo and the audio's differ by more than this share (double and
// half tempo aside): a message says so.
constexpr double kNameAndAudioTolerance = 0.04;

struct PerFileRules {
    std::optional<double> loopAtBpm;  // a loop's beats from this tempo
    bool loopAtName = false;          // ... or from the tempo in the file's name
    bool loopAtAudio = false;         // ... or found in its audio (with loopAtName: when the name has none)
    bool rootFromName = false;        // the root note from the file's name
    bool rootFromAudio = false;       // ... or found in its audio (with rootFromName: when the name has none)

    bool Any() const { return loopAtBpm || loopAtName || loopAtAudio || rootFromName || rootFromAudio; }
    // Whether deciding needs the file's length.
    bool NeedsLength() const { return loopAtBpm || loopAtName || loopAtAudio; }
    // Whether deciding needs the file's inspection.
    bool NeedsInspection() const { return NeedsLength() || rootFromAudio; }
};

// Where a file's beats and root note came from, and how sure the audio was of
// those it gave: what --dry-run tells beside what it would write.
struct Provenance {
    std::string beatsSource;  // "given", "tempo", "name" or "audio"; empty when no loop
    std::optional<double> beatsConfidence;
    std::optional<int32_t> beatsRunnerUp;
    std::string rootSource;  // "given", "name" or "audio"; empty when none
    std::optional<double> rootConfidence;
};

// The whole number of beats, 1 to 10,000, nearest to `bpm` over the file's
// length; 0 when its length is unknown.
int32_t BeatsAt(double bpm, const Inspection& file);

// Adjusts `choice` to the file at `path`, whose look found `file`, a file
// tagging would accept. A file is left alone when its tempo can't be had or it
// is no loop at that tempo; the note says why, or which root note its name
// could not give. Safe to call for several files at once. `provenance`, when
// given, is told where the beats and root note came from.
FileDecision DecideForFile(const std::string& path, const Inspection& file, const PerFileRules& rules,
                           PanelChoice& choice, Provenance* provenance = nullptr);

// A number as the shortest text that reads back as the same number: what a
// file holds, neither rounded nor padded.
std::string ShortestText(double value);
std::string ShortestText(float value);

}  // namespace velorizer
