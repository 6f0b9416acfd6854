#include "Escaped.h"

#include <cstdint>
#include <utility>

namespace velorizer {

bool ShownAsEscape(char32_t cp) {
    // Sorted. Unicode's format characters (general category Cf) as of
    // Unicode 15.1, written out rather than asked of a library, so that both
    // programs and every Debian release show the same names alike.
    static constexpr std::pair<char32_t, char32_t> kRanges[] = {
        {0x80, 0x9F},       {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},
        {0x70F, 0x70F},     {0x890, 0x891},     {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F},
        {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
        {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
        {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
    };
    for (const auto& [first, last] : kRanges) {
        if (cp < first) return false;
        if (cp <= last) return true;
    }
    return false;
}

std::string Escaped(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        bool valid = len > 0 && i + len <= text.size();
        for (size_t k = 1; valid && k < len; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            valid = (cont & 0xC0) == 0x80;
            cp = cp << 6 | (cont & 0x3F);
        }
        static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && cp >= kLeast[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            ++i;
            continue;
        }
        if (cp == '\\') out += "\\\\";
        else if (cp == '\n') out += "\\n";
        else if (cp == '\r') out += "\\r";
        else if (cp == '\t') out += "\\t";
        else if (cp < 0x20 || cp == 0x7F) out += {'\\', 'x', kHex[cp >> 4], kHex[cp & 15]};
        else if (ShownAsEscape(cp)) {
            out += cp > 0xFFFF ? "\\U0" : "\\u";
            for (int shift = cp > 0xFFFF ? 24 : 12; shift >= 0; shift -= 4) out += kHex[cp >> shift & 15];
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out;
}

}  // namespace velorizer
