#pragma once
// The texts velorize writes: file names made safe for a terminal, and the
// sentence that tells an acid chunk's fields.

#include "Escaped.h"
#include "clsAcidSettings.h"

#include <string>

namespace velorizer::cli {

// One line on standard error, in one write.
void Say(const std::string& text);

// Standard output that can't be written (a full disk, /dev/full, a pipe closed
// with SIGPIPE ignored): the run stops, and says so.
struct OutputFailed {
    int err = 0;
};
// Text for standard output, buffered (a line at a time on a terminal).
// Throws OutputFailed when standard output refuses it.
void Out(const std::string& text);
// Writes what Out has buffered; throws OutputFailed when that fails.
void FlushOut();

// What the loop type (mode) of an acid chunk means: "one-shot", "loop",
// "disk-based" or "disk-based, no tempo".
const char* KindName(int32_t mode);

// An acid chunk's fields in a sentence: "type loop (mode 22), root note C
// (MIDI 60), 8 beats, meter 4/4, tempo 240 bpm".
std::string Describe(const clsAcidSettings::Body& body);

}  // namespace velorizer::cli
