// The wildcard matcher on arbitrary names and patterns, against a plain
// backtracking reference that works byte by byte on ASCII input.

#include "Wildcard.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

char Up(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Reference: straightforward recursion, ASCII only.
bool Reference(std::string_view n, std::string_view p) {
    if (p.empty()) return n.empty();
    if (p[0] == '*') {
        for (size_t k = 0; k <= n.size(); ++k)
            if (Reference(n.substr(k), p.substr(1))) return true;
        return false;
    }
    if (n.empty()) return false;
    const char c = Up(n[0]);
    if (p[0] == '?') return Reference(n.substr(1), p.substr(1));
    if (p[0] == '#') return std::isdigit(static_cast<unsigned char>(c)) && Reference(n.substr(1), p.substr(1));
    if (p[0] == '[') {
        const size_t close = p.find(']', p.size() > 1 && p[1] == '!' ? 2 : 1);
        if (close != std::string_view::npos) {
            const bool neg = p[1] == '!';
            bool in = false;
            for (size_t q = neg ? 2 : 1; q < close;) {
                const char lo = Up(p[q]);
                char hi = lo;
                if (q + 2 < close + 1 && p[q + 1] == '-' && q + 2 < close) {
                    hi = Up(p[q + 2]);
                    q += 3;
                } else {
                    q += 1;
                }
                if (c >= lo && c <= hi) in = true;
            }
            return in != neg && Reference(n.substr(1), p.substr(close + 1));
        }
    }
    return Up(p[0]) == c && Reference(n.substr(1), p.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t cut = all.find('\n');
    const std::string_view name = all.substr(0, cut);
    const std::string_view pattern = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
    const bool result = velorizer::MatchesWildcard(name, pattern);
    bool ascii = name.size() <= 24 && pattern.size() <= 24;
    for (char c : all) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    // Stars in a row only slow the reference down; they mean one star.
    if (ascii && pattern.find("***") == std::string_view::npos && result != Reference(name, pattern)) std::abort();
    if (velorizer::MatchesWildcard(name, "*") != true) std::abort();
    return 0;
}
