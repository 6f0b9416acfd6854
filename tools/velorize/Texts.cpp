#include "Texts.h"

#include "PerFile.h"
#include "WriteAll.h"

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <unistd.h>

namespace velorizer::cli {

void Say(const std::string& text) {
    // One write a line: lines of files tagged at once never run into each other.
    static std::mutex mutex;
    const std::string line = Escaped(text) + "\n";
    const std::lock_guard<std::mutex> lock(mutex);
    std::cerr.flush();
    (void)WriteAll(STDERR_FILENO, line);
}

namespace {
std::string& OutBuffer() {
    static std::string buffer;
    return buffer;
}
}  // namespace

void Out(const std::string& text) {
    static const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    std::string& buffer = OutBuffer();
    buffer += text;
    if (terminal || buffer.size() >= 65536) FlushOut();
}

void FlushOut() {
    std::string& buffer = OutBuffer();
    if (buffer.empty()) return;
    const bool written = WriteAll(STDOUT_FILENO, buffer);
    const int err = errno;
    buffer.clear();
    if (!written) throw OutputFailed{err};
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
