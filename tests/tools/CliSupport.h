// Runs the built velorize as a real process, without a terminal, and reads
// back what it printed. Shared by the command-line tests.
#pragma once

#include "TestSupport.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <map>
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
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Starts `program` with stdin from /dev/null and its output in
// `outputs`.out/.err, its journal folder under `state`.
inline pid_t Start(const std::string& program, const std::vector<std::string>& args, const std::string& state,
                   const std::string& outputs, const RunEnv& env = {}) {
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
        to(::open((outputs + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        to(::open((outputs + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        if (env.journal) ::setenv("VELORIZER_JOURNAL", env.journal, 1);
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
    ::waitpid(Start(program, args, dir / "state", outputs, env), &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text(outputs + ".out"), Text(outputs + ".err")};
}

// velorize, its journal in `dir`/state.
inline CliRun Velorize(const std::vector<std::string>& args, const TempDir& dir, const RunEnv& env = {}) {
    return Run(kVelorize, args, dir, env);
}

}  // namespace clisupport
