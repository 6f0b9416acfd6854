#include "Wildcard.h"

#include <cstddef>
#include <cstdint>

namespace velorizer {

namespace {

// Reads one character (a UTF-8 sequence, or a single stray byte) at i.
char32_t Next(std::string_view s, size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
    if (i + len > s.size()) len = 1;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) len = 1;
    char32_t c = len == 1 ? b : b & (0x3F >> (len - 1));
    for (size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    // Stray bytes keep an identity of their own, apart from any code point.
    if (len == 1 && b >= 0x80) c = 0x110000 + b;
    i += len;
    return c;
}

char32_t Upper(char32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// Matches one pattern element at p against character c and advances p past it.
// An unclosed list is a literal "[".
bool MatchElement(std::string_view pat, size_t& p, char32_t c) {
    const char first = pat[p];
    if (first == '?') {
        ++p;
        return true;
    }
    if (first == '#') {
        ++p;
        return c >= '0' && c <= '9';
    }
    if (first == '[') {
        size_t q = p + 1;
        const bool negate = q < pat.size() && pat[q] == '!';
        if (negate) ++q;
        bool in = false;
        bool closed = false;
        while (q < pat.size()) {
            if (pat[q] == ']') {
                closed = true;
                ++q;
                break;
            }
            const char32_t lo = Upper(Next(pat, q));
            char32_t hi = lo;
            if (q + 1 < pat.size() && pat[q] == '-' && pat[q + 1] != ']') {
                ++q;
                hi = Upper(Next(pat, q));
            }
            if (c >= lo && c <= hi) in = true;
        }
        if (closed) {
            p = q;
            return in != negate;
        }
    }
    return Upper(Next(pat, p)) == c;
}

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    size_t n = 0, p = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            size_t nn = n, pp = p;
            const char32_t c = Upper(Next(name, nn));
            if (MatchElement(pattern, pp, c)) {
                n = nn;
                p = pp;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        // Let the last star take one more character and try again from there.
        p = starP;
        Next(name, starN);
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace velorizer
