#pragma once
// The tempo and the key that sample packs write into their file names
// ("Funk_Break_96bpm_Am.wav"). Only the file's own name is read, not its
// folders; a trailing ".wav" is ignored.

#include <optional>
#include <string>
#include <vector>

namespace velorizer {

// Tempo marks: a number of 2 or 3 digits (a decimal fraction allowed) joined to
// "bpm", in any case, directly or by one space, "_" or "-", before or after it:
// "96bpm", "96 BPM", "96_bpm", "bpm96", "BPM-92.5"; 30 to 300 bpm. Several
// marks must agree. Without a mark, a bare number counts only where it can be
// nothing else: a whole word of 2 or 3 digits without a leading zero, 60 to
// 200, not after a word that numbers or names things ("Vol", "Part", "Take",
// "TR", ...) and not before a unit ("Hz", "bit", "cents", ...), and the only
// such number in the name. No tempo, or marks that disagree: nothing.
std::optional<double> TempoFromName(const std::string& path);

// Keys are read only from words that stand alone between separators (anything
// but a letter, a digit or "#"): a capital note letter A to G, an optional
// sharp "#" or flat "b", then nothing, "m", or "min", "minor", "maj", "major"
// in any case ("Am", "C#m", "F#", "Bb", "Cmin", "Gmaj"). A bare letter counts
// only before a word "min", "minor", "maj" or "major" ("C minor") or after the
// word "key" ("Key_C"): alone it is as often a variation ("Fill_A"). The root
// note is the key's tonic, flats written as the panel's sharps (Bb is A#).
struct NameKey {
    int rootIndex = 0;              // 1..12 for C..B; 0 when none or ambiguous
    std::vector<std::string> keys;  // the keys found, as written
};
// Two keys with different tonics leave rootIndex 0, with both in `keys`.
NameKey KeyFromName(const std::string& path);

}  // namespace velorizer
