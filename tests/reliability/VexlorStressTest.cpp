// The error-trapping module under stress: a million trace lines through the
// ring, logs in folders that can't be written, a mail server that refuses.

#include "VexlorTestSupport.h"

#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace modVexlor;
using vxtest::VexlorTest;

namespace {
bool LongRun() { return std::getenv("VELORIZER_LONG_TESTS") != nullptr; }
}  // namespace

TEST_F(VexlorTest, AMillionTraceLinesKeepTheRingWithinItsSize) {
    WriteIni("[preferences]\r\nCircularLog=1\r\n[include]\r\nArguments=0\r\nResources=0\r\nMemory=0\r\nUser=0\r\n");
    const long pairs = LongRun() ? 500000 : 50000;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < pairs; ++i) {
        vxPUSH("main", "Sub Outer");
        vxPOP("main", "Sub Outer");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto ring = dir / "circ0001.log";
    EXPECT_EQ(std::filesystem::file_size(ring), 512u + 40u * 1024u);
    // The start banner took slot 1; line k (counting it) sits in slot ((k - 1) % 40) + 1.
    const long lines = 2 * pairs + 1;
    const long newest = ((lines - 1) % 40) + 1;
    EXPECT_EQ(CircularSlot(), newest);
    const std::string bytes = ReadFile(ring);
    const std::string record = bytes.substr(512 + static_cast<size_t>(newest - 1) * 1024, 1024);
    char seq[16];
    std::snprintf(seq, sizeof seq, "[%05ld]", 2 * pairs);
    EXPECT_NE(record.find(seq), std::string::npos) << record.substr(0, 80);
    EXPECT_NE(record.find("] <-main : Sub Outer\r\n"), std::string::npos);
    std::printf("%ld trace lines through the ring in %.2f s\n", 2 * pairs, seconds);
}

TEST_F(VexlorTest, LogsInFoldersThatCannotBeWrittenAreSkippedQuietly) {
    // A folder path through a regular file can't be created, even by root.
    std::ofstream(dir / "plain") << "x";
    WriteIni(
        "[preferences]\r\nCircularLog=1\r\n[CicularLog]\r\nFileName=plain/circ.log\r\n"
        "[log file]\r\nWrite To Disk=1\r\nCapture To Disk=1\r\nLog File=" +
        (dir / "plain" / "error.log").string() + "\r\n");
    int16_t result = 0;
    vx::Proc("main", "Sub cmdVELORize_Click", [&] {
        vx::Proc("main", "Sub Velorize", [] { throw vb::RunTimeError(61); });
        result = 5;
    });
    EXPECT_EQ(result, 5) << "the program goes on";
    EXPECT_EQ(CallDepth(), 0);
    EXPECT_EQ(ErrorRecord().Number[0], 61);
    EXPECT_FALSE(Settings().CircularLogEnabled) << "an unopenable ring switches itself off";
    EXPECT_TRUE(host.boxes.empty()) << "outside the development environment nothing is shown";
    EXPECT_EQ(ReadFile(dir / "plain"), "x");
}

TEST_F(VexlorTest, AMailServerThatRefusesCostsNothingAndLeavesNothingBehind) {
    const int port = vxtest::Listener().port;
    const auto script = dir / "refuse.py";
    std::ofstream(script) << "import asyncio, sys\n"
                             "from aiosmtpd.controller import Controller\n"
                             "class Refuse:\n"
                             "    async def handle_RCPT(self, server, session, envelope, address, options):\n"
                             "        return '550 5.1.1 no such mailbox'\n"
                             "c = Controller(Refuse(), hostname='127.0.0.1', port=int(sys.argv[1]))\n"
                             "c.start()\n"
                             "import time\n"
                             "time.sleep(60)\n";
    vxtest::Child server({"/usr/bin/python3", script.string(), std::to_string(port)}, false);
    ASSERT_TRUE(vxtest::WaitForPort(port)) << "the refusing server did not start";
    WriteIni("[email]\r\nAddress=nobody@example.test\r\nServer=smtp://127.0.0.1:" + std::to_string(port) +
             "\r\n[log file]\r\nWrite To Disk=1\r\n");
    const auto start = std::chrono::steady_clock::now();
    vx::Proc("main", "Sub cmdPreview_Click", [] { throw vb::RunTimeError(53); });
    EXPECT_TRUE(FinishMail(std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "the temporary report is deleted";
    EXPECT_NE(ReadFile(dir / "error.log").find("Error No.     53"), std::string::npos) << "the log still has it";
    EXPECT_TRUE(host.boxes.empty()) << "a refused mail is never reported";
    server.Kill(SIGTERM);
    server.Wait();
}
