// The external monitor, as a real vexlor-monitor process: lines, name order,
// the pause with its three ways to end, monitors that stop answering or whose
// output nobody reads, and folders and sockets that are not the user's own.

#include "VexlorTestSupport.h"

#include "VexlorMonitorLink.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace modVexlor;
using vxtest::Child;
using vxtest::VexlorTest;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

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
    EXPECT_EQ(monitor::ListMonitorTitles(), (std::vector<std::string>{"Orvane Vexlor", "Orvane Vexlor - 0 stale",
                                                                      "Orvane Vexlor - a", "Orvane Vexlor - b"}));
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

TEST_F(VexlorTest, AStoppedMonitorCostsOneBoundedWaitAndIsThenDropped) {
    auto mon = StartMonitor();
    vxSTART();
    mon->Kill(SIGSTOP);
    auto start = Clock::now();
    vxPUSH("main", "Sub Form_Load", "");
    const long first = MsSince(start);
    for (int i = 0; i < 100; ++i) vxPUSH("main", "Sub Deeper", "");
    const long rest = MsSince(start) - first;
    mon->Kill(SIGCONT);
    EXPECT_TRUE(first >= 900 && first < 3000) << first;
    EXPECT_LT(rest, 500) << "a dropped monitor is not waited for again";
}

TEST_F(VexlorTest, AMonitorWhoseOutputNobodyReadsNeverHoldsTheProgramAndCountsWhatItDrops) {
    WriteIni("[include]\r\nArguments=1\r\nResources=0\r\nMemory=0\r\nUser=0\r\n");
    // Standard error shares the unread pipe, as with "vexlor-monitor 2>&1 | less".
    Child mon({vxtest::MonitorProgram()}, true, true);
    ASSERT_TRUE(vxtest::WaitForMonitor(std::string(monitor::kTitle)));
    const std::string arguments(4000, 'a');  // 3,000 lines of 4 kB: more than the monitor keeps
    long slowest = 0;
    for (int i = 0; i < 1500; ++i) {
        auto start = Clock::now();
        vxPUSH("main", "Sub Busy", arguments);
        vxPOP("main", "Sub Busy", arguments);
        slowest = std::max(slowest, MsSince(start));
    }
    EXPECT_LT(slowest, 500);
    // Read what was kept, then let one more line through: the count follows.
    long printed = 0, dropped = -1;
    bool warned = false;
    auto drain = [&](int timeoutMs, bool untilCount) {
        for (std::string line; !(untilCount && dropped >= 0) && mon.ReadLine(line, timeoutMs);) {
            printed += line.starts_with("[velorun] ");
            warned = warned || line.find("dropping trace lines") != std::string::npos;
            if (auto at = line.find(" trace lines were dropped"); at != std::string::npos)
                dropped = std::atol(line.c_str() + line.rfind(' ', at - 1) + 1);
        }
    };
    drain(1000, false);
    vxPUSH("main", "Sub After", "");
    drain(3000, true);
    drain(300, false);
    EXPECT_TRUE(warned);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(printed + dropped, 1 + 3000 + 1) << "the banner, the loop's lines and the last one";
}

// Listens as "Orvane Vexlor" in the given folder: "open" first makes it
// world-writable (run it as another user), "drop" becomes uid 65534 after
// binding. On a line of standard input it tells what it heard.
const char* const kPlant = R"(
import contextlib, os, select, socket, sys
folder, how = sys.argv[1], sys.argv[2]
if how == 'open':
    os.makedirs(folder, exist_ok=True); os.chmod(folder, 0o777)
s = socket.socket(socket.AF_UNIX)
s.bind(os.path.join(folder, 'Orvane Vexlor'))
if how == 'drop':
    os.setgroups([]); os.setresgid(65534, 65534, 65534); os.setresuid(65534, 65534, 65534)
s.listen(8)
print('ready', flush=True)
heard = 0
while s in select.select([s, sys.stdin], [], [], 20)[0]:
    c = s.accept()[0]
    c.settimeout(0.5)
    with contextlib.suppress(socket.timeout):
        heard += len(c.recv(4096))
print('heard %d' % heard, flush=True)
)";

TEST_F(VexlorTest, OnlyAMonitorOfTheUsersOwnInAFolderOfTheirOwnIsHeard) {
    namespace fs = std::filesystem;
    auto mon = StartMonitor();
    const auto folder = dir / "run" / "vexlor";
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    auto attached = [] {
        testhooks::Reset();
        vxSTART();
        return Settings().MonitorAttached;
    };
    ::chmod(folder.c_str(), 0777);
    EXPECT_FALSE(attached()) << "writable by others";
    Child second({vxtest::MonitorProgram(), "--title", "Orvane Vexlor - 2"}, false);
    EXPECT_EQ(WEXITSTATUS(second.Wait()), 1) << "the monitor refuses such a folder too";
    ::chmod(folder.c_str(), 0700);
    fs::rename(folder, dir / "run" / "real");
    fs::create_directory_symlink(dir / "run" / "real", folder);
    EXPECT_FALSE(attached()) << "a symbolic link";
    fs::remove(folder);
    fs::rename(dir / "run" / "real", folder);
    EXPECT_TRUE(attached());
    mon.reset();

    if (::geteuid() != 0) GTEST_SKIP() << "planting a monitor as another user (uid 65534) needs root";
    fs::permissions(dir, fs::perms::owner_all | fs::perms::others_exec);
    const auto shared = dir / "shared";  // world-writable, as /tmp is
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    std::ofstream(shared / "plant.py") << kPlant;
    fs::permissions(shared / "plant.py", fs::perms::owner_read | fs::perms::others_read);
    const std::string plant = (shared / "plant.py").string();
    const std::pair<fs::path, std::vector<std::string>> cases[] = {
        {shared,
         {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", plant,
          (shared / "vexlor").string(), "open"}},
        {dir / "run", {"/usr/bin/python3", plant, folder.string(), "drop"}},
    };
    for (const auto& [xdg, argv] : cases) {
        SCOPED_TRACE(argv.back());
        ::setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
        Child planted(argv);
        std::string line;
        ASSERT_TRUE(planted.ReadLine(line, 10000) && line == "ready") << line;
        EXPECT_FALSE(attached());
        vxPUSH("main", "Sub Form_Load", "");
        planted.WriteStdin("\n");
        EXPECT_TRUE(planted.ReadLine(line, 10000) && line == "heard 0") << line;
    }
}

TEST_F(VexlorTest, ResumeTimesBeyondTheMaximumAreRefused) {
    for (const char* seconds : {"1e10", "1e300", "inf", "nan", "-1"}) {
        Child mon({vxtest::MonitorProgram(), "--resume-after", seconds}, false, true);
        std::string line;
        EXPECT_TRUE(mon.ReadLine(line) && line.find("bad time") != std::string::npos) << seconds << ": " << line;
        EXPECT_FALSE(mon.ReadLine(line, 3000)) << seconds << " taken: the monitor still runs";
        mon.Kill(SIGTERM);
        EXPECT_EQ(mon.Wait(), 2 << 8) << seconds;
    }
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
