// The tagger under conditions no ordinary file gives: a disk that refuses the
// write, gigabyte files, a file swapped while a question waits, an append cut
// short, and files made to be expensive.
#include "TagTestSupport.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

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
        ui.ShowOutcome(VelorizeFile(path, s, a, b, ui));
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
        EXPECT_EQ(messages[1], "Velorizer did not change the file '" + path + "': file too large.|Error");
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
        // The bytes read say it; the clock only catches a pathological case,
        // with room for a loaded machine.
        EXPECT_LT(took, std::chrono::seconds(2));
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
            ui.ShowOutcome(VelorizeFile(path, s, ro, rt, ui));
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
