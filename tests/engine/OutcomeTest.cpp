// One file each way a change can end: the outcome says it, the plan made
// without writing foresees it, and a file left alone keeps every byte.
#include "RemoveAcid.h"
#include "TagTestSupport.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

namespace {

struct Refuser : ChangeRecorder {
    bool Record(const FileChange&, std::string& reason) override { return reason = "the journal is full", false; }
};

// A WAVE form that fills a sparse file of `length` bytes: its data chunk takes
// everything behind the header.
std::string Sparse(const TempDir& dir, int64_t length) {
    const std::string path = dir / "huge.wav";
    Bytes head = WaveBuilder().Fmt(1, 8000, 16).Data(0).Build();
    const auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) head[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(4, static_cast<uint32_t>(length - 8));
    put(head.size() - 4, static_cast<uint32_t>(length - static_cast<int64_t>(head.size())));
    WriteBytes(path, head);
    EXPECT_EQ(::truncate(path.c_str(), length), 0);
    return path;
}

}  // namespace

TEST(Outcome, EachWayAChangeEndsIsToldAsItsOwnOutcomeAndForeseenByThePlan) {
    TempDir dir;
    const auto wave = [&](const std::string& name, const Bytes& bytes) {
        WriteBytes(dir / name, bytes);
        return dir / name;
    };
    const Bytes plain = WaveBuilder().Fmt(1, 8000, 16).Data(800).Build();
    Bytes tagged = plain;
    {
        const std::string t = wave("tagged.wav", plain);
        clsAcidSettings s;
        Tag(t, s);
        tagged = ReadBytes(t);
    }
    WaveBuilder many = WaveBuilder().Fmt(1, 8000, 16);
    for (int i = 0; i < 10001; ++i) many.Chunk("note", {});
    Bytes cut = plain;
    cut.resize(cut.size() - 10);
    Bytes behind = plain;
    behind.insert(behind.end(), {0, 0, 0, 0, 0, 0, 0, 0});
    Bytes off = plain;
    off.insert(off.end(), {0, 0, 0, 0});
    off[4] += 4;
    ::mkfifo((dir / "pipe.wav").c_str(), 0600);
    std::filesystem::create_directory(dir.path() / "folder.wav");
    Refuser journal;

    struct Case {
        std::string name, path;
        Result result;
        Reason reason;
        std::vector<int32_t> answers = {};
        ChangeRecorder* recorder = nullptr;
        FileHooks hooks = {};
    };
    FileHooks rule, taken;
    rule.choose = [](const std::string&, const Inspection&, clsAcidSettings&) {
        return Choice{Verdict::Text(Reason::Rule, "its name gives no tempo"), {}};
    };
    taken.claim = [](uint64_t, uint64_t) { return false; };
    const std::vector<Case> cases = {
        {"written", wave("plain.wav", plain), Result::Written, Reason::None},
        {"declined", wave("no.wav", tagged), Result::Declined, Reason::None, {kAnswerNo}},
        {"cancelled", wave("cancel.wav", tagged), Result::Cancelled, Reason::None, {kAnswerCancel}},
        {"folder", dir / "folder.wav", Result::Refused, Reason::Folder},
        {"fifo", dir / "pipe.wav", Result::Refused, Reason::NotRegular},
        {"not wave", wave("text.wav", Bytes(64, 'x')), Result::Refused, Reason::NotWave},
        {"many chunks", wave("many.wav", many.Build()), Result::Refused, Reason::TooManyChunks},
        {"acid of 20", wave("acid20.wav", WaveBuilder().Fmt(1, 8000, 16).Acid(Bytes(20, 0)).Build()), Result::Refused,
         Reason::OddAcid},
        {"cut short", wave("cut.wav", cut), Result::Refused, Reason::CutShort},
        {"bytes behind", wave("behind.wav", behind), Result::Refused, Reason::BytesBehindForm},
        {"chunks off the form", wave("off.wav", off), Result::Refused, Reason::ChunksOffForm},
        {"4 GiB", Sparse(dir, 0xFFFFFFF0), Result::Refused, Reason::TooLarge},
        {"journal", wave("journal.wav", plain), Result::Refused, Reason::Journal, {}, &journal},
        {"rule", wave("rule.wav", plain), Result::Refused, Reason::Rule, {}, nullptr, rule},
        {"taken already", wave("twice.wav", plain), Result::Unchanged, Reason::SameFile, {}, nullptr, taken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Not a folder, a FIFO or 4 GiB of nothing.
        const bool small = std::filesystem::is_regular_file(c.path) && std::filesystem::file_size(c.path) < 1 << 20;
        const Bytes before = small ? ReadBytes(c.path) : Bytes{};
        clsAcidSettings s = LoopSettings(4);
        const FilePlan plan = PlanTag(c.path, s, c.hooks);
        RecordingUi ui;
        ui.answers.assign(c.answers.begin(), c.answers.end());
        int32_t readOnly = 0, retag = 0;
        const Outcome o = VelorizeFile(c.path, s, readOnly, retag, ui, c.recorder, c.hooks);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.why.reason, c.reason) << ReasonText(o.why);
        EXPECT_EQ(o.path, c.path);
        if (c.result != Result::Refused && c.reason != Reason::SameFile) continue;
        if (small) {
            EXPECT_EQ(ReadBytes(c.path), before) << "left alone";
        }
        // The plan's verdict is the run's, save what only the change itself meets.
        if (c.reason != Reason::Journal) {
            EXPECT_EQ(plan.refusal, o.why);
        }
    }
    // Removing what isn't there writes nothing and says nothing.
    int32_t readOnly = 0;
    RecordingUi ui;
    EXPECT_EQ(RemoveAcidChunks(dir / "plain.wav", readOnly, ui).result, Result::Written);
    EXPECT_EQ(RemoveAcidChunks(dir / "plain.wav", readOnly, ui).result, Result::Unchanged);
    EXPECT_EQ(ReadBytes(dir / "plain.wav"), plain);
}
