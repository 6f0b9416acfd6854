#include "JournalRecords.h"

#include <algorithm>
#include <charconv>
#include <zlib.h>

namespace velorizer::journal {

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool FromHex(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

std::string EncodePath(const std::string& path) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7F && c != '%') out += ch;
        else out += {'%', kDigits[c >> 4], kDigits[c & 15]};
    }
    return out;
}

bool DecodePath(std::string_view text, std::string& path) {
    path.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            path += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        path += static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return !path.empty();
}

template <typename T> bool Number(std::string_view text, T& value) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && p == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    for (size_t at = 0; at <= line.size();) {
        const size_t end = std::min(line.find(' ', at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

uint32_t Crc(std::string_view text) {
    return static_cast<uint32_t>(
        ::crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// A change's words from `first` on: path, identity, lengths, tail, patches;
// `modified` says whether the time of the last change comes among them.
bool ParseChangeWords(const std::vector<std::string_view>& w, size_t first, bool modified, FileChange& c) {
    size_t i = first;
    // Path, device, inode, [modified,] the two lengths and the tail at least.
    if (w.size() < first + (modified ? 7 : 6) || !DecodePath(w[i++], c.path) || !Number(w[i++], c.device) ||
        !Number(w[i++], c.inode))
        return false;
    if (modified && !Number(w[i++], c.modifiedNs)) return false;
    if (!Number(w[i++], c.lengthBefore) || !Number(w[i++], c.lengthAfter)) return false;
    if (w[i] != "-" && !FromHex(w[i], c.tail)) return false;
    for (++i; i < w.size(); ++i) {
        const size_t a = w[i].find(':'), b = w[i].rfind(':');
        BytePatch p;
        if (a == std::string_view::npos || a == b || !Number(w[i].substr(0, a), p.offset) ||
            !FromHex(w[i].substr(a + 1, b - a - 1), p.before) || !FromHex(w[i].substr(b + 1), p.after))
            return false;
        c.patches.push_back(std::move(p));
    }
    return true;
}

// Text fit for one line of a terminal.
std::string OneLine(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return s;
}

}  // namespace

std::string Sealed(const std::string& content) {
    char crc[9];
    const uint32_t value = Crc(content);
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) crc[i] = kDigits[(value >> (28 - 4 * i)) & 15];
    crc[8] = '\0';
    return content + " " + crc + "\n";
}

std::string ChangeContent(size_t number, const FileChange& c) {
    std::string line = "change " + std::to_string(number) + " " + EncodePath(c.path) + " " + std::to_string(c.device) +
                       " " + std::to_string(c.inode) + " " + std::to_string(c.modifiedNs) + " " +
                       std::to_string(c.lengthBefore) + " " + std::to_string(c.lengthAfter) + " " +
                       (c.tail.empty() ? "-" : Hex(c.tail));
    for (const BytePatch& p : c.patches)
        line += " " + std::to_string(p.offset) + ":" + Hex(p.before) + ":" + Hex(p.after);
    return line;
}

std::string NoteContent(size_t number, const Outcome& o) {
    return "note " + std::to_string(number) + " " + ResultWord(o.result) + " " + std::to_string(o.lengthAfter) + " " +
           std::to_string(o.modifiedNs);
}

const char* ResultWord(Result result) {
    switch (result) {
        case Result::Written: return "written";
        case Result::Unchanged: return "unchanged";
        case Result::Declined: return "declined";
        case Result::Cancelled: return "cancelled";
        case Result::Refused: return "refused";
        case Result::Failed: return "failed";
        case Result::MayHaveChanged: return "damaged";
        case Result::ChangedMeanwhile: return "changed";
    }
    return "unchanged";
}

bool ResultFromWord(std::string_view word, Result& result) {
    for (const Result r : {Result::Written, Result::Unchanged, Result::Declined, Result::Cancelled, Result::Refused,
                           Result::Failed, Result::MayHaveChanged, Result::ChangedMeanwhile})
        if (word == ResultWord(r)) return result = r, true;
    return false;
}

bool Parse(std::string_view text, Parsed& out) {
    out = Parsed{};
    size_t at = 0, number = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string_view::npos; at = end + 1) {
        std::string_view line = text.substr(at, end - at);
        ++number;
        if (number == 1) {
            if (line == kMagic1) out.version = 1;
            else if (line == kMagic2) out.version = 2;
            else return false;
            continue;
        }
        const auto bad = [&](const char* why) { out.bad.push_back({number, why}); };
        if (out.version == 2) {
            // The checksum first: nothing of a line that fails it is used.
            const size_t blank = line.rfind(' ');
            uint32_t crc = 0;
            const std::string_view sum = blank == std::string_view::npos ? "" : line.substr(blank + 1);
            const auto [p, ec] = std::from_chars(sum.data(), sum.data() + sum.size(), crc, 16);
            if (sum.size() != 8 || ec != std::errc() || p != sum.data() + sum.size() ||
                crc != Crc(line.substr(0, blank))) {
                bad("its checksum is wrong");
                continue;
            }
            line = line.substr(0, blank);
        }
        const std::vector<std::string_view> w = Words(line);
        if (w[0] == "program" && w.size() == 2) {
            out.program = OneLine(w[1]);
        } else if (w[0] == "started" && w.size() == 2) {
            if (!Number(w[1], out.startedNs)) bad("it doesn't parse");
        } else if (w[0] == "settings") {
            out.settings = OneLine(line.substr(std::min(line.size(), size_t{9})));
        } else if (w[0] == "change") {
            FileChange c;
            size_t n = out.changes.size() + 1;
            const bool parsed = out.version == 1 ? ParseChangeWords(w, 1, false, c)
                                                 : w.size() > 1 && Number(w[1], n) && ParseChangeWords(w, 2, true, c);
            if (!parsed) {
                bad("it doesn't parse");
                continue;
            }
            out.changes.push_back(std::move(c));
            out.numbers.push_back(n);
        } else if (w[0] == "note" && w.size() == 5) {
            size_t n = 0;
            Note note;
            if (!Number(w[1], n) || !ResultFromWord(w[2], note.result) || !Number(w[3], note.lengthAfter) ||
                !Number(w[4], note.modifiedNs))
                bad("it doesn't parse");
            else out.notes[n] = note;
        } else if (w[0] == "finished" && w.size() == 4) {
            out.finished = true;
            out.cancelled = w[3] != "completed";
        } else if (w[0] == "undone") {
            out.undone = true;
        } else {
            bad("it doesn't parse");
        }
    }
    return number > 0;
}

}  // namespace velorizer::journal
