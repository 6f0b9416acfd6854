#pragma once
// Shared helpers of the engine tests: scratch folders, real WAVE files made by
// sox or by hand, a user interface that records and answers, and libsndfile as
// the independent reader of what we wrote.

#include "VelorizeUi.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class TempDir {
public:
    TempDir();
    ~TempDir();
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
uint32_t LE32At(const Bytes& b, size_t offset);
// Bytes this process has read so far, by any call.
int64_t BytesReadByThisProcess();

// Runs sox with the given arguments; the test fails when sox does.
void Sox(const std::string& args);
// A sox-made file: `seconds` of a sine tone in the given format.
// encoding: "signed-integer", "unsigned-integer" or "floating-point".
std::string MakeSoxWave(const TempDir& dir, const std::string& name, int rate, int channels, int bits,
                        const std::string& encoding = "signed-integer", double seconds = 1.0);

// A WAVE file built chunk by chunk, for layouts sox never makes.
class WaveBuilder {
public:
    WaveBuilder& Chunk(const std::string& id, const Bytes& body, bool pad = true);
    WaveBuilder& Fmt(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t size = 16, uint16_t tag = 1,
                     int blockAlign = -1);
    WaveBuilder& Data(uint32_t bytes);
    WaveBuilder& Acid(const Bytes& body);
    // RIFF size override (default: everything behind the first 8 bytes).
    WaveBuilder& RiffSize(uint32_t size);
    Bytes Build() const;
    std::string Write(const TempDir& dir, const std::string& name) const;

private:
    Bytes chunks_;
    bool riffSizeSet_ = false;
    uint32_t riffSize_ = 0;
};

struct Message {
    std::string prompt;
    int style;
    std::string title;
};
struct Question {
    std::string title;
    std::string message;
};

// Records every message and question; answers questions from a queue (No when empty).
class RecordingUi : public velorizer::VelorizeUi {
public:
    void MsgBox(const std::string& prompt, int style, const std::string& title) override;
    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override;
    std::deque<int32_t> answers;
    std::vector<Message> messages;
    std::vector<Question> questions;
};

// Runs fn in a forked child and returns the text it put in its string. With
// unprivileged, a child of root first becomes the user nobody (root ignores
// permissions). The child may change what a test process must not (resource
// limits, its user); what it reports comes back through a pipe, which no file
// size limit applies to.
std::string RunInChild(const std::function<void(std::string& out)>& fn, bool unprivileged = false,
                       int* exitStatus = nullptr);

// What libsndfile reads from a file.
struct SndInfo {
    bool opened = false;
    int64_t frames = 0;
    int samplerate = 0;
    int channels = 0;
    bool hasLoop = false;
    int loopMode = 0;
    int numBeats = 0;
    float bpm = 0;
    int rootKey = 0;
    int sigNum = 0;
    int sigDen = 0;
    std::vector<double> samples;  // the whole audio, when asked for
};
SndInfo ReadWithSndfile(const std::string& path, bool readAudio = false);

}  // namespace testsupport
