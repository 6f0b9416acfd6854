#include "Texts.h"

#include "PerFile.h"
#include "WriteAll.h"

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <unistd.h>

namespace velorizer::cli {

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
        else if ((cp >= 0x80 && cp < 0xA0) || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
                 (cp >= 0x2066 && cp <= 0x2069)) {
            out += {'\\', 'u', kHex[cp >> 12 & 15], kHex[cp >> 8 & 15], kHex[cp >> 4 & 15], kHex[cp & 15]};
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out;
}

void Say(const std::string& text) {
    // One write a line: lines of files tagged at once never run into each other.
    static std::mutex mutex;
    const std::string line = Escaped(text) + "\n";
    const std::lock_guard<std::mutex> lock(mutex);
    std::cerr.flush();
    (void)WriteAll(STDERR_FILENO, line);
}

const char* KindName(int32_t mode) {
    if (mode & kFlagDiskBased) return (mode & kFlagOneShot) ? "disk-based, no tempo" : "disk-based";
    return (mode & kFlagOneShot) ? "one-shot" : "loop";
}

std::string Describe(const clsAcidSettings::Body& body) {
    const clsAcidSettings s = clsAcidSettings::FromBody(body);
    const int32_t mode = s.Mode();
    std::string text = std::string("type ") + KindName(mode) + " (mode " + std::to_string(mode) + ")";
    if (mode & kFlagRootNote) {
        const int midi = s.MidiBase();
        text += ", root note " + std::string(NoteName(midi)) + " (MIDI " + std::to_string(midi) + ")";
    } else {
        text += ", no root note";
    }
    text += ", " + std::to_string(s.LoopBeats()) + " beats, meter " + std::to_string(s.Numerator()) + "/" +
            std::to_string(s.Denominator()) + ", tempo " + ShortestText(s.Tempo()) + " bpm";
    return text;
}

}  // namespace velorizer::cli
