// Runs the built velorize as a real process, without a terminal, and reads
// back what it printed. Shared by the command-line tests.
#pragma once

#include "TestSupport.h"

#include <algorithm>
#include <functional>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace clisupport {

using testsupport::Bytes;
using testsupport::TempDir;

inline const std::string kVelorize = std::string(VELORIZER_BIN_DIR) + "/velorize";

struct CliRun {
    int status = -1;
    std::string out, err;
};

// How a run is started: its journal setting, resource limits, and whether it
// stops for this process's ptrace before it begins.
struct RunEnv {
    const char* journal = nullptr;
    rlim_t fileSize = RLIM_INFINITY;
    rlim_t openFiles = 0;  // 0: as inherited
    bool traced = false;
    const char* stdoutTo = nullptr;  // a file standard output goes to instead
    bool brokenPipe = false;         // standard output a pipe no one reads, SIGPIPE ignored
};

// A string for a shell, quoted whatever bytes it holds.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string Text(const std::string& path) {
    const Bytes b = testsupport::ReadBytes(path);
    return std::string(b.begin(), b.end());
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Messages of files tagged at once come in the order the files were done.
inline std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::map<std::string, Bytes> Snapshot(const std::vector<std::string>& files) {
    std::map<std::string, Bytes> all;
    for (const auto& f : files) all[f] = testsupport::ReadBytes(f);
    return all;
}

// A file's permission bits.
inline unsigned Mode(const std::string& path) {
    struct stat st = {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Starts `program` with stdin from /dev/null and its output in
// `outputs`.out/.err (FIFOs already there with `fifos`), its journal folder
// under `state`.
inline pid_t Start(const std::string& program, const std::vector<std::string>& args, const std::string& state,
                   const std::string& outputs, const RunEnv& env = {}, bool fifos = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (env.traced && (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0 || ::raise(SIGSTOP) != 0)) ::_exit(126);
        const rlimit size{env.fileSize, env.fileSize}, files{env.openFiles, env.openFiles};
        if (::setrlimit(RLIMIT_FSIZE, &size) != 0 || (env.openFiles && ::setrlimit(RLIMIT_NOFILE, &files) != 0))
            ::_exit(126);
        // Only the three standard streams: a test of a low limit counts on it.
        const auto to = [](int fd, int target) {
            ::dup2(fd, target);
            ::close(fd);
        };
        to(::open("/dev/null", O_RDONLY), 0);
        const int create = fifos ? 0 : O_CREAT | O_TRUNC;
        if (env.brokenPipe) {
            int p[2];
            if (::pipe(p) != 0) ::_exit(126);
            ::close(p[0]);
            to(p[1], 1);
            ::signal(SIGPIPE, SIG_IGN);
        } else if (env.stdoutTo) {
            to(::open(env.stdoutTo, O_WRONLY), 1);
        } else {
            to(::open((outputs + ".out").c_str(), O_WRONLY | create, 0600), 1);
        }
        to(::open((outputs + ".err").c_str(), O_WRONLY | create, 0600), 2);
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        if (env.journal) ::setenv("VELORIZER_JOURNAL", env.journal, 1);
        if (env.traced) {
            // The leak checker can't run under a tracer, and says so at exit.
            const char* asan = ::getenv("ASAN_OPTIONS");
            ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

inline CliRun Run(const std::string& program, const std::vector<std::string>& args, const TempDir& dir,
                  const RunEnv& env = {}) {
    const std::string outputs = dir / "run";
    int status = 0;
    ::unlink((outputs + ".out").c_str());  // what an earlier run printed
    if (env.fileSize == RLIM_INFINITY) {
        ::waitpid(Start(program, args, dir / "state", outputs, env), &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text(outputs + ".out"), Text(outputs + ".err")};
    }
    // A file size limit applies to the files the output goes to as well: the
    // output comes through FIFOs then, which no limit cuts.
    const std::string fifos[2] = {outputs + "-fifo.out", outputs + "-fifo.err"};
    for (const auto& f : fifos) ::mkfifo(f.c_str(), 0600);
    int pipes[2] = {-1, -1};
    std::string text[2];
    const pid_t pid = Start(program, args, dir / "state", outputs + "-fifo", env, true);
    for (int i = 0; i < 2; ++i) pipes[i] = ::open(fifos[i].c_str(), O_RDONLY);
    for (int open = 2; open > 0;) {
        pollfd p[2] = {{pipes[0], POLLIN, 0}, {pipes[1], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (pipes[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(pipes[i], buf, sizeof buf);
            if (n > 0) text[i].append(buf, static_cast<size_t>(n));
            else ::close(pipes[i]), pipes[i] = -1, --open;
        }
    }
    ::waitpid(pid, &status, 0);
    for (const auto& f : fifos) ::unlink(f.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text[0], text[1]};
}

// Lets a process started with `traced` run to its end, calling `entered` at
// the entry of every system call of every one of its threads, before the call
// does anything; `entered` may act meanwhile (change a file, kill the process).
inline void TraceSyscalls(pid_t pid, const std::function<void(long nr)>& entered) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE);
    for (pid_t tid = pid;;) {
        long sig = 0;
        if (WIFSTOPPED(status) && WSTOPSIG(status) != (SIGTRAP | 0x80) && WSTOPSIG(status) != SIGTRAP &&
            WSTOPSIG(status) != SIGSTOP)
            sig = WSTOPSIG(status);  // not the stop of exec, of a new thread or of a thread's start
        if (WIFSTOPPED(status)) ::ptrace(PTRACE_SYSCALL, tid, nullptr, sig);
        tid = ::waitpid(-1, &status, __WALL);
        if (tid < 0 || (tid == pid && !WIFSTOPPED(status))) return;
        if (!WIFSTOPPED(status) || WSTOPSIG(status) != (SIGTRAP | 0x80)) continue;
        __ptrace_syscall_info info{};
        if (::ptrace(PTRACE_GET_SYSCALL_INFO, tid, sizeof info, &info) <= 0 || info.op != PTRACE_SYSCALL_INFO_ENTRY)
            continue;
        entered(static_cast<long>(info.entry.nr));
    }
}

// velorize on a terminal of its own, its messages in `dir`/log, its journal
// in `dir`/state; the caller answers through `master`.
inline pid_t OnATerminal(const TempDir& dir, const std::vector<std::string>& args, int& master) {
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::dup2(::open((dir / "log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
        std::vector<char*> argv{const_cast<char*>("velorize")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(kVelorize.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// Reads the terminal, adding to `seen`, until velorize asks its next question.
inline bool WaitForQuestion(int master, std::string& seen) {
    const size_t from = seen.size();
    char buf[512];
    for (ssize_t n; seen.find("[C]ancel: ", from) == std::string::npos && (n = ::read(master, buf, sizeof buf)) > 0;)
        seen.append(buf, static_cast<size_t>(n));
    return seen.find("[C]ancel: ", from) != std::string::npos;
}

inline bool WaitForQuestion(int master) {
    std::string seen;
    return WaitForQuestion(master, seen);
}

// Reads the terminal to its end, adding to `seen`, and returns the exit status.
inline int Finish(pid_t pid, int master, std::string* seen = nullptr) {
    char buf[512];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
        if (seen) seen->append(buf, static_cast<size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// velorize, its journal in `dir`/state.
inline CliRun Velorize(const std::vector<std::string>& args, const TempDir& dir, const RunEnv& env = {}) {
    return Run(kVelorize, args, dir, env);
}

}  // namespace clisupport
