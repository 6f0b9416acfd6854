#pragma once
// The texts velorize writes: file names made safe for a terminal, and the
// sentence that tells an acid chunk's fields.

#include "clsAcidSettings.h"

#include <string>

namespace velorizer::cli {

// Text for a terminal or a line of output. Control characters, the characters
// that break or reorder lines, and bytes that are not UTF-8 are written as
// escapes, so that a file name can neither erase nor forge lines; a backslash
// is doubled, so that an escape can't be forged either.
std::string Escaped(const std::string& text);

// One line on standard error, in one write.
void Say(const std::string& text);

// What the loop type (mode) of an acid chunk means: "one-shot", "loop",
// "disk-based" or "disk-based, no tempo".
const char* KindName(int32_t mode);

// An acid chunk's fields in a sentence: "type loop (mode 22), root note C
// (MIDI 60), 8 beats, meter 4/4, tempo 240 bpm".
std::string Describe(const clsAcidSettings::Body& body);

}  // namespace velorizer::cli
