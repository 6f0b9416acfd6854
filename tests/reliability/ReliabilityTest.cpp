// Attacks on the tagger with real faults: a disk that fills up at every byte of
// an append, files that change between the listing and the tag, read-only
// folders and mounts, hostile paths, and a batch killed at random moments.
// VELORIZER_LONG_TESTS=1 runs the long versions.

#include "EnumFolders.h"
#include "PanelChoice.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <array>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <cstring>
#include <functional>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

namespace {

const std::string kVelorize = std::string(VELORIZER_BIN_DIR) + "/velorize";
bool LongRun() { return std::getenv("VELORIZER_LONG_TESTS") != nullptr; }

// Lets the unprivileged child reach the scratch folder and own the files.
void HandOver(const TempDir& dir) {
    ::chmod(dir.path().c_str(), 0755);
    if (::getuid() != 0) return;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) (void)!::lchown(e.path().c_str(), 65534, 65534);
    (void)!::chown(dir.path().c_str(), 65534, 65534);
}

std::string TagAll(const std::vector<std::string>& paths, int32_t answer = kAnswerYes) {
    RecordingUi ui;
    clsAcidSettings s;
    PanelChoice c;
    c.kind = PanelChoice::Loop;
    c.beats = 4;
    FillSettings(s, c);
    int32_t ro = 0, rt = 0;
    for (const auto& p : paths) {
        ui.answers.assign(4, answer);
        ui.ShowOutcome(VelorizeFile(p, s, ro, rt, ui));
    }
    std::string out;
    for (const auto& m : ui.messages) out += m.prompt + "\n";
    return out;
}

std::string Tone(const TempDir& dir, const std::string& name, double seconds = 0.05) {
    return MakeSoxWave(dir, name, 22050, 1, 16, "signed-integer", seconds);
}

Bytes Tagged(const Bytes& original, int beats, float tempo) {
    clsAcidSettings s;
    PanelChoice c;
    c.kind = PanelChoice::Loop;
    c.beats = beats;
    FillSettings(s, c);
    s.Tempo(tempo);
    Bytes b = original;
    const uint32_t riff = static_cast<uint32_t>(b.size() + 32 - 8);
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    b.insert(b.end(), {'a', 'c', 'i', 'd', 24, 0, 0, 0});
    const auto body = s.Contents();
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

struct CliResult {
    int status = -1;
    std::string err;
};

// Runs the built velorize, its output and messages read together. Its signals
// start as a shell would leave them (not
// as this test runner may have set them), so what it ignores it ignores itself.
CliResult RunCli(const std::vector<std::string>& args, rlim_t fileSizeLimit = RLIM_INFINITY,
                 bool unprivileged = false) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        // These attacks are on the tagger; the journal's own are elsewhere.
        ::setenv("VELORIZER_JOURNAL", "off", 1);
        const rlimit rl{fileSizeLimit, fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(126);
        // Opened before giving up root: the build folder may lie where
        // nobody can reach it (a clone in /root).
        const int exe = ::open(kVelorize.c_str(), O_RDONLY | O_CLOEXEC);
        if (unprivileged && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
        ::dup2(fds[1], 1);  // what a dry run prints, among the messages
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv{const_cast<char*>("velorize")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::fexecve(exe, argv.data(), environ);
        ::_exit(127);
    }
    ::close(fds[1]);
    CliResult r;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) r.err.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return r;
}

}  // namespace

TEST(Reliability, AFileSizeLimitAtAnyByteOfTheAppendIsAFailedWriteNotAKill) {
    TempDir dir;
    const std::string path = Tone(dir, "a.wav");
    const std::string small = Tone(dir, "b.wav", 0.01);  // fits under every limit: the batch goes on
    const Bytes before = ReadBytes(path), smallBefore = ReadBytes(small);
    for (size_t room = 0; room < 32; ++room) {
        WriteBytes(small, smallBefore);
        const CliResult r = RunCli({"--one-shot", path, small}, before.size() + room);
        ASSERT_EQ(r.status, 1) << "room for " << room << " bytes (a negative status is the signal): " << r.err;
        ASSERT_EQ(ReadBytes(path), before) << room;
        EXPECT_EQ(r.err,
                  "error! Velorizer did not change the file '" + path + "': file too large.\nOperation completed.\n")
            << room;
        EXPECT_EQ(ReadBytes(small).size(), smallBefore.size() + 32) << room;
    }
    // An overwrite never grows the file, so the limit can't stop it.
    ASSERT_EQ(RunCli({"--one-shot", path}).status, 0);
    const Bytes once = ReadBytes(path);
    EXPECT_EQ(RunCli({"--loop", "2", "--yes-to-all", path}, once.size()).status, 0);
    EXPECT_EQ(ReadWithSndfile(path).numBeats, 2);
    EXPECT_EQ(ReadBytes(path).size(), once.size());
}

TEST(Reliability, TheDesktopProgramIgnoresTheFileSizeSignalItself) {
    const std::string velorun = std::string(VELORIZER_BIN_DIR) + "/velorun";
    if (::access(velorun.c_str(), X_OK) != 0) GTEST_SKIP() << "built without the desktop program";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execl(velorun.c_str(), "velorun", nullptr);
        ::_exit(127);
    }
    // The disposition as the kernel reports it, once the program runs.
    bool ignored = false;
    for (int i = 0; i < 100 && !ignored; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("SigIgn:", 0) != 0) {
        }
        ignored = !line.empty() && (std::stoull(line.substr(7), nullptr, 16) >> (SIGXFSZ - 1) & 1);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(ignored);
}

TEST(Reliability, TheCommandLineNamesEveryFolderItCouldNotWalk) {
    TempDir dir;
    const fs::path top = dir.path() / "top";
    fs::create_directories(top / "locked");
    const std::string a = Tone(dir, "top/a.wav");
    const std::string hidden = Tone(dir, "top/locked/b.wav");
    fs::create_directory_symlink(".", top / "again");
    HandOver(dir);
    ::chmod((top / "locked").c_str(), 0);
    const CliResult r = RunCli({"--one-shot", top.string()}, RLIM_INFINITY, true);
    ::chmod((top / "locked").c_str(), 0755);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velorize: can't read the folder '" + (top / "again").string() +
                         "': it leads back to a folder that holds it\n"
                         "velorize: can't read the folder '" +
                         (top / "locked").string() + "': permission denied\nOperation completed.\n");
    EXPECT_TRUE(ReadWithSndfile(a).hasLoop);
    EXPECT_FALSE(ReadWithSndfile(hidden).hasLoop);
}

TEST(Reliability, FilesThatChangeBetweenTheListingAndTheTag) {
    TempDir dir;
    for (const char* n : {"1-keep.wav", "2-vanish.wav", "3-folder.wav", "4-locked.wav", "5-keep.wav"}) Tone(dir, n);
    std::vector<std::string> listed;
    EnumFolders walker;
    walker.File = [&](const std::string& p) { listed.push_back(p); };
    walker.Go(dir.path().string(), "*.wav");
    ASSERT_EQ(listed.size(), 5u);
    const Bytes keep = ReadBytes(listed[0]);

    fs::remove(listed[1]);
    fs::remove(listed[2]);
    fs::create_directory(listed[2]);
    HandOver(dir);
    ::chmod(listed[3].c_str(), 0);
    const Bytes locked = [&] {
        ::chmod(listed[3].c_str(), 0600);
        Bytes b = ReadBytes(listed[3]);
        ::chmod(listed[3].c_str(), 0);
        return b;
    }();
    const std::string messages = RunInChild([&](std::string& out) { out = TagAll(listed); }, true);

    const std::string d = dir.path().string();
    EXPECT_EQ(messages, "Velorizer did not change the file '" + d +
                            "/2-vanish.wav': file not found.\n"
                            "Velorizer did not change the file '" +
                            d +
                            "/3-folder.wav': it is a folder.\n"
                            "Velorizer did not change the file '" +
                            d + "/4-locked.wav': permission denied.\n");
    EXPECT_EQ(ReadBytes(listed[0]).size(), keep.size() + 32) << "the batch goes on";
    EXPECT_EQ(ReadBytes(listed[4]).size(), keep.size() + 32);
    // The file it could not open keeps its bytes and its permissions.
    struct stat st = {};
    ASSERT_EQ(::stat(listed[3].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u);
    ::chmod(listed[3].c_str(), 0600);
    EXPECT_EQ(ReadBytes(listed[3]), locked);
}

TEST(Reliability, ARemovedWritePermissionIsAskedAboutAndRestored) {
    TempDir dir;
    const std::string path = Tone(dir, "lost.wav");
    HandOver(dir);
    ::chmod(path.c_str(), 0444);
    const std::string out = RunInChild([&](std::string& o) { o = TagAll({path}); }, true);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(ReadWithSndfile(path).hasLoop);
    struct stat st = {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST(Reliability, AReadOnlyFolderDoesNotStopAnInPlaceTag) {
    TempDir dir;
    fs::create_directory(dir.path() / "ro");
    const std::string a = Tone(dir, "ro/a.wav");
    const std::string b = Tone(dir, "ro/b.wav");
    HandOver(dir);
    ::chmod(b.c_str(), 0444);
    ::chmod((dir.path() / "ro").c_str(), 0555);
    const std::string out = RunInChild([&](std::string& o) { o = TagAll({a, b}); }, true);
    ::chmod((dir.path() / "ro").c_str(), 0755);
    EXPECT_EQ(out, "") << "tagging creates no file, so the folder's permission does not matter";
    EXPECT_TRUE(ReadWithSndfile(a).hasLoop);
    EXPECT_TRUE(ReadWithSndfile(b).hasLoop);
}

TEST(Reliability, AFileOnAReadOnlyMountIsLeftWithAMessage) {
    // A private mount namespace where we may mount a tmpfs and make it read-only.
    TempDir dir;
    const std::string seed = Tone(dir, "seed.wav");
    const std::string script = "set -e; m=" + (dir / "mnt") +
                               "; mkdir -p $m; mount -t tmpfs -o size=4m tmpfs $m; "
                               "cp " +
                               seed + " $m/a.wav; cp " + seed +
                               " $m/b.wav; chmod 444 $m/b.wav; mount -o remount,ro $m; "
                               "set +e; " +
                               kVelorize +
                               " --loop 4 --yes-to-all $m/a.wav $m/b.wav 2>&1; echo \"rc=$?\"; "
                               "cmp -s " +
                               seed + " $m/a.wav && cmp -s " + seed + " $m/b.wav && echo unchanged";
    const std::string cmd = "unshare --user --map-root-user --mount sh -c '" + script + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    if (out.find("rc=") == std::string::npos) GTEST_SKIP() << "no private read-only mount here: " << out;
    const std::string m = dir / "mnt";
    // Writing is refused by the file system, and the message says so, before
    // any question about the read-only file.
    for (const char* file : {"/a.wav", "/b.wav"})
        EXPECT_NE(out.find("Error: Velorizer did not change the file '" + m + file + "': read-only file system."),
                  std::string::npos)
            << out;
    EXPECT_NE(out.find("rc=1"), std::string::npos) << out;
    EXPECT_NE(out.find("unchanged"), std::string::npos) << out;
}

TEST(Reliability, HostilePathsNeitherHangNorCrash) {
    TempDir dir;
    const fs::path r = dir.path() / "drop";
    fs::create_directories(r);
    const std::string seed = Tone(dir, "seed.wav");
    ASSERT_EQ(::mkfifo((r / "fifo.wav").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, (r / "sock.wav").c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const bool device = ::mknod((r / "null.wav").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    fs::create_directory_symlink("..", r / "loop");
    fs::copy_file(seed, r / "new\nline.wav");
    fs::copy_file(seed, r / "bad\xff\xfe.wav");
    // A path of about 4,000 characters and a tree 200 folders deep.
    fs::path longPath = r;
    while (longPath.string().size() < 3900) longPath /= std::string(200, 'x');
    fs::create_directories(longPath);
    fs::copy_file(seed, longPath / "long.wav");
    fs::path deep = r / "deep";
    for (int i = 0; i < 200; ++i) deep /= "d";
    fs::create_directories(deep);
    fs::copy_file(seed, deep / "deep.wav");

    const auto start = std::chrono::steady_clock::now();
    const CliResult res = RunCli({"--one-shot", r.string()});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(res.status, 1) << res.err;
    for (const char* n : {"fifo.wav", "sock.wav"})
        EXPECT_NE(res.err.find("'" + (r / n).string() + "': it is not a regular file."), std::string::npos) << n;
    if (device) {
        EXPECT_NE(res.err.find("null.wav': it is not a regular file."), std::string::npos);
    }
    for (const fs::path& p : {r / "new\nline.wav", r / "bad\xff\xfe.wav", longPath / "long.wav", deep / "deep.wav"})
        EXPECT_TRUE(ReadWithSndfile(p.string()).hasLoop) << p;
    EXPECT_NE(res.err.find("Operation completed."), std::string::npos);
    ::close(sock);
}

TEST(Reliability, ABatchKilledAtRandomMomentsNeverDamagesAFile) {
    TempDir dir;
    const int files = 1000;
    const int kills = LongRun() ? 200 : 12;
    const std::string seed = MakeSoxWave(dir, "seed.wav", 22050, 2, 16, "signed-integer", 0.02);
    const Bytes original = ReadBytes(seed);
    const SndInfo audio = ReadWithSndfile(seed, true);
    const Bytes complete = Tagged(original, 4, 4 * 60 * 22050.0f / static_cast<float>(audio.frames));
    const fs::path batch = dir.path() / "batch";
    fs::create_directories(batch);
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i) paths.push_back((batch / ("f" + std::to_string(i) + ".wav")).string());

    // How long an uninterrupted batch takes sets the range of kill moments.
    for (const auto& p : paths) WriteBytes(p, original);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCli({"--loop", "4", "--yes-to-all", batch.string()}).status, 0);
    const auto full = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    for (const auto& p : paths) ASSERT_EQ(ReadBytes(p), complete);

    std::mt19937 rng(20261207);
    int untouched = 0, tagged = 0, interrupted = 0;
    for (int k = 0; k < kills; ++k) {
        for (const auto& p : paths) WriteBytes(p, original);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::execl(kVelorize.c_str(), "velorize", "--loop", "4", "--yes-to-all", "--no-journal", batch.c_str(),
                    nullptr);
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % (full.count() + 1)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        for (const auto& p : paths) {
            const Bytes b = ReadBytes(p);
            if (b == original) {
                ++untouched;
            } else if (b == complete) {
                ++tagged;
            } else {
                // The one state a kill may leave besides those: the new chunk
                // behind the old form. Every reader still finds all the audio.
                Bytes expected = original;
                expected.insert(expected.end(), complete.end() - 32, complete.end());
                ASSERT_EQ(b, expected) << p << " damaged after kill " << k;
                const SndInfo info = ReadWithSndfile(p, true);
                ASSERT_EQ(info.samples, audio.samples) << p;
                ++interrupted;
            }
        }
        // Running the batch again finishes every job a kill interrupted.
        const CliResult again = RunCli({"--loop", "4", "--yes-to-all", batch.string()});
        EXPECT_EQ(again.status, 0) << again.err;
        for (const auto& p : paths) ASSERT_EQ(ReadBytes(p), complete) << p << " after kill " << k;
    }
    std::printf(
        "%d kills, %d files: %d untouched, %d tagged, %d with the chunk behind the form (all completed by "
        "the second run), 0 damaged\n",
        kills, kills * files, untouched, tagged, interrupted);
}

TEST(Reliability, ADryRunSaysWhatTheRunDoesForAUserWhoMayNotWrite) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to run as another user";
    TempDir dir;
    const std::string path = Tone(dir, "roots.wav"), readOnly = Tone(dir, "read-only.wav");
    ::chmod(dir.path().c_str(), 0755);  // owned by root, 0644: nobody may read it, not write it
    ::chmod(readOnly.c_str(), 0444);    // refused as it is, not asked about as read-only first
    const Bytes before = ReadBytes(path), readOnlyBefore = ReadBytes(readOnly);
    const CliResult dry = RunCli({"--loop", "4", "--jobs", "1", "--dry-run", path, readOnly}, RLIM_INFINITY, true);
    const CliResult run = RunCli({"--loop", "4", "--jobs", "1", path, readOnly}, RLIM_INFINITY, true);
    EXPECT_EQ(dry.err, path + ": would be left alone: permission denied\n" + readOnly +
                           ": would be left alone: permission denied\n");
    const auto denied = [](const std::string& f) {
        return "Error: Velorizer did not change the file '" + f + "': permission denied.\n";
    };
    EXPECT_EQ(run.err, denied(path) + denied(readOnly) + "Operation completed.\n");
    EXPECT_EQ(dry.status, 1);
    EXPECT_EQ(run.status, dry.status);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(ReadBytes(readOnly), readOnlyBefore);
}

TEST(Reliability, FilesTaggedAtOnceOnAFullDiskNameEachFailureOnItsOwnLine) {
    TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 24; ++i) files.push_back(Tone(dir, "t" + std::to_string(i) + ".wav"));
    const auto size = static_cast<rlim_t>(ReadBytes(files[0]).size());
    std::vector<std::string> args = {"--one-shot", "--jobs", "8", "--yes-to-all"};
    args.insert(args.end(), files.begin(), files.end());
    const CliResult r = RunCli(args, size);  // no file may grow
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> lines;
    std::istringstream in(r.err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), files.size() + 1) << r.err;
    EXPECT_EQ(lines.back(), "Operation completed.");
    lines.pop_back();
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected;
    for (const auto& f : files)
        expected.push_back("error! Velorizer did not change the file '" + f + "': file too large.");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}
