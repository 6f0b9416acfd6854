// The read-only inspection: what it finds in files tagging would accept, and
// that looking changes nothing.
#include "Inspect.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace testsupport;
using namespace velorizer;

TEST(Inspect, FindsTheBodiesAndTheLengthOfFilesTaggingAccepts) {
    TempDir dir;
    clsAcidSettings loop;
    loop.Mode(kModeLoopRoot);
    loop.LoopBeats(7);
    const auto body = loop.Contents();
    const Bytes acid(body.begin(), body.end());
    const auto plain = [] { return WaveBuilder().Fmt(2, 8000, 16).Data(4000); };
    Bytes interrupted = plain().Build();
    const Bytes chunk = WaveBuilder().Acid(acid).Build();  // "RIFF", size, "WAVE", then the chunk
    interrupted.insert(interrupted.end(), chunk.begin() + 12, chunk.end());
    const std::tuple<const char*, Bytes, size_t> cases[] = {
        {"plain", plain().Build(), 0},
        {"tagged-first", WaveBuilder().Acid(acid).Fmt(2, 8000, 16).Data(4000).Build(), 1},
        {"interrupted", interrupted, 1},
        {"no-pad", plain().Chunk("note", Bytes(3, 'x'), false).Build(), 0},
    };
    for (const auto& [name, bytes, bodies] : cases) {
        SCOPED_TRACE(name);
        const std::string path = dir / (std::string(name) + ".wav");
        WriteBytes(path, bytes);
        const Inspection in = Inspect(path);
        EXPECT_FALSE(in.refusal.Refuses()) << ReasonText(in.refusal);
        EXPECT_EQ(in.frames, 1000u);
        EXPECT_EQ(in.Duration(), 0.125);
        EXPECT_EQ(in.LoopTempoFor(1), 480.0f);
        EXPECT_EQ(in.bodies, std::vector<clsAcidSettings::Body>(bodies, body));
        EXPECT_EQ(ReadBytes(path), bytes);
        // And tagging does accept it.
        int32_t readOnly = 0, retag = kAnswerYesToAll;
        RecordingUi ui;
        EXPECT_EQ(VelorizeFile(path, loop, readOnly, retag, ui, nullptr).result, Result::Written);
    }
    const Inspection folder = Inspect(dir.path().string());
    EXPECT_EQ(ReasonText(folder.refusal), "it is a folder") << "tagging's own words";
    EXPECT_FALSE(folder.wave);
}
