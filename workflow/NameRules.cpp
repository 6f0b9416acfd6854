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

// `word` as written: "ms", "s" and "st" are units only in lower case ("MS",
// "ST" and "S" name mid-side, stereo and a variation), and "Db" is the key,
// not a decibel.
bool IsUnit(const std::string& word) {
    if (OneOf(word, {"ms", "s", "st"})) return true;
    if (word == "Db") return false;
    return OneOf(LowerCase(word), {"hz", "khz", "k", "bit", "bits", "kbps", "sec", "db", "x", "bar", "bars", "beats",
                                   "cents", "ct", "pct", "percent"});
}

// A bare number 2 or 3 digits before the point, a decimal fraction allowed: 87.5 is 87.5, never 87.
std::optional<double> BareNumber(const std::string& w) {
    const size_t point = w.find('.');
    const size_t whole = point == std::string::npos ? w.size() : point;
    if (whole < 2 || whole > 3 || w[0] == '0') return std::nullopt;
    if (!std::all_of(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(whole), IsDigit)) return std::nullopt;
    if (point != std::string::npos &&
        (point + 1 == w.size() || !std::all_of(w.begin() + static_cast<std::ptrdiff_t>(point) + 1, w.end(), IsDigit)))
        return std::nullopt;
    double value = 0;
    std::from_chars(w.data(), w.data() + w.size(), value);  // not the locale's decimal point
    return value;
}

std::optional<double> BareTempo(std::string_view name) {
    const std::vector<std::string> words = Words(name, ".");
    std::optional<double> found;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::optional<double> value = BareNumber(words[i]);
        if (!value || *value < kMinBare || *value > kMaxBare) continue;
        if ((i > 0 && NumbersThings(LowerCase(words[i - 1]))) || (i + 1 < words.size() && IsUnit(words[i + 1])))
            continue;
        if (found && *found != *value) return std::nullopt;
        found = value;
    }
    return found;
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
    std::string rest = word.substr(i);
    if (const std::string low = LowerCase(rest); low.starts_with("sharp") || low.starts_with("flat")) {
        pitch += low[0] == 's' ? 1 : -1;
        rest = rest.substr(low[0] == 's' ? 5 : 4);
        ++i;
    } else if (i < word.size() && (word[i] == '#' || word[i] == 'b')) {
        pitch += word[i++] == '#' ? 1 : -1;
        rest = word.substr(i);
    }
    if (!rest.empty() && rest != "m" && !OneOf(LowerCase(rest), {"min", "minor", "maj", "major"})) return k;
    k.pitch = (pitch + 12) % 12;
    k.bare = i == 1 && rest.empty();
    return k;
}

bool IsMode(const std::string& word) { return OneOf(LowerCase(word), {"min", "minor", "maj", "major"}); }
bool IsAccidental(const std::string& word) { return OneOf(LowerCase(word), {"sharp", "flat"}); }

// "Am" that is English, not A minor: "I Am", "Who Am I", "6 Am" (a time of day).
bool EnglishAm(const std::vector<std::string>& words, size_t i) {
    if (words[i] != "Am") return false;
    if (i + 1 < words.size() && words[i + 1] == "I") return true;
    if (i == 0) return false;
    const std::string before = LowerCase(words[i - 1]);
    if (OneOf(before, {"i", "who", "what", "where", "how", "why", "when", "here", "there", "still"})) return true;
    int hour = 0;
    const auto [end, ec] = std::from_chars(before.data(), before.data() + before.size(), hour);
    return ec == std::errc() && end == before.data() + before.size() && hour >= 1 && hour <= 12;
}

// Whether the word is a tempo: a bpm mark ("110bpm") or a bare number that
// the name's tempo is.
bool IsTempoWord(const std::string& word, const std::optional<double>& tempo) {
    if (!tempo) return false;
    const std::string low = LowerCase(word);
    if (low.ends_with("bpm") || low.starts_with("bpm")) return true;
    const std::optional<double> bare = BareNumber(word);
    return bare && *bare == *tempo;
}

// A tempo range ("100-110bpm") before the "bpm" at s[at]: no one tempo.
bool RangeBefore(const std::string& s, size_t at) {
    size_t i = at;
    if (i > 0 && IsJoiner(s[i - 1])) --i;
    while (i > 0 && (IsDigit(s[i - 1]) || s[i - 1] == '.')) --i;
    return i >= 2 && s[i - 1] == '-' && IsDigit(s[i - 2]);
}

}  // namespace

std::optional<double> TempoFromName(const std::string& path) {
    const std::string_view name = FileName(path);
    const std::string s = LowerCase(name);
    std::optional<double> marked;
    for (size_t at = s.find("bpm"); at != std::string::npos; at = s.find("bpm", at + 3)) {
        if (at > 0 && IsLetter(s[at - 1])) continue;
        if (RangeBefore(s, at)) return std::nullopt;
        const std::optional<double> bpm = MarkedTempo(s, at);
        if (!bpm || *bpm < kMinMarked || *bpm > kMaxMarked) continue;
        if (marked && *marked != *bpm) return std::nullopt;
        marked = bpm;
    }
    return marked ? marked : BareTempo(name);
}

NameKey KeyFromName(const std::string& path) {
    const std::vector<std::string> words = Words(FileName(path), "#.");
    const std::optional<double> tempo = TempoFromName(path);
    NameKey key;
    int pitch = -1;
    bool conflict = false;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        size_t last = i;
        // A spelled accidental as a word of its own: "F sharp minor".
        if (word.size() == 1 && last + 1 < words.size() && IsAccidental(words[last + 1])) word += words[++last];
        KeyWord k = ParseKey(word);
        if (k.pitch < 0 || EnglishAm(words, i)) continue;
        if (last > i) k.bare = false;
        const bool modeNext = last + 1 < words.size() && IsMode(words[last + 1]);
        const std::string before = i > 0 ? LowerCase(words[i - 1]) : "";
        // A lone letter counts after "Key", "Key of" and right after the tempo.
        const bool afterKey = before == "key" || (before == "of" && i > 1 && LowerCase(words[i - 2]) == "key");
        const bool afterTempo = i > 0 && IsTempoWord(words[i - 1], tempo);
        if (k.bare && !modeNext && !afterKey && !afterTempo) continue;
        if (modeNext) ++last;
        std::string written = words[i];
        for (size_t j = i + 1; j <= last; ++j) written += " " + words[j];
        key.keys.push_back(written);
        if (pitch >= 0 && pitch != k.pitch) conflict = true;
        pitch = k.pitch;
        i = last;
    }
    if (pitch >= 0 && !conflict) key.rootIndex = pitch + 1;
    return key;
}

}  // namespace velorizer
