#include "Mmio.h"
#include "TestSupport.h"
#include "clsAcidSettings.h"

#include <gtest/gtest.h>

using namespace testsupport;
using velorizer::clsAcidSettings;

namespace {
Bytes Body(const clsAcidSettings& s) {
    auto c = s.Contents();
    return Bytes(c.begin(), c.end());
}
}  // namespace

TEST(AcidSettings, NewBodyIsOneShotFourBeatsFourFourAt120) {
    clsAcidSettings s;
    EXPECT_EQ(Body(s),
              (Bytes{0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 0x04, 0, 0x04, 0, 0, 0, 0xF0, 0x42}));
    EXPECT_EQ(s.Mode(), 1);
    EXPECT_EQ(s.MidiBase(), 0);
    EXPECT_EQ(s.LoopBeats(), 4);
    EXPECT_EQ(s.Tempo(), 120.0f);
}

TEST(AcidSettings, EachPropertyTouchesOnlyItsOwnBytes) {
    clsAcidSettings s;
    const Bytes before = Body(s);
    s.Tempo(95.5f);
    Bytes expected = before;
    expected[20] = 0x00, expected[21] = 0x00, expected[22] = 0xBF, expected[23] = 0x42;
    EXPECT_EQ(Body(s), expected);

    s.MidiBase(60);
    expected[4] = 0x3C, expected[5] = 0x00;
    EXPECT_EQ(Body(s), expected);

    // No validation: out-of-range values are stored as they come.
    s.LoopBeats(-1);
    expected[12] = expected[13] = expected[14] = expected[15] = 0xFF;
    EXPECT_EQ(Body(s), expected);
    EXPECT_EQ(s.LoopBeats(), -1);

    s.Mode(0x1E);
    expected[0] = 0x1E;
    EXPECT_EQ(Body(s), expected);
    EXPECT_EQ(s.Mode(), 30);
}

TEST(AcidSettings, WriteDataAppendsAWholeChunkOrOverwritesTheBody) {
    TempDir dir;
    const std::string path = dir / "x.bin";
    WriteBytes(path, Bytes{'a', 'b', 'c', 'd'});
    clsAcidSettings s;
    s.Mode(22);
    s.MidiBase(60);
    {
        auto h = mmio::File::Open(path, mmio::MMIO_READWRITE);
        ASSERT_TRUE(h);
        h->Seek(0, mmio::kSeekEnd);
        EXPECT_TRUE(s.WriteData(*h, true));
        EXPECT_EQ(h->Tell(), 4 + 32);
    }
    Bytes expected{'a', 'b', 'c', 'd', 'a', 'c', 'i', 'd', 0x18, 0, 0, 0};
    for (auto b : s.Contents()) expected.push_back(b);
    EXPECT_EQ(ReadBytes(path), expected);

    s.LoopBeats(8);
    {
        auto h = mmio::File::Open(path, mmio::MMIO_READWRITE);
        ASSERT_TRUE(h);
        h->Seek(12, mmio::kSeekSet);
        EXPECT_TRUE(s.WriteData(*h, false));
        EXPECT_EQ(h->Tell(), 36);
    }
    // The beats (body bytes 12 to 15) change, and nothing else.
    expected[12 + 12] = 8;
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST(AcidSettings, AFailedWriteIsReportedToTheCaller) {
    TempDir dir;
    const std::string path = dir / "x.bin";
    WriteBytes(path, Bytes(10, 0));
    auto h = mmio::File::Open(path, mmio::MMIO_READ);  // read-only handle: every write fails
    ASSERT_TRUE(h);
    clsAcidSettings s;
    EXPECT_FALSE(s.WriteData(*h, true));
    EXPECT_FALSE(s.WriteData(*h, false));
    h.reset();
    EXPECT_EQ(ReadBytes(path), Bytes(10, 0));
}
