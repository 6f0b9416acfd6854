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

struct PerFileRules {
    std::optional<double> loopAtBpm;  // a loop's beats from this tempo
    bool loopAtName = false;          // ... or from the tempo in the file's name
    bool rootFromName = false;        // the root note from the file's name

    bool Any() const { return loopAtBpm || loopAtName || rootFromName; }
    // Whether deciding needs the file's length.
    bool NeedsLength() const { return loopAtBpm || loopAtName; }
};

// The whole number of beats, 1 to 10,000, nearest to `bpm` over the file's
// length; 0 when its length is unknown.
int32_t BeatsAt(double bpm, const Inspection& file);

// Adjusts `choice` to the file at `path`, whose inspection is `file` (needed
// only when rules.NeedsLength()). A file is left alone when its tempo can't be
// had or it is no loop at that tempo, or it can't be tagged at all; the note
// says why, or which root note its name could not give. Safe to call for
// several files at once.
FileDecision DecideForFile(const std::string& path, const Inspection& file, const PerFileRules& rules,
                           PanelChoice& choice);

// A number as the shortest text that reads back as the same number: what a
// file holds, neither rounded nor padded.
std::string ShortestText(double value);
std::string ShortestText(float value);

}  // namespace velorizer
