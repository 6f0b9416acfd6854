// The external monitor, as a real vexlor-monitor process: lines, name order,
// and the pause with its three ways to end.

#include "VexlorTestSupport.h"

#include "VexlorMonitorLink.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace modVexlor;
using vxtest::Child;
using vxtest::VexlorTest;
using Clock = std::chrono::steady_clock;

std::unique_ptr<Child> StartMonitor(std::vector<std::string> args = {}) {
    args.insert(args.begin(), vxtest::MonitorProgram());
    std::string title = std::string(monitor::kTitle);
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--title") title = args[i + 1];
    auto child = std::make_unique<Child>(args);
    EXPECT_TRUE(vxtest::WaitForMonitor(title)) << title;
    return child;
}

TEST_F(VexlorTest, EveryLineReachesTheMonitor) {
    auto mon = StartMonitor();
    vxPUSH("main", "Sub Form_Load", "");
    EXPECT_TRUE(Settings().MonitorAttached);
    EXPECT_TRUE(TraceActive());
    vxPOP("main", "Sub Form_Load", "");
    std::string line;
    ASSERT_TRUE(mon->ReadLine(line));
    EXPECT_TRUE(vxtest::MatchesShape(
        line, "[velorun] ##-##-#### ##:##:## - start Vexlor client v5.00.04 (for Visual Basic 5.0) data capture"))
        << line;
    ASSERT_TRUE(mon->ReadLine(line));
    EXPECT_EQ(line, "[velorun] [00001] [00000.000] ->main : Sub Form_Load");
    ASSERT_TRUE(mon->ReadLine(line));
    EXPECT_EQ(line, "[velorun] [00002] [00000.000] <-main : Sub Form_Load");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.disabled, 0);
}

TEST_F(VexlorTest, TheFirstEntryAndExitMeasureTheMonitorsCostForLaterLines) {
    auto mon = StartMonitor();
    platform::SetClockForTest([this] { return clockMs += 10; });  // every read takes 10 ms
    vxPUSH("main", "Sub Form_Load", "");
    vxPOP("main", "Sub Form_Load", "");
    EXPECT_EQ(PushOverhead(), 20 * kUnitsPerMs);
    EXPECT_EQ(PopOverhead(), 20 * kUnitsPerMs);
    vxPUSH("main", "Sub RefreshForm", "");
    vxPOP("main", "Sub RefreshForm", "");
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 5 && mon->ReadLine(line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "[velorun] [00001] [00000.020] ->main : Sub Form_Load");
    EXPECT_EQ(lines[2], "[velorun] [00002] [00000.050] <-main : Sub Form_Load");
    EXPECT_EQ(lines[3], "[velorun] [00003] [00000.050] ->main : Sub RefreshForm");  // 70 ms less 20
    EXPECT_EQ(lines[4], "[velorun] [00004] [00000.060] <-main : Sub RefreshForm");  // 80 ms less 20
}

TEST_F(VexlorTest, TheFirstLiveMonitorInNameOrderIsTaken) {
    // A stale socket sorts first and refuses; "Orvane Vexlorx" is no monitor.
    {
        std::filesystem::create_directories(dir / "run" / "vexlor");
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::string path = monitor::SocketPath("Orvane Vexlor - 0 stale");
        std::strcpy(a.sun_path, path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(fd);
    }
    auto b = StartMonitor({"--title", "Orvane Vexlor - b"});
    auto a = StartMonitor({"--title", "Orvane Vexlor - a"});
    auto other = StartMonitor({"--title", "Orvane Vexlor"});  // "Orvane Vexlor" < "Orvane Vexlor - a"
    auto x = StartMonitor({"--title", "Orvane Vexlorx"});
    EXPECT_EQ(monitor::ListMonitorTitles(),
              (std::vector<std::string>{"Orvane Vexlor", "Orvane Vexlor - 0 stale", "Orvane Vexlor - a",
                                        "Orvane Vexlor - b"}));
    other.reset();  // ends cleanly and removes its socket
    vxSTART();
    std::string line;
    EXPECT_TRUE(a->ReadLine(line));
    EXPECT_NE(line.find(" - start Vexlor client"), std::string::npos);
    EXPECT_FALSE(b->ReadLine(line, 200));
    EXPECT_FALSE(x->ReadLine(line, 200));
}

TEST_F(VexlorTest, APauseOnAMatchingLineDisablesTheFormsUntilItsTimeIsUp) {
    auto mon = StartMonitor({"--pause-on", "Sub Slow", "--resume-after", "0.3"});
    int disabledDuringPause = 0;
    host.onEvents = [&](int) { disabledDuringPause = host.disabled - host.enabled; };
    vxPUSH("main", "Sub Fast", "");
    EXPECT_EQ(host.disabled, 0);
    auto start = Clock::now();
    vxPUSH("main", "Sub Slow", "");
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 3000);
    EXPECT_EQ(host.disabled, 1);
    EXPECT_EQ(host.enabled, 1);
    EXPECT_GT(host.events, 0);
    EXPECT_EQ(disabledDuringPause, 1);
}

TEST_F(VexlorTest, AKeyPressEndsThePauseAndLinesDuringItAreShown) {
    auto mon = StartMonitor({"--pause-on", "->.*Sub Wait"});
    host.onEvents = [&](int n) {
        if (n == 1) {  // a timer that fires while paused enters a procedure
            vxPUSH("main", "Sub tmrSplash_Timer", "");
            vxPOP("main", "Sub tmrSplash_Timer", "");
        }
        if (n == 3) mon->WriteStdin("\n");
    };
    vxPUSH("main", "Sub Wait", "");
    EXPECT_EQ(host.enabled, 1);
    EXPECT_GE(host.events, 3);
    vxPOP("main", "Sub Wait", "");  // the exit line doesn't match: no second pause
    EXPECT_EQ(host.disabled, 1);
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 5 && mon->ReadLine(line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "[velorun] [00001] [00000.000] ->main : Sub Wait");
    EXPECT_EQ(lines[2], "[velorun] [00002] [00000.000] ->\tmain : Sub tmrSplash_Timer");
    EXPECT_EQ(lines[3], "[velorun] [00003] [00000.000] <-\tmain : Sub tmrSplash_Timer");
    EXPECT_EQ(lines[4], "[velorun] [00004] [00000.000] <-main : Sub Wait");
}

TEST_F(VexlorTest, AMonitorThatDiesMidPauseEndsThePause) {
    auto mon = StartMonitor({"--pause-on", "Sub Wait"});
    host.onEvents = [&](int n) {
        if (n == 3) mon->Kill(SIGKILL);
    };
    vxPUSH("main", "Sub Wait", "");
    EXPECT_EQ(host.disabled, 1);
    EXPECT_EQ(host.enabled, 1);
    EXPECT_EQ(host.events, 3);
    vxPOP("main", "Sub Wait", "");  // the monitor is gone: the line is skipped
    EXPECT_EQ(TraceSequence(), 2u);
    EXPECT_EQ(CallDepth(), 0);
}

TEST(VexlorMonitor, HelpDocumentsTheOptions) {
    Child help({vxtest::MonitorProgram(), "--help"}, false);
    std::string text, line;
    while (help.ReadLine(line)) text += line + "\n";
    EXPECT_EQ(help.Wait(), 0);
    for (const char* option : {"--title", "--pause-on", "--resume-after", "Orvane Vexlor"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
}

}  // namespace
