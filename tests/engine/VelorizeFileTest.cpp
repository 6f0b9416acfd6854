#include "Inspect.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

namespace {

const std::string kTitle = "Confirm Velorizing";

// A loop of `beats` beats; the root note counts from 1 = C (MIDI 60), 0 is none.
clsAcidSettings LoopSettings(int beats, int root = 1) {
    clsAcidSettings s;
    s.Mode(root > 0 ? kModeLoopRoot : kModeLoop);
    if (root > 0) s.MidiBase(static_cast<int16_t>(59 + root));
    s.LoopBeats(beats);
    return s;
}

Bytes AcidChunk(const clsAcidSettings& s) {
    Bytes b{'a', 'c', 'i', 'd', 24, 0, 0, 0};
    for (auto x : s.Contents()) b.push_back(x);
    return b;
}

// Tags once with the given answers; returns the ui for inspection.
RecordingUi Tag(const std::string& path, clsAcidSettings& s, std::initializer_list<int32_t> answers = {},
                int32_t* ro = nullptr, int32_t* rt = nullptr) {
    RecordingUi ui;
    ui.answers.assign(answers.begin(), answers.end());
    int32_t a = 0, b = 0;
    VelorizeFile(path, s, ro ? *ro : a, rt ? *rt : b, ui);
    return ui;
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// The file was left byte for byte and one message named it.
void ExpectRefused(const std::string& path, const Bytes& before, const RecordingUi& ui, const std::string& reason) {
    EXPECT_EQ(ReadBytes(path), before) << path;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "Velorizer did not change the file '" + path + "': " + reason + ".");
    EXPECT_EQ(ui.messages[0].style, 16);
    EXPECT_EQ(ui.messages[0].title, "Error");
    EXPECT_TRUE(ui.questions.empty());
}

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
                                           SoxFormat{48000, 2, 24, "signed-integer"},   // extensible
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
        {"cut", with([](Bytes& b) { b.erase(b.end() - 100, b.end()); }), "it holds fewer bytes than its RIFF header declares"},
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
        EXPECT_EQ(Inspect(path).refusal, c.reason) << "the inspection foresees it";
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

// ------------------------------------------------------------- failing writes

namespace {
// Tags `path` in a child process whose file size limit is `limit` bytes, and
// returns the messages it showed, one per line.
std::vector<std::string> TagUnderSizeLimit(const std::string& path, off_t limit) {
    const std::string all = RunInChild([&](std::string& out) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        RecordingUi ui;
        clsAcidSettings s = LoopSettings(4);
        int32_t a = 0, b = 0;
        VelorizeFile(path, s, a, b, ui);
        for (const auto& m : ui.messages) out += m.prompt + "|" + m.title + "\n";
    });
    std::vector<std::string> lines;
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
}  // namespace

TEST(VelorizeFile, AnAppendTheDiskRefusesLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.1);
    const Bytes before = ReadBytes(path);
    // Room for nothing, for part of the chunk, for all but its last byte.
    for (off_t extra : {0, 1, 10, 31}) {
        SCOPED_TRACE(extra);
        const auto messages = TagUnderSizeLimit(path, static_cast<off_t>(before.size()) + extra);
        EXPECT_EQ(ReadBytes(path), before);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0], "error!|");
        EXPECT_EQ(messages[1], "Velorizer did not change the file '" + path + "': disk full.|Error");
    }
    // With room for the chunk the same child tags the file.
    EXPECT_TRUE(TagUnderSizeLimit(path, static_cast<off_t>(before.size()) + 32).empty());
    EXPECT_EQ(ReadBytes(path).size(), before.size() + 32);
}

// ---------------------------------------------------------------- big files

TEST(VelorizeFile, TaggingReadsHeadersNotAudioSoAGigabyteCostsNoMore) {
    TempDir dir;
    for (uint32_t dataBytes : {1u << 20, 1u << 30}) {
        // A sparse file: the header says what sox would, the audio is holes.
        const std::string path = dir / ("big" + std::to_string(dataBytes) + ".wav");
        Bytes head = WaveBuilder().Fmt(2, 44100, 16).Data(0).Build();
        head[4 + 0] = 0;  // patched below
        const uint32_t riff = static_cast<uint32_t>(head.size() - 8 + dataBytes);
        for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
        for (int i = 0; i < 4; ++i) head[head.size() - 4 + i] = static_cast<uint8_t>(dataBytes >> (8 * i));
        WriteBytes(path, head);
        std::filesystem::resize_file(path, head.size() + dataBytes);

        clsAcidSettings s = LoopSettings(4);
        const int64_t readBefore = BytesReadByThisProcess();
        const auto start = std::chrono::steady_clock::now();
        RecordingUi ui = Tag(path, s);
        const auto took = std::chrono::steady_clock::now() - start;
        const int64_t read = BytesReadByThisProcess() - readBefore;
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_LE(read, 16 * 1024) << dataBytes << " bytes of audio";
        EXPECT_LT(took, std::chrono::milliseconds(50));
        EXPECT_EQ(std::filesystem::file_size(path), head.size() + dataBytes + 32);
        EXPECT_EQ(s.Tempo(), NearestFloat(4 * 60 * 44100, dataBytes / 4));
    }
}

TEST(VelorizeFile, AFileThatWouldOutgrowTheRiffSizeIsLeftAlone) {
    TempDir dir;
    const std::string path = dir / "huge.wav";
    Bytes head = WaveBuilder().Fmt(1, 8000, 8).Data(0).Build();
    const uint32_t dataBytes = 0xFFFFFFFFu - static_cast<uint32_t>(head.size()) - 16;
    const uint32_t riff = static_cast<uint32_t>(head.size() - 8) + dataBytes + 1;  // with the pad
    for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    for (int i = 0; i < 4; ++i) head[head.size() - 4 + i] = static_cast<uint8_t>(dataBytes >> (8 * i));
    WriteBytes(path, head);
    std::filesystem::resize_file(path, 8 + static_cast<uint64_t>(riff));
    clsAcidSettings s;
    RecordingUi ui = Tag(path, s);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "Velorizer did not change the file '" + path +
                                         "': another chunk would make it larger than a RIFF file can be.");
    EXPECT_EQ(std::filesystem::file_size(path), 8 + static_cast<uint64_t>(riff));
}

// ------------------------------------------------------- hostile conditions

namespace {
// Changes the file system as `swap` says while the first question waits.
struct SwappingUi : RecordingUi {
    std::function<void()> swap;
    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override {
        if (swap) std::exchange(swap, nullptr)();
        return RecordingUi::GetConfirmReadOnly(title, message);
    }
};
}  // namespace

TEST(VelorizeFile, AFileSwappedDuringAQuestionIsLeftAloneAndNoOtherFileChanges) {
    for (const bool retag : {false, true}) {
        for (const std::string how : {"link", "rename", "folder"}) {
            SCOPED_TRACE(how + (retag ? " during the re-tag question" : " during the read-only question"));
            TempDir dir;
            const std::string path = MakeSoxWave(dir, "x.wav", 8000, 1, 16, "signed-integer", 0.1);
            const std::string other = MakeSoxWave(dir, "private.wav", 8000, 1, 16, "signed-integer", 0.2);
            clsAcidSettings s = LoopSettings(4);
            if (retag) Tag(path, s);
            ::chmod(path.c_str(), retag ? 0644 : 0444);
            ::chmod(other.c_str(), 0600);
            const Bytes asked = ReadBytes(path), otherBytes = ReadBytes(other);
            SwappingUi ui;
            ui.answers = {kAnswerYes, kAnswerYes};
            ui.swap = [&] {
                std::filesystem::rename(path, dir / "asked.wav");
                if (how == "link") std::filesystem::create_symlink(other, path);
                if (how == "rename") std::filesystem::rename(other, path);
                if (how == "folder") std::filesystem::create_directory(path);
            };
            int32_t ro = 0, rt = 0;
            VelorizeFile(path, s, ro, rt, ui);
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].prompt,
                      "Velorizer did not change the file '" + path + "': it changed while it was being tagged.");
            EXPECT_EQ(ReadBytes(dir / "asked.wav"), asked);
            EXPECT_EQ(Mode(dir / "asked.wav"), retag ? 0644u : 0444u);
            const std::string now = how == "rename" ? path : other;
            if (how != "folder") {
                EXPECT_EQ(ReadBytes(now), otherBytes);
                EXPECT_EQ(Mode(now), 0600u);
            }
        }
    }
}

TEST(VelorizeFile, AnAppendInterruptedBeforeTheRiffSizeIsCompletedByTheNextRun) {
    TempDir dir;
    const Bytes leftBehind = AcidChunk(LoopSettings(2));
    Bytes odd = WaveBuilder().Fmt(1, 8000, 8).Data(5).Build();
    odd[4] -= 1;  // the RIFF size leaves out the last pad byte, which the append writes first
    const Bytes even = WaveBuilder().Fmt(1, 8000, 8).Data(6).Build();
    for (Bytes bytes : {even, odd}) {
        bytes.insert(bytes.end(), leftBehind.begin(), leftBehind.end());
        const std::string path = dir / "a.wav";
        WriteBytes(path, bytes);
        clsAcidSettings s = LoopSettings(4);
        RecordingUi ui = Tag(path, s, {kAnswerYes});
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(ui.questions.size(), 1u) << "it is tagged already";
        const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
        for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
        const Bytes body = AcidChunk(s);
        std::copy(body.begin() + 8, body.end(), bytes.end() - 24);
        EXPECT_EQ(ReadBytes(path), bytes);
        // One byte more behind it is not what an interrupted run leaves.
        bytes[4] = static_cast<uint8_t>(riff - 32);
        bytes.push_back(0);
        WriteBytes(path, bytes);
        ExpectRefused(path, bytes, Tag(path, s), "it holds more bytes than its RIFF header declares");
    }
}

TEST(VelorizeFile, WhatIsNoWaveFormOrHasTooManyChunksIsRefusedCheaply) {
    TempDir dir;
    const std::string big = dir / "big.wav";
    WriteBytes(big, Bytes{'I', 'D', '3', 4});
    std::filesystem::resize_file(big, uint64_t{1} << 30);
    clsAcidSettings s;
    const int64_t readBefore = BytesReadByThisProcess();
    RecordingUi ui = Tag(big, s);
    EXPECT_LE(BytesReadByThisProcess() - readBefore, 8 * 1024);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "mmioDescend failed on " + big);

    WaveBuilder many;
    many.Fmt(1, 8000, 8).Data(8);
    for (int i = 3; i <= 10000; ++i) many.Acid(Bytes(24, 0));
    const std::string path = many.Write(dir, "many.wav");
    EXPECT_TRUE(Tag(path, s, {kAnswerYes}).messages.empty()) << "10,000 chunks";
    const Bytes tooMany = many.Acid(Bytes(24, 0)).Build();
    WriteBytes(path, tooMany);
    ExpectRefused(path, tooMany, Tag(path, s), "it holds more than 10,000 chunks");
}
