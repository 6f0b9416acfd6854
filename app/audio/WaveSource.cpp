#include "WaveSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velorizer {

// --- FrameConverter ---------------------------------------------------------

FrameConverter::FrameConverter(int inChannels, int inRate, int outChannels, int outRate)
    : inChannels_(inChannels), inRate_(inRate), outChannels_(outChannels), outRate_(outRate) {}

void FrameConverter::MapChannels(const float* in, float* out) const {
    if (inChannels_ == outChannels_) {
        std::copy(in, in + inChannels_, out);
    } else if (outChannels_ == 1) {
        float sum = 0;
        for (int c = 0; c < inChannels_; ++c) sum += in[c];
        out[0] = sum / static_cast<float>(inChannels_);
    } else if (inChannels_ == 1) {
        std::fill(out, out + outChannels_, in[0]);
    } else if (inChannels_ < outChannels_) {
        std::copy(in, in + inChannels_, out);
        std::fill(out + inChannels_, out + outChannels_, 0.0f);
    } else {
        // Each output keeps its own input channel; the channels it lacks go into
        // every output in equal shares, scaled so that a full-scale signal on all
        // inputs stays full scale.
        float extra = 0;
        for (int c = outChannels_; c < inChannels_; ++c) extra += in[c];
        for (int c = 0; c < outChannels_; ++c)
            out[c] = (static_cast<float>(outChannels_) * in[c] + extra) / static_cast<float>(inChannels_);
    }
}

void FrameConverter::Push(const float* in, int64_t frames, std::vector<float>& out) {
    if (frames <= 0) return;
    if (Passthrough()) {
        out.insert(out.end(), in, in + frames * inChannels_);
        return;
    }
    const size_t at = held_.size();
    held_.resize(at + static_cast<size_t>(frames * outChannels_));
    for (int64_t i = 0; i < frames; ++i) MapChannels(in + i * inChannels_, held_.data() + at + i * outChannels_);
    inTotal_ += frames;
    Emit(false, out);
}

void FrameConverter::Finish(std::vector<float>& out) {
    if (!Passthrough()) Emit(true, out);
}

void FrameConverter::Emit(bool final, std::vector<float>& out) {
    // Output frame k sits at input position k * inRate / outRate: between input
    // frames i and i + 1, `frac / outRate` of the way.
    for (;;) {
        const int64_t pos = outNext_ * inRate_;
        const int64_t i = pos / outRate_;
        const int64_t frac = pos % outRate_;
        if (i >= inTotal_) break;
        const bool haveNext = i + 1 < inTotal_;
        if (frac != 0 && !haveNext && !final) break;
        const float* a = held_.data() + (i - heldStart_) * outChannels_;
        if (frac == 0 || !haveNext) {
            out.insert(out.end(), a, a + outChannels_);
        } else {
            const float* b = a + outChannels_;
            const float t = static_cast<float>(frac) / static_cast<float>(outRate_);
            for (int c = 0; c < outChannels_; ++c) out.push_back(a[c] + (b[c] - a[c]) * t);
        }
        ++outNext_;
    }
    // Keep only what the next output frame still needs.
    const int64_t need = std::min(outNext_ * inRate_ / outRate_, inTotal_);
    if (need > heldStart_) {
        held_.erase(held_.begin(), held_.begin() + (need - heldStart_) * outChannels_);
        heldStart_ = need;
    }
}

// --- Output format ----------------------------------------------------------

int OutputFormat::BytesPerSample() const {
    switch (sample) {
        case OutputSample::UInt8: return 1;
        case OutputSample::Int16: return 2;
        case OutputSample::Int32:
        case OutputSample::Float: return 4;
    }
    return 0;
}

bool ChooseOutputFormat(const WaveSourceFormat& source, const OutputFormat& preferred,
                        const std::function<bool(const OutputFormat&)>& supported, OutputFormat* chosen) {
    auto addUnique = [](std::vector<int>& list, int v) {
        if (v > 0 && std::find(list.begin(), list.end(), v) == list.end()) list.push_back(v);
    };
    std::vector<int> channels, rates;
    addUnique(channels, source.channels);
    addUnique(channels, preferred.channels);
    addUnique(channels, 2);
    addUnique(rates, source.sampleRate);
    addUnique(rates, preferred.sampleRate);
    addUnique(rates, 48000);
    addUnique(rates, 44100);

    // The file's own width first, then whatever keeps the most of it.
    OutputSample own = OutputSample::Float;
    if (source.coding == SampleCoding::UInt8) own = OutputSample::UInt8;
    if (source.coding == SampleCoding::Int16) own = OutputSample::Int16;
    std::vector<OutputSample> samples{own};
    for (OutputSample s : {OutputSample::Float, OutputSample::Int32, OutputSample::Int16, OutputSample::UInt8})
        if (s != own) samples.push_back(s);

    // Converting samples costs nothing audible; resampling and remixing come last.
    for (int ch : channels)
        for (int rate : rates)
            for (OutputSample s : samples) {
                const OutputFormat f{ch, rate, s};
                if (supported(f)) {
                    *chosen = f;
                    return true;
                }
            }
    return false;
}

void EncodeSamples(const float* in, int64_t count, OutputSample sample, unsigned char* out) {
    for (int64_t i = 0; i < count; ++i) {
        // NaN from a damaged float file becomes silence rather than noise.
        const float x = std::isnan(in[i]) ? 0.0f : std::clamp(in[i], -1.0f, 1.0f);
        switch (sample) {
            case OutputSample::UInt8:
                *out++ = static_cast<unsigned char>(std::clamp(std::lrint(x * 128.0f) + 128, 0L, 255L));
                break;
            case OutputSample::Int16: {
                const auto v = static_cast<int16_t>(std::clamp(std::lrint(x * 32768.0f), -32768L, 32767L));
                std::memcpy(out, &v, 2);
                out += 2;
                break;
            }
            case OutputSample::Int32: {
                const auto v = static_cast<int32_t>(
                    std::clamp(std::llrint(static_cast<double>(x) * 2147483648.0), -2147483648LL, 2147483647LL));
                std::memcpy(out, &v, 4);
                out += 4;
                break;
            }
            case OutputSample::Float:
                std::memcpy(out, &x, 4);
                out += 4;
                break;
        }
    }
}

}  // namespace velorizer
