// What the engine tells a change recorder, and how a recorded change is taken
// back: told before the first byte is written, exact (the record applied to
// the file as it was gives the file as it is), and reverted to the byte from
// every state a kill of the change, or of an earlier revert, can leave.

#include "Inspect.h"
#include "RemoveAcid.h"
#include "RevertChange.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testsupport;
using namespace velorizer;

namespace {

struct Keeper : ChangeRecorder {
    std::vector<FileChange> changes;
    std::vector<Bytes> seen;  // the file as it was when told
    bool fail = false;
    bool Record(const FileChange& c, std::string& reason) override {
        seen.push_back(ReadBytes(c.path));
        if (fail) reason = "the journal is full";
        else changes.push_back(c);
        return !fail;
    }
};

// The file with the length step and the chosen patches of `c` applied; a
// grown file may hold only `tailPart` bytes of what the change appended.
Bytes Apply(Bytes b, const FileChange& c, bool length, uint32_t patches, size_t tailPart = SIZE_MAX) {
    if (length) {
        b.resize(static_cast<size_t>(std::min(c.lengthBefore, c.lengthAfter)));
        if (c.lengthAfter > c.lengthBefore)
            b.insert(b.end(), c.tail.begin(), c.tail.begin() + static_cast<long>(std::min(tailPart, c.tail.size())));
    }
    for (size_t i = 0; i < c.patches.size(); ++i)
        if (patches >> i & 1)
            std::copy(c.patches[i].after.begin(), c.patches[i].after.end(), b.begin() + c.patches[i].offset);
    return b;
}

clsAcidSettings Loop(int beats) {
    clsAcidSettings s;
    s.Mode(kModeLoop);
    s.LoopBeats(beats);
    return s;
}

}  // namespace

TEST(ChangeRecord, EveryChangeIsToldBeforeItsFirstWriteAndRevertsFromEveryStateAKillLeaves) {
    TempDir dir;
    MakeSoxWave(dir, "a.wav", 22050, 1, 16, "signed-integer", 0.05);
    Bytes odd = WaveBuilder().Fmt(1, 8000, 8).Data(5).Build();
    odd.pop_back();  // the last pad byte missing: the append writes it first
    odd[4] -= 1;
    WriteBytes(dir / "odd.wav", odd);
    const auto body = Loop(2).Contents();
    const Bytes inner(body.begin(), body.end());
    const Bytes chunk = WaveBuilder().Acid(inner).Build();  // "RIFF", size, "WAVE", then the chunk
    Bytes behind = WaveBuilder().Fmt(1, 8000, 8).Data(6).Build();
    behind.insert(behind.end(), chunk.begin() + 12, chunk.end());  // an append stopped before the RIFF size
    WriteBytes(dir / "behind.wav", behind);
    WriteBytes(dir / "behind2.wav", behind);
    WaveBuilder().Fmt(1, 8000, 8).Acid(inner).Data(6).Acid(inner).Write(dir, "two.wav");

    enum What { Append, Overwrite, Remove };
    const std::pair<const char*, What> runs[] = {
        {"a.wav", Append},         {"a.wav", Overwrite},    {"a.wav", Remove},  {"odd.wav", Append},
        {"behind.wav", Overwrite}, {"behind2.wav", Remove}, {"two.wav", Remove}};
    for (const auto& [name, what] : runs) {
        const std::string path = dir / name;
        SCOPED_TRACE(path + " " + std::to_string(what));
        const Bytes before = ReadBytes(path);
        Keeper k;
        RecordingUi ui;
        int32_t readOnly = 0, retag = kAnswerYesToAll;
        clsAcidSettings s = Loop(what == Append ? 4 : 8);
        if (what == Remove) RemoveAcidChunks(path, readOnly, ui, &k);
        else VelorizeFile(path, s, readOnly, retag, ui, &k);
        ASSERT_EQ(k.changes.size(), 1u);
        const FileChange& c = k.changes[0];
        const Bytes after = ReadBytes(path);
        EXPECT_EQ(k.seen[0], before) << "told after a write";
        EXPECT_EQ(Apply(before, c, true, ~0u), after);
        EXPECT_NE(after, before);

        if (what == Append) {
            // An undo cuts first, then puts the RIFF size back: stopped in
            // between, the file reads as untagged and tagging refuses it as cut
            // short; never an acid chunk behind the form, which tagging would
            // take in again.
            const Bytes cut = Apply(before, c, false, ~0u);
            WriteBytes(path, cut);
            std::vector<clsAcidSettings::Body> bodies;
            std::string error;
            EXPECT_TRUE(ReadAcidChunks(path, bodies, error) && bodies.empty());
            ui.ShowOutcome(VelorizeFile(path, s, readOnly, retag, ui, nullptr));
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].prompt, "Velorizer did not change the file '" + path +
                                                 "': it holds fewer bytes than its RIFF header declares.");
            EXPECT_EQ(ReadBytes(path), cut);
        }
        // Every mix of the length step and the writes in place, and half an append.
        std::vector<Bytes> states;
        for (uint32_t patches = 0; patches < 1u << c.patches.size(); ++patches)
            for (int length = 0; length < 2; ++length) states.push_back(Apply(before, c, length, patches));
        if (c.lengthAfter > c.lengthBefore) states.push_back(Apply(before, c, true, 0, c.tail.size() / 2));
        for (size_t i = 0; i < states.size(); ++i) {
            WriteBytes(path, states[i]);
            int32_t answer = 0;
            RecordingUi quiet;
            Outcome o;
            EXPECT_EQ(RevertFileChange(c, answer, quiet, &o),
                      states[i] == before ? RevertOutcome::AlreadyBefore : RevertOutcome::Restored)
                << "state " << i;
            quiet.ShowOutcome(o);
            EXPECT_TRUE(quiet.messages.empty()) << quiet.messages[0].prompt;
            ASSERT_EQ(ReadBytes(path), before) << "state " << i;
        }
        WriteBytes(path, after);  // the next case starts from here
    }
}

TEST(ChangeRecord, AChangeThatCantBeRecordedIsNotMade) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.05);
    const Bytes before = ReadBytes(path);
    Keeper failing, k;
    failing.fail = true;
    clsAcidSettings s;
    int32_t a = 0, b = 0;
    RecordingUi ui;
    ui.ShowOutcome(VelorizeFile(path, s, a, b, ui, &failing));
    EXPECT_EQ(ReadBytes(path), before);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "Velorizer did not change the file '" + path + "': the journal is full.");
    VelorizeFile(path, s, a, b, ui, &k);
    ASSERT_EQ(k.changes.size(), 1u);
    RemoveAcidChunks(path, a, ui, &failing);
    EXPECT_EQ(ReadBytes(path).size(), before.size() + 32) << "a removal that can't be recorded is not made";
}
