#pragma once
// What a file's audio tells a run that asks it: the loop's number of beats
// and the root note, read once per file through the engine's RIFF reader.

#include "BeatDetect.h"
#include "Inspect.h"
#include "RootDetect.h"

#include <optional>
#include <string>

namespace velorizer {

struct AudioFacts {
    std::string unreadable;             // why the samples can't be decoded; empty when they can
    std::optional<BeatEstimate> beats;  // when asked for
    std::optional<RootEstimate> root;   // when asked for
};

// Reads the audio of the file at `path`, whose inspection is `file`, and
// finds the beats of a loop as long as tagging reads it (`beats`) and the
// root note (`root`: a loop's from its key when `isLoop`, else from its
// pitch). Safe to call for several files at once.
AudioFacts ListenTo(const std::string& path, const Inspection& file, bool beats, bool root, bool isLoop);

// Whether two tempos agree within `share`, counting double and half tempo as
// the same.
bool TemposAgree(double a, double b, double share);

}  // namespace velorizer
