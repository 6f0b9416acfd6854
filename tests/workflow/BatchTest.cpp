// The batch run both programs drive, on real files: what its observer hears,
// how each file's outcome is told, and what a Cancel or an earlier run leaves.
#include "BatchRun.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

namespace {

struct Recorder : BatchObserver {
    std::vector<std::string> events;
    void RunStarting(size_t count) override { events.push_back("start " + std::to_string(count)); }
    void BeforeFile(size_t n, const std::string& path) override {
        events.push_back("before " + std::to_string(n) + " " + fs::path(path).filename().string());
    }
    void AfterFile(size_t n, const std::string&, const Outcome& outcome) override {
        const char* name = outcome.Failed()                      ? "failed"
                           : outcome.result == Result::Cancelled ? "cancelled"
                           : outcome.result == Result::Declined  ? "declined"
                                                                 : "done";
        events.push_back("after " + std::to_string(n) + " " + name);
    }
    void RunEnding(const BatchResult& r) override {
        events.push_back("end " + std::to_string(r.visited) + (r.cancelled ? " cancelled" : ""));
    }
};

std::string Tone(const TempDir& dir, const std::string& name) {
    return MakeSoxWave(dir, name, 8000, 1, 16, "signed-integer", 0.1);
}

PanelChoice Loop(int beats) { return {.kind = PanelChoice::Loop, .beats = beats}; }

}  // namespace

TEST(BatchRun, EachFileIsToldAsItWentAndCancelEndsTheRun) {
    TempDir dir;
    const std::string fresh = Tone(dir, "1-fresh.wav"), text = dir / "2-text.wav", tagged = Tone(dir, "3-tagged.wav"),
                      cancelled = Tone(dir, "4-cancel.wav"), never = Tone(dir, "5-never.wav");
    WriteBytes(text, {'h', 'i'});
    RecordingUi ui;
    BatchRun({tagged, cancelled}, PanelChoice{}, ui).Run();  // one-shots: both tagged now
    const Bytes neverBefore = ReadBytes(never);

    ui = RecordingUi{};
    ui.answers = {kAnswerNo, kAnswerCancel};
    Recorder seen;
    const BatchResult r = BatchRun({fresh, text, tagged, cancelled, never}, Loop(2), ui).Run(&seen);
    EXPECT_EQ(seen.events,
              (std::vector<std::string>{"start 5", "before 1 1-fresh.wav", "after 1 done", "before 2 2-text.wav",
                                        "after 2 failed", "before 3 3-tagged.wav", "after 3 declined",
                                        "before 4 4-cancel.wav", "after 4 cancelled", "end 4 cancelled"}));
    EXPECT_EQ(r.visited, 4u);
    EXPECT_EQ(r.failed, 1u);
    EXPECT_TRUE(r.cancelled);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().prompt, "Operation cancelled.");
    EXPECT_EQ(ui.messages.back().style, vbInformation);
    EXPECT_EQ(ReadWithSndfile(fresh).numBeats, 2);
    EXPECT_EQ(ReadBytes(never), neverBefore);
}

TEST(BatchRun, AnswersLastOneRunAndAPresetYesToAllAsksNothing) {
    TempDir dir;
    const std::string a = Tone(dir, "a.wav"), b = Tone(dir, "b.wav");
    for (const auto& f : {a, b}) ::chmod(f.c_str(), 0444);
    RecordingUi ui;
    ui.answers = {kAnswerYesToAll};
    BatchRun run({a, b}, PanelChoice{}, ui);
    EXPECT_FALSE(run.Run().cancelled);
    EXPECT_EQ(ui.questions.size(), 1u) << "Yes to All answers the second file";
    // The same run again starts without answers: the read-only question comes
    // first, then the re-tag question.
    ui.answers = {kAnswerYes, kAnswerCancel};
    EXPECT_TRUE(run.Run().cancelled);
    EXPECT_EQ(ui.questions.size(), 3u);

    RecordingUi preset;
    BatchRun yes({a, b}, Loop(8), preset);
    yes.PresetAnswer(kAnswerYesToAll);
    EXPECT_EQ(yes.Run().visited, 2u);
    EXPECT_TRUE(preset.questions.empty());
    EXPECT_EQ(ReadWithSndfile(b).numBeats, 8);
}

TEST(BatchRun, NoFilesIsSaidAndNothingStarts) {
    RecordingUi ui;
    Recorder seen;
    const BatchResult r = BatchRun({}, PanelChoice{}, ui).Run(&seen);
    EXPECT_TRUE(seen.events.empty());
    EXPECT_EQ(r.visited, 0u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "No files were found in the specified directory.");
}

TEST(BatchRun, AFileListedUnderSeveralNamesIsTaggedOnceUnderTheFirst) {
    TempDir dir;
    const std::string a = Tone(dir, "a.wav");
    const Bytes before = ReadBytes(a);
    std::filesystem::create_symlink(a, dir / "link.wav");
    ASSERT_EQ(::link(a.c_str(), (dir / "hard.wav").c_str()), 0);
    for (const unsigned jobs : {1u, 8u}) {
        WriteBytes(a, before);
        RecordingUi ui;
        BatchRun run({a, dir / "link.wav", a, dir / "hard.wav"}, Loop(2), ui);
        run.Jobs(jobs);
        const BatchResult r = run.Run();
        EXPECT_EQ(r.written, 1u) << jobs;
        EXPECT_EQ(r.unchanged, 3u);
        EXPECT_EQ(r.failed, 0u);
        EXPECT_TRUE(ui.questions.empty()) << "no name asks about a file another name tagged";
        EXPECT_EQ(ReadBytes(a).size(), before.size() + 32);
    }
}
