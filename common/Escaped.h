#pragma once
// File names and messages made safe to show, shared by both programs.

#include <string>

namespace velorizer {

// Text for a terminal or a line of output. Control characters, the characters
// that break or reorder lines or hide themselves, and bytes that are not UTF-8 are written as
// escapes, so that a file name can neither erase nor forge lines; a backslash
// is doubled, so that an escape can't be forged either.
std::string Escaped(const std::string& text);

// Characters that are shown as escapes (\u202e, \U000e0001) wherever a name is
// shown: C1 controls, the line and paragraph separators, and every format
// character, invisible as they are and some of them able to reorder the text
// around them (bidirectional controls, U+061C).
bool ShownAsEscape(char32_t cp);

}  // namespace velorizer
