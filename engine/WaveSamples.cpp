#include "WaveSamples.h"

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

// --- Analysis ---------------------------------------------------------------

bool ReadAnalysisAudio(const std::string& path, int64_t maxFrames, AnalysisAudio& audio, std::string* why) {
    const std::unique_ptr<WaveReader> reader = WaveReader::Open(path, why);
    if (!reader) return false;
    const WaveSourceFormat& f = reader->Format();
    audio.factor = std::max(1, f.sampleRate / kAnalysisRate);
    audio.sampleRate = static_cast<double>(f.sampleRate) / audio.factor;
    const int64_t frames = std::min(reader->FrameCount(), std::max<int64_t>(0, maxFrames));
    audio.samples.clear();
    audio.samples.reserve(static_cast<size_t>(frames / audio.factor + 1));

    constexpr int64_t kBlock = 8192;
    std::vector<float> block(static_cast<size_t>(kBlock * f.channels));
    const float scale = 1.0f / static_cast<float>(f.channels * audio.factor);
    float sum = 0;
    int held = 0;  // input frames in `sum`
    for (int64_t done = 0; done < frames;) {
        const int64_t got = reader->Read(block.data(), std::min(kBlock, frames - done));
        if (got <= 0) break;
        done += got;
        const float* x = block.data();
        for (int64_t i = 0; i < got; ++i) {
            for (int c = 0; c < f.channels; ++c) sum += *x++;
            if (++held == audio.factor) {
                // NaN or infinity from a damaged float file would spread
                // through every measure taken later.
                audio.samples.push_back(std::isfinite(sum) ? sum * scale : 0.0f);
                sum = 0;
                held = 0;
            }
        }
    }
    return true;
}

}  // namespace velorizer
