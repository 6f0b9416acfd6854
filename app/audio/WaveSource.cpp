#include "WaveSource.h"

#include "LittleEndian.h"
#include "Mmio.h"
#include "RiffForm.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace velorizer {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

// Bytes 4 to 15 of the sub-format GUID of an extensible format; the first four
// hold the plain format tag.
constexpr unsigned char kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool Fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
}

// A chunk the table lacks: none in the form, or none among as many chunks as are read.
bool Missing(const mmio::FormTable& table, const char* what, std::string* why) {
    return Fail(why, table.tooMany ? "it holds more than 10,000 chunks" : "it has no " + std::string(what) + " chunk");
}

// Reads "fmt " into *format; false (with the reason) when we cannot play it.
bool ReadFormat(mmio::File& file, const mmio::FormTable& table, WaveSourceFormat* format, std::string* why) {
    const int at = table.Find(mmio::StringToFOURCC("fmt "));
    if (at < 0) return Missing(table, "format", why);
    const mmio::ChunkEntry& ck = table.chunks[static_cast<size_t>(at)];
    unsigned char b[40] = {};
    const int64_t want = std::min<int64_t>(ck.size, sizeof b);
    if (ck.size < 16 || mmio::ReadChunkData(file, ck, b, want) != want)
        return Fail(why, "its format chunk is cut short");

    uint32_t tag = le::U16(b);
    const int channels = le::U16(b + 2);
    const uint32_t rate = le::U32(b + 4);
    const int blockAlign = le::U16(b + 12);
    const int bits = le::U16(b + 14);
    if (tag == kTagExtensible) {
        if (want < 40 || std::memcmp(b + 28, kSubFormatTail, sizeof kSubFormatTail) != 0)
            return Fail(why, "its extensible format is not PCM or float");
        tag = le::U32(b + 24);
    }

    WaveSourceFormat f;
    if (tag == kTagPcm && bits >= 1 && bits <= 32) {
        // Samples narrower than their container are left-justified in it, so
        // reading the whole container gives the right value.
        f.bytesPerSample = (bits + 7) / 8;
        static constexpr SampleCoding kByWidth[] = {SampleCoding::UInt8, SampleCoding::Int16, SampleCoding::Int24,
                                                    SampleCoding::Int32};
        f.coding = kByWidth[f.bytesPerSample - 1];
    } else if (tag == kTagFloat && (bits == 32 || bits == 64)) {
        f.bytesPerSample = bits / 8;
        f.coding = bits == 32 ? SampleCoding::Float32 : SampleCoding::Float64;
    } else {
        return Fail(why, "its encoding (format " + std::to_string(tag) + ", " + std::to_string(bits) +
                             " bits) cannot be played");
    }
    if (channels < 1) return Fail(why, "it has no channels");
    if (rate < 1 || rate > 1'000'000) return Fail(why, "its sample rate " + std::to_string(rate) + " is out of range");
    if (blockAlign < channels * f.bytesPerSample) return Fail(why, "its block alignment is too small");
    f.channels = channels;
    f.sampleRate = static_cast<int>(rate);
    f.blockAlign = blockAlign;
    *format = f;
    return true;
}

float Decode(const unsigned char* p, SampleCoding coding) {
    switch (coding) {
        case SampleCoding::UInt8: return (static_cast<int>(p[0]) - 128) / 128.0f;
        case SampleCoding::Int16: return static_cast<int16_t>(le::U16(p)) / 32768.0f;
        case SampleCoding::Int24:
            // Into the top of an int32 so that the sign comes along.
            return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                                        static_cast<uint32_t>(p[2]) << 24) /
                   2147483648.0f;
        case SampleCoding::Int32: return static_cast<float>(static_cast<int32_t>(le::U32(p)) / 2147483648.0);
        case SampleCoding::Float32: return std::bit_cast<float>(le::U32(p));
        case SampleCoding::Float64: return static_cast<float>(std::bit_cast<double>(le::U64(p)));
    }
    return 0.0f;
}

}  // namespace

// --- WaveReader -------------------------------------------------------------

std::unique_ptr<WaveReader> WaveReader::Open(const std::string& path, std::string* why) {
    int err = 0;
    auto file = mmio::File::Open(path, mmio::MMIO_READ, &err);
    if (!file) {
        Fail(why, err == ENOTSUP ? std::string("it is not a regular file") : std::strerror(err));
        return nullptr;
    }
    mmio::FormTable table;
    const int32_t entered = mmio::ReadForm(*file, mmio::StringToFOURCC("WAVE"), table);
    if (entered != mmio::MMSYSERR_NOERROR) {
        Fail(why, entered == mmio::MMIOERR_CANNOTREAD ? std::strerror(file->LastErrno()) : "it is not a WAVE file");
        return nullptr;
    }
    WaveSourceFormat format;
    if (!ReadFormat(*file, table, &format, why)) return nullptr;

    const int at = table.Find(mmio::StringToFOURCC("data"));
    if (at < 0) {
        Missing(table, "data", why);
        return nullptr;
    }
    // A data chunk that claims more than the file holds plays what is there.
    const mmio::ChunkEntry& data = table.chunks[static_cast<size_t>(at)];
    const int64_t bytes = std::min<int64_t>(data.size, std::max<int64_t>(0, file->Size() - data.dataOffset));
    const int64_t frames = bytes / format.blockAlign;
    return std::unique_ptr<WaveReader>(new WaveReader(std::move(file), format, data.dataOffset, frames));
}

WaveReader::WaveReader(std::unique_ptr<mmio::File> file, const WaveSourceFormat& format, int64_t dataOffset,
                       int64_t frames)
    : file_(std::move(file)), format_(format), frames_(frames) {
    file_->Seek(dataOffset, mmio::kSeekSet);
}

WaveReader::~WaveReader() {
    if (file_) file_->Close();
}

int64_t WaveReader::Read(float* out, int64_t frames) {
    const int64_t n = std::min(frames, frames_ - next_);
    if (n <= 0) return 0;
    raw_.resize(static_cast<size_t>(n * format_.blockAlign));
    const int64_t got = file_->Read(raw_.data(), static_cast<int64_t>(raw_.size()));
    const int64_t whole = got > 0 ? got / format_.blockAlign : 0;
    if (whole < n) next_ = frames_;  // the file shrank or failed under us: stop here
    else next_ += whole;
    const unsigned char* frame = raw_.data();
    for (int64_t i = 0; i < whole; ++i, frame += format_.blockAlign) {
        const unsigned char* sample = frame;
        for (int c = 0; c < format_.channels; ++c, sample += format_.bytesPerSample)
            *out++ = Decode(sample, format_.coding);
    }
    return whole;
}

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
