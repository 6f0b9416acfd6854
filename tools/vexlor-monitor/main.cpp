// vexlor-monitor: announces itself under a title in the per-user monitor
// folder, prints every trace line that an instrumented program sends, and can
// hold that program paused on a line that matches a pattern. The program waits
// for each answer, so the monitor answers first and prints afterwards, from a
// thread of its own: a reader that stops reading never holds the program up.

#include "VexlorMonitorLink.h"
#include "VexlorPlatform.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <regex.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace monitor = modVexlor::monitor;

const char* const kUsage =
    "Usage: vexlor-monitor [OPTIONS]\n"
    "\n"
    "Shows the trace lines of programs instrumented with Vexlor. A program looks\n"
    "for a monitor when its error trapping starts; start the monitor first.\n"
    "Every line received is printed to standard output.\n"
    "\n"
    "Options:\n"
    "  --title TITLE          announce under TITLE (default \"Orvane Vexlor\"); programs\n"
    "                         find \"Orvane Vexlor\" or \"Orvane Vexlor -\" + anything,\n"
    "                         the first in name order\n"
    "  --pause-on REGEX       hold the program paused (its windows disabled) on a line\n"
    "                         that matches REGEX (POSIX extended, searched anywhere)\n"
    "  --resume-after SECONDS end a pause after SECONDS (0 to 1000000); a key press\n"
    "                         on standard input ends it in any case\n"
    "  --help                 show this text\n"
    "\n"
    "The monitor's socket lives in $XDG_RUNTIME_DIR/vexlor, or /tmp/vexlor-<uid>\n"
    "when XDG_RUNTIME_DIR is not set; that folder must be the user's own and\n"
    "writable by no one else. When standard output is not read, trace lines are\n"
    "kept up to 8 MiB, then dropped (said on standard error); the program is never\n"
    "held up. Exit status: 0 on SIGINT/SIGTERM, 1 when the title is taken or the\n"
    "socket cannot be made, 2 on bad usage.\n";

constexpr double kMaxResumeSeconds = 1e6;
constexpr std::size_t kLineBufferBytes = 8u << 20;

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }
// SIGINT and SIGTERM stay blocked everywhere but inside the main loop's wait,
// so they always interrupt that wait, never a writer thread or the moment
// between the test of stopRequested and the wait.
sigset_t waitMask;

// A compiled POSIX extended regular expression.
class Pattern {
public:
    Pattern() = default;
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;
    ~Pattern() {
        if (compiled_) ::regfree(&re_);
    }
    // The compiler's complaint, or empty when the pattern is good.
    std::string Compile(const std::string& text) {
        if (compiled_) ::regfree(&re_);
        int rc = ::regcomp(&re_, text.c_str(), REG_EXTENDED | REG_NOSUB);
        compiled_ = rc == 0;
        if (compiled_) return {};
        char buf[256];
        ::regerror(rc, &re_, buf, sizeof buf);
        return buf;
    }
    bool Set() const { return compiled_; }
    bool Search(const std::string& line) const {
        return compiled_ && ::regexec(&re_, line.c_str(), 0, nullptr, 0) == 0;
    }

private:
    regex_t re_{};
    bool compiled_ = false;
};

struct Options {
    std::string title = std::string(monitor::kTitle);
    Pattern pauseOn;
    std::optional<double> resumeAfter;
};

struct Client {
    int fd;
    std::string buffer;
};

bool MakeFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    // A real folder of ours that no one else can write to, as programs demand.
    return modVexlor::platform::FolderIsPrivate(folder);
}

// Writes texts to one descriptor from a thread of its own, keeping at most
// `limit` bytes waiting; what doesn't fit is refused.
class Writer {
public:
    Writer(int fd, std::size_t limit) : fd_(fd), limit_(limit) {
        // Detached: at exit it may still be blocked on a reader that never reads.
        std::thread([this] { Run(); }).detach();
    }
    bool Put(std::string text) {
        std::lock_guard lock(m_);
        if (waiting_ + text.size() > limit_) return false;
        waiting_ += text.size();
        queue_.push_back(std::move(text));
        wake_.notify_one();
        return true;
    }
    // Waits up to `bound` for everything to be written.
    bool Drain(std::chrono::milliseconds bound) {
        std::unique_lock lock(m_);
        return idle_.wait_for(lock, bound, [this] { return waiting_ == 0; });
    }

private:
    void Run() {
        std::unique_lock lock(m_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.empty(); });
            const std::string text = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            for (std::size_t done = 0; done < text.size();) {
                const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;  // output closed: the text is lost, as a print to it would be
                done += static_cast<std::size_t>(n);
            }
            lock.lock();
            waiting_ -= text.size();
            if (waiting_ == 0) idle_.notify_all();
        }
    }

    const int fd_;
    const std::size_t limit_;
    std::mutex m_;
    std::condition_variable wake_, idle_;
    std::deque<std::string> queue_;
    std::size_t waiting_ = 0;
};

// The monitor's two outputs. Trace lines that find standard output's buffer
// full are dropped; standard error says so when it starts and how many once
// lines get through again.
class Output {
public:
    void Line(std::string text) {
        if (out_.Put(std::move(text))) {
            if (dropped_ > 0) Notice("vexlor-monitor: " + std::to_string(dropped_) + " trace lines were dropped\n");
            dropped_ = 0;
        } else if (dropped_++ == 0) {
            Notice("vexlor-monitor: standard output is not being read; dropping trace lines\n");
        }
    }
    void Notice(std::string text) { err_.Put(std::move(text)); }
    void Drain(std::chrono::milliseconds bound) {
        out_.Drain(bound);
        err_.Drain(bound);
    }

private:
    Writer out_{STDOUT_FILENO, kLineBufferBytes};
    Writer err_{STDERR_FILENO, 1u << 20};
    unsigned long dropped_ = 0;
};

// Never blocks: a program that doesn't take its answers is dropped.
bool Answer(int fd, long value) {
    const std::string text = std::to_string(value) + "\n";
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(text.size());
}

struct Monitor {
    Options options;
    Output* output = nullptr;
    bool paused = false;
    std::optional<Clock::time_point> resumeAt;

    void Pause() {
        paused = true;
        resumeAt.reset();
        if (options.resumeAfter)
            resumeAt = Clock::now() + std::chrono::milliseconds(std::llround(*options.resumeAfter * 1000));
        output->Notice("vexlor-monitor: program paused; press a key to resume\n");
    }
    void Resume(const char* why) {
        if (!paused) return;
        paused = false;
        output->Notice(std::string("vexlor-monitor: program resumed (") + why + ")\n");
    }

    // Handles every complete request in the client's buffer; false when the
    // client must be dropped.
    bool Serve(Client& c) {
        for (;;) {
            auto nl = c.buffer.find('\n');
            if (nl == std::string::npos) return true;
            const std::string head = c.buffer.substr(0, nl);
            if (head.rfind("T ", 0) == 0) {
                std::size_t length = std::strtoul(head.c_str() + 2, nullptr, 10);
                if (c.buffer.size() < nl + 1 + length) return true;
                std::string line = c.buffer.substr(nl + 1, length);
                c.buffer.erase(0, nl + 1 + length);
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
                const bool pause = !paused && options.pauseOn.Search(line);
                if (!Answer(c.fd, pause ? monitor::kPauseAnswer : 0)) return false;
                output->Line(line + "\n");
                if (pause) Pause();
                continue;
            }
            c.buffer.erase(0, nl + 1);
            long answer = 0;
            if (head == "Q 1") answer = paused ? 1 : 0;
            else if (head == "Q 2") answer = paused ? 0 : 1;
            if (!Answer(c.fd, answer)) return false;
        }
    }
};

int Run(Monitor& mon) {
    const std::string folder = modVexlor::platform::MonitorFolder();
    if (!MakeFolder(folder)) {
        std::fprintf(stderr,
                     "vexlor-monitor: cannot use folder %s: it must be a folder of yours that no one else can "
                     "write to\n",
                     folder.c_str());
        return 1;
    }
    const std::string path = monitor::SocketPath(mon.options.title);
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "vexlor-monitor: title too long\n");
        return 1;
    }
    {
        modVexlor::monitor::Link probe;
        if (probe.Connect(path)) {
            std::fprintf(stderr, "vexlor-monitor: a monitor titled \"%s\" is already running\n",
                         mon.options.title.c_str());
            return 1;
        }
    }
    ::unlink(path.c_str());  // left by a monitor that did not end cleanly
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 8) != 0) {
        std::fprintf(stderr, "vexlor-monitor: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    // Outlives Run: its writer threads may still be blocked at exit.
    static auto* output = new Output;
    mon.output = output;
    output->Notice("vexlor-monitor: listening as \"" + mon.options.title + "\"\n");

    std::vector<Client> clients;
    bool stdinOpen = true;
    while (!stopRequested) {
        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        fds.push_back({stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
        for (auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
        int timeout = -1;
        if (mon.paused && mon.resumeAt) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*mon.resumeAt - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(0, left));
        }
        timespec limit{timeout / 1000, (timeout % 1000) * 1000000L};
        int n = ::ppoll(fds.data(), fds.size(), timeout < 0 ? nullptr : &limit, &waitMask);
        if (n < 0 && errno != EINTR) break;
        if (mon.paused && mon.resumeAt && Clock::now() >= *mon.resumeAt) mon.Resume("time");
        if (n <= 0) continue;
        if (fds[1].revents) {
            char buf[256];
            ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
            if (got <= 0) stdinOpen = false;  // no keyboard: only the timer can resume
            else mon.Resume("key");
        }
        if (fds[0].revents & POLLIN) {
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            // Only programs of this user are heard.
            if (fd >= 0 && modVexlor::platform::PeerIsThisUser(fd)) clients.push_back({fd, {}});
            else if (fd >= 0) ::close(fd);
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            Client& c = clients[i - 2];
            char buf[4096];
            ssize_t got = ::recv(c.fd, buf, sizeof buf, 0);
            if (got <= 0) {
                ::close(c.fd);
                c.fd = -1;
                continue;
            }
            c.buffer.append(buf, static_cast<std::size_t>(got));
            if (!mon.Serve(c)) {
                ::close(c.fd);
                c.fd = -1;
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (auto& c : clients) ::close(c.fd);
    ::close(listener);
    ::unlink(path.c_str());
    output->Drain(std::chrono::seconds(1));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Monitor mon;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vexlor-monitor: %s needs a value\n%s", arg.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--title") {
            mon.options.title = value();
        } else if (arg == "--pause-on") {
            std::string pattern = value();
            if (std::string problem = mon.options.pauseOn.Compile(pattern); !problem.empty()) {
                std::fprintf(stderr, "vexlor-monitor: bad pattern \"%s\": %s\n", pattern.c_str(), problem.c_str());
                return 2;
            }
        } else if (arg == "--resume-after") {
            std::string text = value();
            char* end = nullptr;
            double seconds = std::strtod(text.c_str(), &end);
            // Beyond the maximum the deadline would overflow into "at once".
            if (end == text.c_str() || *end || !(seconds >= 0 && seconds <= kMaxResumeSeconds)) {
                std::fprintf(stderr, "vexlor-monitor: bad time \"%s\": give 0 to %.0f seconds\n", text.c_str(),
                             kMaxResumeSeconds);
                return 2;
            }
            mon.options.resumeAfter = seconds;
        } else {
            std::fprintf(stderr, "vexlor-monitor: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (mon.options.title.empty() || mon.options.title.find('/') != std::string::npos) {
        std::fprintf(stderr, "vexlor-monitor: a title can't be empty or hold \"/\"\n");
        return 2;
    }
    if (!monitor::IsMonitorTitle(mon.options.title))
        std::fprintf(stderr, "vexlor-monitor: warning: programs only look for \"Orvane Vexlor\" titles\n");

    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &waitMask);

    // In a terminal a single key press resumes, without waiting for Enter.
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    int rc = Run(mon);
    if (terminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return rc;
}
