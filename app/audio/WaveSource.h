#pragma once
// The audio side of the preview, free of any sound system: the samples of a
// WAVE file (WaveSamples.h), turned into what an output device takes (its
// channel count, rate and sample format).

#include "WaveSamples.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velorizer {

// Maps interleaved frames to another channel count and, by linear
// interpolation, to another rate. Fed in pieces of any size, it gives the same
// frames as when fed all at once.
class FrameConverter {
public:
    FrameConverter(int inChannels, int inRate, int outChannels, int outRate);
    // Appends to out the output frames that `frames` more input frames make ready.
    void Push(const float* in, int64_t frames, std::vector<float>& out);
    // The input has ended: appends the remaining output frames.
    void Finish(std::vector<float>& out);
    bool Passthrough() const { return inChannels_ == outChannels_ && inRate_ == outRate_; }

private:
    void MapChannels(const float* in, float* out) const;
    void Emit(bool final, std::vector<float>& out);

    int inChannels_, inRate_, outChannels_, outRate_;
    std::vector<float> held_;  // channel-mapped input frames from heldStart_ on
    int64_t heldStart_ = 0;
    int64_t inTotal_ = 0;  // input frames pushed so far
    int64_t outNext_ = 0;  // index of the next output frame
};

// The sample formats a sound output takes.
enum class OutputSample { UInt8, Int16, Int32, Float };

struct OutputFormat {
    int channels = 0;
    int sampleRate = 0;
    OutputSample sample = OutputSample::Int16;
    int BytesPerSample() const;
    bool operator==(const OutputFormat&) const = default;
};

// The format to open the output in: the file's own channels and rate in the
// sample format closest to the file's when the device takes that; otherwise the
// device's preferred channel count or rate. False when the device takes none.
bool ChooseOutputFormat(const WaveSourceFormat& source, const OutputFormat& preferred,
                        const std::function<bool(const OutputFormat&)>& supported, OutputFormat* chosen);

// Writes `count` float samples as `sample`, clipped to its range.
void EncodeSamples(const float* in, int64_t count, OutputSample sample, unsigned char* out);

}  // namespace velorizer
