#include "Inspect.h"
#include "TagTestSupport.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

namespace {
const std::string kTitle = "Confirm Velorizing";
}  // namespace

// ---------------------------------------------------------------- real files

struct SoxFormat {
    int rate, channels, bits;
    const char* encoding;
};

class RealFiles : public ::testing::TestWithParam<SoxFormat> {};

TEST_P(RealFiles, AppendOneChunkThatLibsndfileReadsBackWithTheAudioIntact) {
    const auto f = GetParam();
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "loop.wav", f.rate, f.channels, f.bits, f.encoding, 2.0);
    const Bytes before = ReadBytes(path);
    const SndInfo original = ReadWithSndfile(path, true);
    ASSERT_TRUE(original.opened);
    ASSERT_FALSE(original.hasLoop);

    clsAcidSettings s = LoopSettings(8, 1);  // loop, C, 8 beats over two seconds
    RecordingUi ui = Tag(path, s);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].prompt;
    EXPECT_TRUE(ui.questions.empty());

    const Bytes after = ReadBytes(path);
    ASSERT_EQ(after.size(), before.size() + 32);
    EXPECT_TRUE(std::equal(before.begin() + 8, before.end(), after.begin() + 8)) << "nothing but the RIFF size changed";
    EXPECT_EQ(LE32At(after, 4), LE32At(before, 4) + 32);
    const Bytes tail(after.end() - 32, after.end());
    EXPECT_EQ(tail, AcidChunk(s));
    EXPECT_EQ(s.Tempo(), 240.0f) << "8 beats in 2 s";

    const SndInfo tagged = ReadWithSndfile(path, true);
    ASSERT_TRUE(tagged.opened);
    EXPECT_TRUE(tagged.hasLoop);
    EXPECT_EQ(tagged.loopMode, SF_LOOP_FORWARD);
    EXPECT_EQ(tagged.numBeats, 8);
    EXPECT_EQ(tagged.bpm, 240.0f);
    EXPECT_EQ(tagged.rootKey, 60);
    EXPECT_EQ(tagged.sigNum, 4);
    EXPECT_EQ(tagged.sigDen, 4);
    EXPECT_EQ(tagged.frames, original.frames);
    EXPECT_EQ(tagged.samples, original.samples);
}

INSTANTIATE_TEST_SUITE_P(SoxMade, RealFiles,
                         ::testing::Values(SoxFormat{44100, 2, 16, "signed-integer"},
                                           SoxFormat{22050, 1, 8, "unsigned-integer"},
                                           SoxFormat{48000, 2, 24, "signed-integer"},  // extensible
                                           SoxFormat{96000, 1, 32, "signed-integer"},
                                           SoxFormat{44100, 2, 32, "floating-point"},   // 18-byte fmt + fact
                                           SoxFormat{48000, 6, 16, "signed-integer"}),  // 5.1, extensible
                         [](const auto& info) {
                             return std::to_string(info.param.channels) + "ch" + std::to_string(info.param.bits) +
                                    info.param.encoding[0] + std::to_string(info.param.rate);
                         });

TEST(VelorizeFile, TheWorkedExampleGivesExactly120) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "a.wav", 44100, 2, 16, "signed-integer", 2.0);
    clsAcidSettings s = LoopSettings(4, 0);
    Tag(path, s);
    EXPECT_EQ(s.Tempo(), 120.0f);
    EXPECT_EQ(ReadWithSndfile(path).bpm, 120.0f);
    EXPECT_EQ(ReadWithSndfile(path).rootKey, -1) << "no root note chosen";
}

TEST(VelorizeFile, OneShotAndDiskBasedWriteTheirOwnTempoWithoutReadingTheFormat) {
    TempDir dir;
    // A format that would give no tempo at all, and no data chunk.
    const auto path1 = WaveBuilder().Fmt(2, 44100, 12, 16, 1, 0).Write(dir, "odd1.wav");
    const auto path2 = WaveBuilder().Fmt(2, 44100, 12, 16, 1, 0).Write(dir, "odd2.wav");
    clsAcidSettings disk;
    disk.Mode(kModeDiskTempo);
    disk.MidiBase(60);
    disk.Tempo(95.5f);
    EXPECT_TRUE(Tag(path1, disk).messages.empty());
    EXPECT_EQ(disk.Tempo(), 95.5f);
    const Bytes b = ReadBytes(path1);
    EXPECT_EQ(Bytes(b.end() - 4, b.end()), (Bytes{0x00, 0x00, 0xBF, 0x42}));

    clsAcidSettings oneShot;
    Tag(path2, oneShot);
    const Bytes o = ReadBytes(path2);
    EXPECT_EQ(Bytes(o.end() - 24, o.end()),
              (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 4, 0, 4, 0, 0, 0, 0xF0, 0x42}));
}

TEST(VelorizeFile, TempoFromEveryFormatChunkSizeAnd120WhenItCannotBeDerived) {
    TempDir dir;
    struct Case {
        std::string name;
        WaveBuilder wave;
        float tempo;
    };
    // 4 beats over 44,100 frames at 44.1 kHz: 240 bpm.
    std::vector<Case> cases = {
        {"fmt16", WaveBuilder().Fmt(1, 44100, 16).Data(88200), 240.0f},
        {"fmt18", WaveBuilder().Fmt(1, 44100, 16, 18).Data(88200), 240.0f},
        {"fmt40", WaveBuilder().Fmt(1, 44100, 16, 40, 0xFFFE).Data(88200), 240.0f},
        {"padded", WaveBuilder().Fmt(1, 44100, 24, 16, 1, 4).Data(176400), 240.0f},
        {"bits12", WaveBuilder().Fmt(1, 44100, 12, 16, 1, 2).Data(88200), 120.0f},
        {"align0", WaveBuilder().Fmt(1, 44100, 16, 16, 1, 0).Data(88200), 120.0f},
        {"nodata", WaveBuilder().Fmt(1, 44100, 16), 120.0f},
        {"dataFirst", WaveBuilder().Data(88200).Fmt(1, 44100, 16), 120.0f},
        {"emptyData", WaveBuilder().Fmt(1, 44100, 16).Data(0), 120.0f},
        {"fmt14", WaveBuilder().Chunk("fmt ", Bytes(14, 1)).Data(88200), 120.0f},
    };
    for (auto& c : cases) {
        const std::string path = c.wave.Write(dir, c.name + ".wav");
        clsAcidSettings s = LoopSettings(4);
        RecordingUi ui = Tag(path, s);
        EXPECT_TRUE(ui.messages.empty()) << c.name;
        EXPECT_EQ(s.Tempo(), c.tempo) << c.name;
        const Bytes b = ReadBytes(path);
        float written;
        std::memcpy(&written, b.data() + b.size() - 4, 4);
        EXPECT_EQ(written, c.tempo) << c.name;
    }
}

// ----------------------------------------------------------------- re-tagging

TEST(VelorizeFile, ReTaggingAsksAndOverwritesInPlace) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "a.wav", 44100, 2, 16);
    clsAcidSettings first = LoopSettings(4);
    Tag(path, first);
    const Bytes tagged = ReadBytes(path);

    clsAcidSettings second = LoopSettings(2, 3);
    RecordingUi no = Tag(path, second, {kAnswerNo});
    ASSERT_EQ(no.questions.size(), 1u);
    EXPECT_EQ(no.questions[0].title, kTitle);
    EXPECT_EQ(no.questions[0].message, "Are you sure you want to re-Velorize the file '" + path + "'?");
    EXPECT_EQ(ReadBytes(path), tagged);

    RecordingUi yes = Tag(path, second, {kAnswerYes});
    EXPECT_TRUE(yes.messages.empty());
    const Bytes retagged = ReadBytes(path);
    ASSERT_EQ(retagged.size(), tagged.size());
    EXPECT_TRUE(std::equal(tagged.begin(), tagged.end() - 24, retagged.begin()));
    EXPECT_EQ(Bytes(retagged.end() - 32, retagged.end()), AcidChunk(second));
    EXPECT_EQ(ReadWithSndfile(path).numBeats, 2);
    EXPECT_EQ(ReadWithSndfile(path).rootKey, 62);
}

TEST(VelorizeFile, AnAcidChunkAnywhereInTheFormIsFoundInEveryMode) {
    TempDir dir;
    const auto oldContents = clsAcidSettings().Contents();
    const Bytes oldBody(oldContents.begin(), oldContents.end());
    // acid before fmt and data: a loop-mode search that started behind the data
    // chunk would miss it and append a second, contradicting chunk.
    const std::string path = WaveBuilder().Acid(oldBody).Fmt(2, 44100, 16).Data(352800).Write(dir, "a.wav");
    const size_t size = ReadBytes(path).size();
    clsAcidSettings s = LoopSettings(4);
    RecordingUi ui = Tag(path, s, {kAnswerYes});
    EXPECT_EQ(ui.questions.size(), 1u);
    const Bytes after = ReadBytes(path);
    EXPECT_EQ(after.size(), size);
    EXPECT_EQ(Bytes(after.begin() + 12, after.begin() + 44), AcidChunk(s));

    // Two acid chunks: both get the new answer.
    const std::string two = WaveBuilder().Acid(oldBody).Fmt(2, 44100, 16).Data(100).Acid(oldBody).Write(dir, "b.wav");
    clsAcidSettings t = LoopSettings(7);
    Tag(two, t, {kAnswerYes});
    const Bytes b = ReadBytes(two);
    EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 44), AcidChunk(t));
    EXPECT_EQ(Bytes(b.end() - 32, b.end()), AcidChunk(t));
}

TEST(VelorizeFile, YesToAllAndCancelAreRememberedPerQuestion) {
    TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(MakeSoxWave(dir, "f" + std::to_string(i) + ".wav", 8000, 1, 16, "signed-integer", 0.1));
        clsAcidSettings s;
        Tag(files.back(), s);
        ::chmod(files.back().c_str(), 0444);
    }
    clsAcidSettings s = LoopSettings(1);
    int32_t ro = 0, rt = 0;
    // File 0: read-only Yes to All, re-tag Yes.
    RecordingUi a = Tag(files[0], s, {kAnswerYesToAll, kAnswerYes}, &ro, &rt);
    ASSERT_EQ(a.questions.size(), 2u);
    EXPECT_EQ(a.questions[0].message, "Are you sure you want to Velorize the read-only file '" + files[0] + "'?");
    EXPECT_EQ(a.questions[1].message, "Are you sure you want to re-Velorize the file '" + files[0] + "'?");
    EXPECT_EQ(ro, kAnswerYesToAll);
    EXPECT_EQ(rt, 0);
    // File 1: the read-only question is answered already; re-tag is asked: Yes to All.
    RecordingUi b = Tag(files[1], s, {kAnswerYesToAll}, &ro, &rt);
    ASSERT_EQ(b.questions.size(), 1u);
    EXPECT_EQ(b.questions[0].message, "Are you sure you want to re-Velorize the file '" + files[1] + "'?");
    EXPECT_EQ(rt, kAnswerYesToAll);
    // File 2: nothing is asked.
    RecordingUi c = Tag(files[2], s, {}, &ro, &rt);
    EXPECT_TRUE(c.questions.empty());
    for (const auto& f : files) {
        EXPECT_EQ(ReadWithSndfile(f).numBeats, 1) << f;
        EXPECT_EQ(Mode(f), 0444u) << "the read-only permission comes back";
    }

    // Cancel on the read-only question: not opened, remembered as -1.
    int32_t ro2 = 0, rt2 = 0;
    const Bytes before = ReadBytes(files[0]);
    clsAcidSettings other = LoopSettings(9);
    Tag(files[0], other, {kAnswerCancel}, &ro2, &rt2);
    EXPECT_EQ(ro2, kAnswerCancel);
    EXPECT_EQ(ReadBytes(files[0]), before);
    // Cancel on the re-tag question.
    ::chmod(files[1].c_str(), 0644);
    Tag(files[1], other, {kAnswerCancel}, nullptr, &rt2);
    EXPECT_EQ(rt2, kAnswerCancel);
    // A dialog dismissed without an answer (0) is a refusal that stops nothing.
    int32_t rt3 = 0;
    Tag(files[1], other, {0}, nullptr, &rt3);
    EXPECT_EQ(rt3, 0);
    EXPECT_EQ(ReadWithSndfile(files[1]).numBeats, 1);
}

// ------------------------------------------------------------------ read-only

TEST(VelorizeFile, ReadOnlyFilesAskFirstAndKeepTheirPermissions) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "ro.wav", 8000, 1, 16);
    ::chmod(path.c_str(), 0440);
    const Bytes before = ReadBytes(path);
    clsAcidSettings s = LoopSettings(4);

    RecordingUi no = Tag(path, s, {kAnswerNo});
    ASSERT_EQ(no.questions.size(), 1u);
    EXPECT_EQ(no.questions[0].title, kTitle);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(Mode(path), 0440u);

    RecordingUi yes = Tag(path, s, {kAnswerYes});
    EXPECT_TRUE(yes.messages.empty());
    EXPECT_EQ(ReadBytes(path).size(), before.size() + 32);
    EXPECT_EQ(Mode(path), 0440u) << "tagged, and read-only again";

    // Not a WAVE file: the descent fails, and the permission still comes back.
    const std::string text = dir / "notes.wav";
    WriteBytes(text, Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'});
    ::chmod(text.c_str(), 0444);
    RecordingUi bad = Tag(text, s, {kAnswerYes});
    ASSERT_EQ(bad.messages.size(), 1u);
    EXPECT_EQ(bad.messages[0].prompt, "mmioDescend failed on " + text);
    EXPECT_EQ(bad.messages[0].title, "Error");
    EXPECT_EQ(bad.messages[0].style, 16);
    EXPECT_EQ(Mode(text), 0444u);
}

// ------------------------------------------------------- files left unchanged

TEST(VelorizeFile, FilesThatAreNotWholeWaveFormsAreLeftAloneWithAMessage) {
    TempDir dir;
    const Bytes wave = WaveBuilder().Fmt(2, 44100, 16).Data(400).Build();
    struct Case {
        std::string name;
        Bytes bytes;
        std::string reason;
    };
    auto with = [&](std::function<void(Bytes&)> change) {
        Bytes b = wave;
        change(b);
        return b;
    };
    const std::vector<Case> cases = {
        {"junk8", with([](Bytes& b) { b.insert(b.end(), 8, 0x55); }),
         "it holds more bytes than its RIFF header declares"},
        {"stray", with([](Bytes& b) { b.push_back(0); }), "it holds more bytes than its RIFF header declares"},
        {"id3v1", with([](Bytes& b) {
             b.insert(b.end(), {'T', 'A', 'G'});
             b.insert(b.end(), 125, ' ');
         }),
         "it holds more bytes than its RIFF header declares"},
        {"cut", with([](Bytes& b) { b.erase(b.end() - 100, b.end()); }),
         "it holds fewer bytes than its RIFF header declares"},
        {"size0", with([](Bytes& b) { b[4] = b[5] = b[6] = b[7] = 0; }),
         "it holds more bytes than its RIFF header declares"},
        {"sizeMax", with([](Bytes& b) { b[4] = b[5] = b[6] = b[7] = 0xFF; }),
         "it holds fewer bytes than its RIFF header declares"},
        {"overrun", with([](Bytes& b) { b[b.size() - 404 + 1] = 0x02; }),  // data size 400 -> 656
         "its chunks do not end where its RIFF form ends"},
        {"acid20", WaveBuilder().Fmt(2, 44100, 16).Data(40).Acid(Bytes(20, 0)).Build(),
         "its acid chunk is 20 bytes long instead of 24"},
        {"leftover", with([](Bytes& b) {  // 4 bytes inside the form that are no chunk
             b.insert(b.end(), 4, 0);
             b[4] += 4;
         }),
         "its chunks do not end where its RIFF form ends"},
    };
    for (const auto& c : cases) {
        const std::string path = dir / (c.name + ".wav");
        WriteBytes(path, c.bytes);
        clsAcidSettings s = LoopSettings(4);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReasonText(Inspect(path).refusal), c.reason) << "the inspection foresees it";
        ExpectRefused(path, c.bytes, Tag(path, s), c.reason);
    }

    const std::string notWave = dir / "riff-avi.wav";
    Bytes avi = wave;
    avi[8] = 'A', avi[9] = 'V', avi[10] = 'I', avi[11] = ' ';
    WriteBytes(notWave, avi);
    clsAcidSettings s;
    RecordingUi ui = Tag(notWave, s);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "mmioDescend failed on " + notWave);
    EXPECT_EQ(ReadBytes(notWave), avi);

    RecordingUi missing = Tag(dir / "gone.wav", s);
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0].prompt,
              "Velorizer did not change the file '" + (dir / "gone.wav") + "': file not found.");
}

TEST(VelorizeFile, AMissingFinalPadByteIsWrittenAsAZero) {
    TempDir dir;
    // The last chunk has 5 bytes and no pad byte; the RIFF size counts it either way.
    for (int riffCountsPad = 0; riffCountsPad < 2; ++riffCountsPad) {
        Bytes b = WaveBuilder().Fmt(1, 8000, 8).Data(5).Build();
        b.pop_back();  // the pad
        const uint32_t riff = static_cast<uint32_t>(b.size() - 8 + riffCountsPad);
        b[4] = static_cast<uint8_t>(riff);
        const std::string path = dir / ("pad" + std::to_string(riffCountsPad) + ".wav");
        WriteBytes(path, b);
        clsAcidSettings s = LoopSettings(1);
        EXPECT_TRUE(Tag(path, s).messages.empty());
        const Bytes after = ReadBytes(path);
        ASSERT_EQ(after.size(), b.size() + 33);
        EXPECT_TRUE(std::equal(b.begin() + 8, b.end(), after.begin() + 8));
        EXPECT_EQ(after[b.size()], 0);
        EXPECT_EQ(LE32At(after, 4), after.size() - 8);
        const SndInfo info = ReadWithSndfile(path);
        EXPECT_TRUE(info.hasLoop);
        EXPECT_EQ(info.frames, 5);
    }
}

TEST(VelorizeFile, NothingButRegularFilesIsOpenedAndNothingBlocks) {
    TempDir dir;
    const std::string fifo = dir / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string sock = dir / "sock.wav";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::filesystem::create_directory(dir / "folder.wav");

    const auto start = std::chrono::steady_clock::now();
    clsAcidSettings s;
    for (const std::string& p : {fifo, sock, std::string("/dev/null")}) {
        RecordingUi ui = Tag(p, s);
        ASSERT_EQ(ui.messages.size(), 1u) << p;
        EXPECT_EQ(ui.messages[0].prompt, "Velorizer did not change the file '" + p + "': it is not a regular file.");
    }
    RecordingUi folder = Tag(dir / "folder.wav", s);
    ASSERT_EQ(folder.messages.size(), 1u);
    EXPECT_EQ(folder.messages[0].prompt,
              "Velorizer did not change the file '" + (dir / "folder.wav") + "': it is a folder.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ::close(fd);
}
