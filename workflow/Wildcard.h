#pragma once
// Matching file names against wildcards: * any run of characters, ? one
// character, # one digit, [list] one character of the list (ranges with a
// hyphen), [!list] one character not in it. Case-insensitive (ASCII letters);
// a UTF-8 sequence counts as one character.

#include <string_view>

namespace velorizer {

bool MatchesWildcard(std::string_view name, std::string_view pattern);

// The files the program tags: names ending in ".wav" in any mix of case.
inline constexpr std::string_view kWaveWildcard = "*.wav";
inline bool EndsWithWav(std::string_view path) { return MatchesWildcard(path, kWaveWildcard); }

}  // namespace velorizer
