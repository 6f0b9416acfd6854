// The circular log: header, slots, wrapping, cutting, and a file that can't be opened.

#include "VexlorTestSupport.h"

#include <fstream>

namespace {

using namespace modVexlor;
using vxtest::VexlorTest;

std::string Slot(const std::string& file, std::size_t k, std::size_t size) {
    return file.substr(512 + (k - 1) * size, size);
}

TEST_F(VexlorTest, TheDefaultRingHasFortySlotsAndThe41stLineGoesToSlot1AtByte513) {
    WriteIni("[preferences]\r\nCircularLog=1\r\n[include]\r\nResources=0\r\nMemory=0\r\nArguments=0\r\nUser=0\r\n");
    vxSTART();  // the start banner is line 1
    EXPECT_EQ(Settings().CircularRecordSize, 1024);
    EXPECT_EQ(Settings().CircularSlotCount, 40);
    for (int i = 0; i < 20; ++i) {
        vxPUSH("main", "Sub Tick", "");
        vxPOP("main", "Sub Tick", "");
    }
    EXPECT_EQ(CircularSlot(), 41 - 40);
    const std::string file = ReadFile(dir / "circ0001.log");
    EXPECT_EQ(file.size(), 512u + 40 * 1024);
    EXPECT_EQ(file.substr(4, 4), "1024");
    EXPECT_NE(file.substr(0, 512).find("HM100"), std::string::npos);
    // Line 41 is the exit numbered 00040, in slot 1 at byte 513.
    const std::string exit40 = "[velorun] [00040] [00000.000] <-main : Sub Tick\r\n";
    EXPECT_EQ(file.substr(512, exit40.size()), exit40);
    EXPECT_EQ(file[512 + exit40.size()], '\0');
    // Slot 2 still holds line 2, the first entry.
    EXPECT_TRUE(Slot(file, 2, 1024).starts_with("[velorun] [00001] [00000.000] ->main : Sub Tick\r\n"));
    EXPECT_TRUE(Slot(file, 40, 1024).starts_with("[velorun] [00039] "));
}

TEST_F(VexlorTest, AHundredCharacterLineIsFollowedBy924ZeroBytes) {
    // A ring full of old bytes shows exactly what a record overwrites.
    std::ofstream(dir / "circ0001.log", std::ios::binary) << std::string(512 + 40 * 1024, '\xff');
    WriteIni("[preferences]\r\nCircularLog=1\r\n");
    vxSTART();
    const std::string line = std::string(98, 'x') + "\r\n";
    EmitTraceLine(line);
    const std::string file = ReadFile(dir / "circ0001.log");
    const std::string slot2 = Slot(file, 2, 1024);
    EXPECT_EQ(slot2.substr(0, 100), line);
    EXPECT_EQ(slot2.substr(100), std::string(924, '\0'));
    EXPECT_EQ(Slot(file, 3, 1024), std::string(1024, '\xff'));
    EXPECT_EQ(file.size(), 512u + 40 * 1024);
}

TEST_F(VexlorTest, LongLinesAreCutAndShortOnesInLargeSlotsGetAtMost1024Zeros) {
    std::ofstream(dir / "ring.log", std::ios::binary) << std::string(512 + 6 * 2048, '\xff');
    WriteIni(
        "[preferences]\r\nCircularLog=1\r\n[CicularLog]\r\nFileName=ring.log\r\nRecordSize=2048\r\nMaxRecords=3\r\n");
    vxSTART();
    const std::string shortLine = std::string(98, 's') + "\r\n";
    const std::string longLine = std::string(3000, 'L') + "\r\n";
    EmitTraceLine(shortLine);
    EmitTraceLine(longLine);
    const std::string file = ReadFile(dir / "ring.log");
    const std::string slot2 = Slot(file, 2, 2048);
    EXPECT_EQ(slot2.substr(0, 100), shortLine);
    EXPECT_EQ(slot2.substr(100, 1024), std::string(1024, '\0'));
    EXPECT_EQ(slot2.substr(1124), std::string(2048 - 1124, '\xff'));  // keeps its former content
    EXPECT_EQ(Slot(file, 3, 2048), std::string(2048, 'L'));
    EXPECT_EQ(Slot(file, 4, 2048), std::string(2048, '\xff'));  // nothing spilled
    EXPECT_EQ(file.substr(4, 4), "2048");
}

TEST_F(VexlorTest, ACircularLogThatCannotBeOpenedSwitchesItselfOff) {
    for (bool development : {false, true}) {
        SCOPED_TRACE(development);
        testhooks::Reset();
        host.boxes.clear();
        testhooks::SetDevelopmentEnvironment(development);
        WriteIni("[preferences]\r\nCircularLog=1\r\n[CicularLog]\r\nFileName=no-such-folder/ring.log\r\n");
        vxSTART();
        EXPECT_FALSE(Settings().CircularLogEnabled);  // the banner found it closed
        vxPUSH("main", "Sub Form_Load", "");
        vxPOP("main", "Sub Form_Load", "");
        EXPECT_EQ(TraceSequence(), 0u);
        if (development) {
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].prompt,
                      "Could not open circular log file " + (dir / "no-such-folder/ring.log").string());
            EXPECT_EQ(host.boxes[0].style, vbCritical);
        } else {
            EXPECT_TRUE(host.boxes.empty());
        }
    }
}

TEST_F(VexlorTest, CaptureWithoutWriteToDiskWritesNoErrorLog) {
    WriteIni("[log file]\r\nCapture To Disk=1\r\nWrite To Disk=0\r\n");
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(vb::errFileNotFound); });
    EXPECT_TRUE(TraceActive());
    EXPECT_EQ(TraceSequence(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir / "error.log"));
    EXPECT_FALSE(std::filesystem::exists(dir / "vxerror.log"));
}

TEST_F(VexlorTest, ARingDeletedWhileRunningIsMadeAgainWithItsSignature) {
    WriteIni("[preferences]\r\nCircularLog=1\r\n[CicularLog]\r\nRecordSize=128\r\n");
    vxSTART();
    std::filesystem::remove(dir / "circ0001.log");
    EmitTraceLine("one\r\n");  // goes to the open file, then reopening fails
    EmitTraceLine("two\r\n");
    const std::string file = ReadFile(dir / "circ0001.log");
    ASSERT_GE(file.size(), 512u + 3 * 128);
    EXPECT_EQ(file.substr(7, 5), "HM100");
    EXPECT_EQ(Slot(file, 3, 128).substr(0, 5), "two\r\n");
}

}  // namespace
