#include "NameRules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace velorizer {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsJoiner(char c) { return c == ' ' || c == '_' || c == '-'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

// The file's own name, without its folders and a ".wav" ending.
std::string_view FileName(const std::string& path) {
    std::string_view name(path);
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.size() > 4 && LowerCase(name.substr(name.size() - 4)) == ".wav") name.remove_suffix(4);
    return name;
}

// Words of letters, digits and the extra characters in `alsoIn`; anything else separates.
std::vector<std::string> Words(std::string_view name, std::string_view alsoIn) {
    std::vector<std::string> words;
    std::string word;
    for (char c : name) {
        if (IsLetter(c) || IsDigit(c) || alsoIn.find(c) != std::string_view::npos) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// A tempo written as digits[.digits] at s[from, to), 2 or 3 digits before the point.
std::optional<double> Number(const std::string& s, size_t from, size_t to) {
    const std::string_view text(s.data() + from, to - from);
    const size_t point = text.find('.');
    const size_t whole = point == std::string_view::npos ? text.size() : point;
    if (whole < 2 || whole > 3) return std::nullopt;
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);  // not the locale's decimal point
    return value;
}

constexpr double kMinMarked = 30, kMaxMarked = 300;
constexpr int kMinBare = 60, kMaxBare = 200;

// The number joined to the "bpm" at s[at, at + 3), before it or else after it.
std::optional<double> MarkedTempo(const std::string& s, size_t at) {
    size_t end = at;
    if (end > 0 && IsJoiner(s[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && IsDigit(s[begin - 1])) --begin;
    if (begin >= 2 && begin < end && s[begin - 1] == '.' && IsDigit(s[begin - 2])) {
        for (--begin; begin > 0 && IsDigit(s[begin - 1]);) --begin;
    }
    if (begin < end) return Number(s, begin, end);

    begin = at + 3;
    if (begin < s.size() && IsJoiner(s[begin])) ++begin;
    end = begin;
    while (end < s.size() && IsDigit(s[end])) ++end;
    if (end + 1 < s.size() && s[end] == '.' && IsDigit(s[end + 1])) {
        for (++end; end < s.size() && IsDigit(s[end]);) ++end;
    }
    // "bpm96khz" names a sample rate beside a tempo mark, not a tempo.
    if (begin == end || (end < s.size() && IsLetter(s[end]))) return std::nullopt;
    return Number(s, begin, end);
}

bool OneOf(const std::string& word, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

// Words after which a number counts or names something: a volume, a take, a
// drum machine.
bool NumbersThings(const std::string& word) {
    return OneOf(word, {"vol",   "volume",  "v",      "part",  "pt",   "take", "tk",  "no",      "nr",  "num",
                        "track", "trk",     "kit",    "pack",  "disc", "cd",   "ver", "version", "var", "variation",
                        "ep",    "chapter", "preset", "patch", "bank", "mpc",  "tr",  "cr",      "sp",  "rx",
                        "dx",    "jp",      "jx",     "juno",  "sh",   "mc",   "mk",  "op"});
}

bool IsUnit(const std::string& word) {
    return OneOf(word, {"hz", "khz", "k", "bit", "bits", "kbps", "ms", "s", "sec", "db", "x", "bar", "bars", "beats",
                        "st", "cents", "ct", "pct", "percent"});
}

std::optional<double> BareTempo(std::string_view name) {
    const std::vector<std::string> words = Words(LowerCase(name), "");
    std::optional<int> found;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() < 2 || w.size() > 3 || w[0] == '0' || !std::all_of(w.begin(), w.end(), IsDigit)) continue;
        const int value = std::stoi(w);
        if (value < kMinBare || value > kMaxBare) continue;
        if ((i > 0 && NumbersThings(words[i - 1])) || (i + 1 < words.size() && IsUnit(words[i + 1]))) continue;
        if (found && *found != value) return std::nullopt;
        found = value;
    }
    if (!found) return std::nullopt;
    return *found;
}

// The pitch class (C = 0) of a key word, and whether it says more than a bare
// letter (a sharp, a flat or a mode).
struct KeyWord {
    int pitch = -1;
    bool bare = false;
};

KeyWord ParseKey(const std::string& word) {
    static constexpr std::array<int, 7> kPitch = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    KeyWord k;
    if (word.empty() || word[0] < 'A' || word[0] > 'G') return k;
    int pitch = kPitch[static_cast<size_t>(word[0] - 'A')];
    size_t i = 1;
    if (i < word.size() && (word[i] == '#' || word[i] == 'b')) pitch += word[i++] == '#' ? 1 : -1;
    const std::string rest = word.substr(i);
    if (!rest.empty() && rest != "m" && !OneOf(LowerCase(rest), {"min", "minor", "maj", "major"})) return k;
    k.pitch = (pitch + 12) % 12;
    k.bare = i == 1 && rest.empty();
    return k;
}

bool IsMode(const std::string& word) { return OneOf(LowerCase(word), {"min", "minor", "maj", "major"}); }

}  // namespace

std::optional<double> TempoFromName(const std::string& path) {
    const std::string_view name = FileName(path);
    const std::string s = LowerCase(name);
    std::optional<double> marked;
    for (size_t at = s.find("bpm"); at != std::string::npos; at = s.find("bpm", at + 3)) {
        if (at > 0 && IsLetter(s[at - 1])) continue;
        const std::optional<double> bpm = MarkedTempo(s, at);
        if (!bpm || *bpm < kMinMarked || *bpm > kMaxMarked) continue;
        if (marked && *marked != *bpm) return std::nullopt;
        marked = bpm;
    }
    return marked ? marked : BareTempo(name);
}

NameKey KeyFromName(const std::string& path) {
    const std::vector<std::string> words = Words(FileName(path), "#");
    NameKey key;
    int pitch = -1;
    bool conflict = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const KeyWord k = ParseKey(words[i]);
        if (k.pitch < 0) continue;
        const bool modeNext = i + 1 < words.size() && IsMode(words[i + 1]);
        if (k.bare && !modeNext && !(i > 0 && LowerCase(words[i - 1]) == "key")) continue;
        key.keys.push_back(modeNext ? words[i] + " " + words[i + 1] : words[i]);
        if (pitch >= 0 && pitch != k.pitch) conflict = true;
        pitch = k.pitch;
        if (modeNext) ++i;
    }
    if (pitch >= 0 && !conflict) key.rootIndex = pitch + 1;
    return key;
}

}  // namespace velorizer
