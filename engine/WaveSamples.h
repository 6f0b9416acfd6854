#pragma once
// The samples of a WAVE file as floats, read through the engine's RIFF layer:
// every format tagging accepts (PCM of 8 to 32 bits, float, extensible). The
// preview player streams them; detecting a loop's beats and root note reads
// them whole.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mmio {
class File;
}

namespace velorizer {

// How the samples of a file are stored.
enum class SampleCoding { UInt8, Int16, Int24, Int32, Float32, Float64 };

struct WaveSourceFormat {
    int channels = 0;
    int sampleRate = 0;
    SampleCoding coding = SampleCoding::Int16;
    int bytesPerSample = 0;  // the container: 1, 2, 3, 4 or 8
    int blockAlign = 0;      // bytes of one frame in the file
};

// Streams the "data" chunk of a WAVE file as interleaved floats in [-1, 1).
// The file stays open while the reader lives; only one block is in memory.
class WaveReader {
public:
    // nullptr when the file cannot be played; *why then tells the reason.
    static std::unique_ptr<WaveReader> Open(const std::string& path, std::string* why);
    ~WaveReader();
    WaveReader(const WaveReader&) = delete;
    WaveReader& operator=(const WaveReader&) = delete;

    const WaveSourceFormat& Format() const { return format_; }
    int64_t FrameCount() const { return frames_; }
    // Reads up to `frames` frames into out (frames * channels floats). Returns
    // the frames read: 0 at the end, or when the file can no longer be read.
    int64_t Read(float* out, int64_t frames);

private:
    WaveReader(std::unique_ptr<mmio::File> file, const WaveSourceFormat& format, int64_t dataOffset, int64_t frames);

    std::unique_ptr<mmio::File> file_;
    WaveSourceFormat format_;
    int64_t frames_ = 0;
    int64_t next_ = 0;  // next frame to read
    std::vector<unsigned char> raw_;
};

// A file's audio for analysis: its channels mixed into one and its rate
// lowered by a whole factor (each output sample the mean of that many input
// samples) to between kAnalysisRate and twice that. Low enough that analysing
// costs little, high enough for the pitch of a bass note, the tonic of a key
// and the attack of a drum hit.
constexpr int kAnalysisRate = 11025;

struct AnalysisAudio {
    std::vector<float> samples;
    double sampleRate = 0;  // the file's rate divided by the factor
    int factor = 1;         // file frames to one sample
};

// Reads at most `maxFrames` frames of the file's audio from its start. False,
// with the reason in *why, when the file's samples can't be decoded.
bool ReadAnalysisAudio(const std::string& path, int64_t maxFrames, AnalysisAudio& audio, std::string* why);

}  // namespace velorizer
