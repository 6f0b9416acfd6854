// Reading WAVE samples and converting them for an output, with no sound system:
// libsndfile is the independent reader of what sox wrote.

#include "TestSupport.h"
#include "WaveSource.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace testsupport;
using namespace velorizer;

namespace {

std::vector<float> ReadAll(WaveReader& r, int64_t block) {
    std::vector<float> all, buf(static_cast<size_t>(block * r.Format().channels));
    while (int64_t n = r.Read(buf.data(), block))
        all.insert(all.end(), buf.begin(), buf.begin() + n * r.Format().channels);
    return all;
}

std::vector<float> Convert(int inCh, int inRate, int outCh, int outRate, const std::vector<float>& in, int64_t piece) {
    FrameConverter conv(inCh, inRate, outCh, outRate);
    std::vector<float> out;
    const auto frames = static_cast<int64_t>(in.size()) / inCh;
    for (int64_t at = 0; at < frames; at += piece) conv.Push(in.data() + at * inCh, std::min(piece, frames - at), out);
    conv.Finish(out);
    return out;
}

}  // namespace

TEST(WaveReader, ReadsWhatLibsndfileReads) {
    TempDir dir;
    const struct {
        int bits, channels;
        const char* encoding;
    } cases[] = {{8, 1, "unsigned-integer"}, {16, 2, "signed-integer"}, {24, 2, "signed-integer"},
                 {32, 1, "signed-integer"},  {32, 2, "floating-point"}, {64, 1, "floating-point"},
                 {16, 6, "signed-integer"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits " + c.encoding + " x" + std::to_string(c.channels));
        const std::string path = MakeSoxWave(dir, "t.wav", 8000, c.channels, c.bits, c.encoding, 0.3);
        std::string why;
        auto reader = WaveReader::Open(path, &why);
        ASSERT_TRUE(reader) << why;
        const SndInfo ref = ReadWithSndfile(path, true);
        ASSERT_EQ(reader->FrameCount(), ref.frames);
        EXPECT_EQ(reader->Format().channels, c.channels);
        EXPECT_EQ(reader->Format().sampleRate, 8000);
        // An odd block size, so that blocks end mid-way through the file.
        const std::vector<float> got = ReadAll(*reader, 333);
        ASSERT_EQ(got.size(), ref.samples.size());
        for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], ref.samples[i], 1e-6) << "sample " << i;
    }
}

TEST(WaveReader, DecodesExtremesPaddingAndShortFiles) {
    TempDir dir;
    // 24-bit mono in 4-byte blocks (one pad byte a frame), data before format.
    WaveBuilder()
        .Chunk("data", {0x00, 0x00, 0x80, 0xEE, 0xFF, 0xFF, 0xFF, 0xEE, 0xFF, 0xFF, 0x7F, 0xEE, 0x00, 0x00, 0x00, 0xEE})
        .Fmt(1, 8000, 24, 16, 1, 4)
        .Write(dir, "s24.wav");
    std::string why;
    auto r = WaveReader::Open(dir / "s24.wav", &why);
    ASSERT_TRUE(r) << why;
    EXPECT_EQ(r->FrameCount(), 4);
    EXPECT_EQ(ReadAll(*r, 3), (std::vector<float>{-1.0f, -1.0f / 8388608, 8388607.0f / 8388608, 0.0f}));

    // 8-bit is unsigned around 128; the data chunk claims 255 bytes but the
    // file ends after 4.
    Bytes u8 = WaveBuilder().Fmt(1, 8000, 8).Chunk("data", {0, 128, 255, 64}).Build();
    u8[40] = 0xFF;
    WriteBytes(dir / "u8.wav", u8);
    r = WaveReader::Open(dir / "u8.wav", &why);
    ASSERT_TRUE(r) << why;
    EXPECT_EQ(r->FrameCount(), 4);
    EXPECT_EQ(ReadAll(*r, 10), (std::vector<float>{-1.0f, 0.0f, 127.0f / 128, -0.5f}));
}

TEST(WaveReader, RefusesWhatItCannotPlayWithTheReason) {
    TempDir dir;
    Bytes extensible(40, 0);  // 24-bit stereo extensible whose sub-format is not PCM or float
    extensible[0] = 0xFE, extensible[1] = 0xFF, extensible[2] = 2, extensible[12] = 6, extensible[14] = 24;
    extensible[24] = 1;  // right tag, but the rest of the GUID is zero
    WaveBuilder().Chunk("fmt ", extensible).Data(600).Write(dir, "ext.wav");
    WaveBuilder().Fmt(2, 44100, 16, 16, 3).Data(400).Write(dir, "float16.wav");
    WaveBuilder().Fmt(0, 44100, 16).Data(400).Write(dir, "nochannels.wav");
    WaveBuilder().Fmt(2, 44100, 16, 16, 1, 2).Data(400).Write(dir, "narrowblock.wav");
    WaveBuilder().Fmt(2, 44100, 16).Write(dir, "nodata.wav");
    WaveBuilder().Data(400).Write(dir, "nofmt.wav");
    Bytes avi = WaveBuilder().Fmt(2, 44100, 16).Data(400).Build();
    std::copy_n("AVI ", 4, avi.begin() + 8);
    WriteBytes(dir / "avi.wav", avi);
    fs::create_directory(dir / "folder.wav");

    const std::pair<std::string, std::string> cases[] = {
        {"ext.wav", "not PCM or float"},        {"float16.wav", "cannot be played"},  {"nochannels.wav", "no channels"},
        {"narrowblock.wav", "block alignment"}, {"nodata.wav", "no data chunk"},      {"nofmt.wav", "no format chunk"},
        {"avi.wav", "not a WAVE file"},         {"folder.wav", "not a regular file"}, {"missing.wav", "No such file"}};
    for (const auto& [name, reason] : cases) {
        std::string why;
        EXPECT_FALSE(WaveReader::Open(dir / name, &why)) << name;
        EXPECT_NE(why.find(reason), std::string::npos) << name << ": " << why;
    }

    // The form must open the file: one behind 100,000 other chunks is not
    // searched for, so refusing costs one read.
    Bytes junk;
    for (int i = 0; i < 100000; ++i) junk.insert(junk.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 0});
    const Bytes wave = WaveBuilder().Fmt(2, 44100, 16).Data(400).Build();
    junk.insert(junk.end(), wave.begin(), wave.end());
    WriteBytes(dir / "late.wav", junk);
    std::string why;
    const int64_t before = BytesReadByThisProcess();
    EXPECT_FALSE(WaveReader::Open(dir / "late.wav", &why));
    EXPECT_LE(BytesReadByThisProcess() - before, 16 * 1024);
    EXPECT_EQ(why, "it is not a WAVE file");
}

TEST(FrameConverter, MixesChannels) {
    // mono to stereo copies, stereo to mono averages
    EXPECT_EQ(Convert(1, 100, 2, 100, {0.5f, -0.25f}, 7), (std::vector<float>{0.5f, 0.5f, -0.25f, -0.25f}));
    EXPECT_EQ(Convert(2, 100, 1, 100, {0.5f, -0.25f, 1.0f, 0.0f}, 7), (std::vector<float>{0.125f, 0.5f}));
    // 5.1 to stereo: full scale everywhere stays full scale; a front channel
    // alone stays on its side
    EXPECT_EQ(Convert(6, 100, 2, 100, {1, 1, 1, 1, 1, 1, 0.75f, 0, 0, 0, 0, 0}, 7),
              (std::vector<float>{1, 1, 0.25f, 0}));
    // stereo to four channels: the extra ones are silent
    EXPECT_EQ(Convert(2, 100, 4, 100, {0.5f, -0.5f}, 7), (std::vector<float>{0.5f, -0.5f, 0, 0}));
}

TEST(FrameConverter, ResamplesLinearlyAndPiecesDoNotMatter) {
    // Doubling the rate puts a midpoint between neighbours and holds the last frame.
    EXPECT_EQ(Convert(1, 22050, 1, 44100, {0, 1, 0.5f}, 2), (std::vector<float>{0, 0.5f, 1, 0.75f, 0.5f, 0.5f}));

    std::vector<float> ramp;
    for (int i = 0; i < 4800 * 2; ++i) ramp.push_back(std::sin(i * 0.01f));
    const auto whole = Convert(2, 48000, 2, 44100, ramp, 100000);
    EXPECT_EQ(whole.size(), 2u * 4410);  // 0.1 s stays 0.1 s
    EXPECT_EQ(Convert(2, 48000, 2, 44100, ramp, 1), whole);
    EXPECT_EQ(Convert(2, 48000, 2, 44100, ramp, 333), whole);
    // Output frame 147 lies exactly on input frame 160 (147 * 48000 / 44100).
    EXPECT_FLOAT_EQ(whole[2 * 147], ramp[2 * 160]);
}

TEST(OutputFormat, KeepsTheFilesFormatWhenTakenAndFallsBackOtherwise) {
    WaveSourceFormat s24{6, 96000, SampleCoding::Int24, 3, 18};
    const OutputFormat preferred{2, 48000, OutputSample::Int16};
    OutputFormat chosen;
    const auto any = [](const OutputFormat&) { return true; };
    ASSERT_TRUE(ChooseOutputFormat(s24, preferred, any, &chosen));
    EXPECT_EQ(chosen, (OutputFormat{6, 96000, OutputSample::Float}));

    WaveSourceFormat u8{1, 8000, SampleCoding::UInt8, 1, 1};
    ASSERT_TRUE(ChooseOutputFormat(u8, preferred, any, &chosen));
    EXPECT_EQ(chosen.sample, OutputSample::UInt8);

    // A device that takes only its own stereo 48 kHz 16-bit.
    const auto onlyPreferred = [&](const OutputFormat& f) { return f == preferred; };
    ASSERT_TRUE(ChooseOutputFormat(s24, preferred, onlyPreferred, &chosen));
    EXPECT_EQ(chosen, preferred);
    const auto none = [](const OutputFormat&) { return false; };
    EXPECT_FALSE(ChooseOutputFormat(s24, preferred, none, &chosen));
}

TEST(EncodeSamples, ClipsAndSilencesNaN) {
    const float in[] = {1.5f, -1.0f, 0.0f, NAN, 0.5f};
    int16_t s16[5];
    EncodeSamples(in, 5, OutputSample::Int16, reinterpret_cast<unsigned char*>(s16));
    EXPECT_EQ(std::vector<int16_t>(s16, s16 + 5), (std::vector<int16_t>{32767, -32768, 0, 0, 16384}));
    unsigned char u8[5];
    EncodeSamples(in, 5, OutputSample::UInt8, u8);
    EXPECT_EQ(std::vector<int>(u8, u8 + 5), (std::vector<int>{255, 0, 128, 128, 192}));
    float f[5];
    EncodeSamples(in, 5, OutputSample::Float, reinterpret_cast<unsigned char*>(f));
    EXPECT_EQ(std::vector<float>(f, f + 5), (std::vector<float>{1.0f, -1.0f, 0.0f, 0.0f, 0.5f}));
}
