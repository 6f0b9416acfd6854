// The read-only inspection: what it finds in files tagging would accept, and
// that looking changes nothing.
#include "Inspect.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace velorizer;

TEST(Inspect, FindsTheBodiesAndTheLengthOfFilesTaggingAccepts) {
    TempDir dir;
    clsAcidSettings loop;
    loop.Mode(kModeLoopRoot);
    loop.LoopBeats(7);
    const auto body = loop.Contents();
    const Bytes acid(body.begin(), body.end());
    Bytes interrupted = WaveBuilder().Fmt(2, 8000, 16).Data(4000).Build();
    const Bytes chunk = WaveBuilder().Acid(acid).Build();  // "RIFF", size, "WAVE", then the chunk
    interrupted.insert(interrupted.end(), chunk.begin() + 12, chunk.end());
    const struct {
        const char* name;
        Bytes bytes;
        size_t bodies;
    } cases[] = {
        {"plain", WaveBuilder().Fmt(2, 8000, 16).Data(4000).Build(), 0},
        {"tagged-first", WaveBuilder().Acid(acid).Fmt(2, 8000, 16).Data(4000).Build(), 1},
        {"interrupted", interrupted, 1},
        {"no-pad", WaveBuilder().Fmt(2, 8000, 16).Data(4000).Chunk("note", Bytes(3, 'x'), false).Build(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".wav");
        WriteBytes(path, c.bytes);
        const Inspection in = Inspect(path);
        EXPECT_EQ(in.refusal, "");
        EXPECT_EQ(in.frames, 1000u);
        EXPECT_EQ(in.Duration(), 0.125);
        EXPECT_EQ(in.LoopTempoFor(1), 480.0f);
        ASSERT_EQ(in.bodies.size(), c.bodies);
        if (c.bodies) {
            EXPECT_EQ(in.bodies[0], body);
        }
        EXPECT_EQ(ReadBytes(path), c.bytes);
    }
    const Inspection folder = Inspect(dir.path().string());
    EXPECT_EQ(folder.refusal, "it is not a regular file");
    EXPECT_FALSE(folder.wave);
}
