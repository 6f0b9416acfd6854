// vexlor-monitor: announces itself under a title in the per-user monitor
// folder, prints every trace line that an instrumented program sends, and can
// hold that program paused on a line that matches a pattern.

#include "VexlorMonitorLink.h"
#include "VexlorPlatform.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
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
    "  --resume-after SECONDS end a pause after SECONDS; a key press on standard\n"
    "                         input ends it in any case\n"
    "  --help                 show this text\n"
    "\n"
    "The monitor's socket lives in $XDG_RUNTIME_DIR/vexlor, or /tmp/vexlor-<uid>\n"
    "when XDG_RUNTIME_DIR is not set. Exit status: 0 on SIGINT/SIGTERM, 1 when the\n"
    "title is taken or the socket cannot be made, 2 on bad usage.\n";

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

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
    bool Search(const std::string& line) const { return compiled_ && ::regexec(&re_, line.c_str(), 0, nullptr, 0) == 0; }

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
    struct stat st{};
    // The folder must be a real folder of ours, not someone else's or a link.
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

void Answer(int fd, long value) {
    std::string text = std::to_string(value) + "\n";
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) < 0) {
        // The program is gone; its connection is dropped on the next read.
    }
}

struct Monitor {
    Options options;
    bool paused = false;
    std::optional<Clock::time_point> resumeAt;

    void Pause() {
        paused = true;
        resumeAt.reset();
        if (options.resumeAfter)
            resumeAt = Clock::now() + std::chrono::milliseconds(static_cast<long>(*options.resumeAfter * 1000));
        std::fprintf(stderr, "vexlor-monitor: program paused; press a key to resume\n");
    }
    void Resume(const char* why) {
        if (!paused) return;
        paused = false;
        std::fprintf(stderr, "vexlor-monitor: program resumed (%s)\n", why);
    }

    // Handles every complete request in the client's buffer.
    void Serve(Client& c) {
        for (;;) {
            auto nl = c.buffer.find('\n');
            if (nl == std::string::npos) return;
            const std::string head = c.buffer.substr(0, nl);
            if (head.rfind("T ", 0) == 0) {
                std::size_t length = std::strtoul(head.c_str() + 2, nullptr, 10);
                if (c.buffer.size() < nl + 1 + length) return;
                std::string line = c.buffer.substr(nl + 1, length);
                c.buffer.erase(0, nl + 1 + length);
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::fputc('\n', stdout);
                std::fflush(stdout);
                bool pause = !paused && options.pauseOn.Search(line);
                if (pause) Pause();
                Answer(c.fd, pause ? monitor::kPauseAnswer : 0);
            } else if (head == "Q 1") {
                c.buffer.erase(0, nl + 1);
                Answer(c.fd, paused ? 1 : 0);
            } else if (head == "Q 2") {
                c.buffer.erase(0, nl + 1);
                Answer(c.fd, paused ? 0 : 1);
            } else {
                c.buffer.erase(0, nl + 1);
                Answer(c.fd, 0);
            }
        }
    }
};

int Run(Monitor& mon) {
    const std::string folder = modVexlor::platform::MonitorFolder();
    if (!MakeFolder(folder)) {
        std::fprintf(stderr, "vexlor-monitor: cannot use folder %s\n", folder.c_str());
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
    std::fprintf(stderr, "vexlor-monitor: listening as \"%s\"\n", mon.options.title.c_str());

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
        int n = ::poll(fds.data(), fds.size(), timeout);
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
            if (fd >= 0) clients.push_back({fd, {}});
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
            mon.Serve(c);
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (auto& c : clients) ::close(c.fd);
    ::close(listener);
    ::unlink(path.c_str());
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
            if (end == text.c_str() || *end || seconds < 0) {
                std::fprintf(stderr, "vexlor-monitor: bad time \"%s\"\n", text.c_str());
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

    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

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
