#include "VexlorTestSupport.h"

#include "VexlorMonitorLink.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vxtest {

int RecorderHost::MsgBox(const std::string& prompt, int style, const std::string& caption) {
    if (failNextBoxes > 0) {
        --failNextBoxes;
        throw vb::RunTimeError(401);
    }
    boxes.push_back({prompt, style, caption});
    if (answers.empty()) return modVexlor::vbOK;
    int a = answers.front();
    answers.pop_front();
    return a;
}

void RecorderHost::DoEvents() {
    ++events;
    if (onEvents) onEvents(events);
}

void VexlorTest::SetUp() {
    char tmpl[] = "/tmp/vexlor-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::create_directories(dir / "run");
    std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(dir / "tmp");
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    namespace t = modVexlor::testhooks;
    t::Reset();
    t::SetApplicationFolder(dir.string());
    t::SetExecutableName("velorun");
    t::SetDevelopmentEnvironment(false);
    t::SetMailTimeouts(10000, 30000);
    modVexlor::SetHost(&host);
    modVexlor::platform::SetClockForTest([this] {
        ++clockReads;
        return clockMs;
    });
    modVexlor::platform::SetMemoryStatusForTest([] { return modVexlor::platform::MemoryStatus{42, 123456789}; });
}

void VexlorTest::TearDown() {
    modVexlor::testhooks::Reset();
    modVexlor::SetHost(nullptr);
    modVexlor::platform::SetClockForTest({});
    modVexlor::platform::SetMemoryStatusForTest({});
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void VexlorTest::WriteIni(const std::string& text) { std::ofstream(dir / "VXCLIENT.INI", std::ios::binary) << text; }

std::string VexlorTest::ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> VexlorTest::CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

Child::Child(const std::vector<std::string>& argv, bool pipeStdin, bool mergeStderr) {
    int inPipe[2] = {-1, -1};
    int outPipe[2];
    if (pipeStdin && ::pipe2(inPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (::pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeStdin) posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    if (mergeStderr) posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeStdin) ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (rc != 0) throw std::runtime_error("spawn " + argv[0]);
    in_ = inPipe[1];
    out_ = outPipe[0];
}

Child::~Child() {
    if (pid_ > 0) {
        Kill(SIGTERM);
        Wait();
    }
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) ::close(out_);
}

bool Child::ReadLine(std::string& line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto nl = buffered_.find('\n'); nl != std::string::npos) {
            line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[4096];
        ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) return false;
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
}

void Child::WriteStdin(const std::string& text) {
    if (::write(in_, text.data(), text.size()) < 0) throw std::runtime_error("write to child");
}

void Child::Kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

int Child::Wait() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) pid_ = -1;
    return status;
}

namespace {
sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}
}  // namespace

Listener::Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("listen");
    port = ntohs(a.sin_port);
}

void Listener::Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool WaitForPort(int port, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = Loopback(port);
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool WaitForMonitor(const std::string& title, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        modVexlor::monitor::Link probe;
        if (probe.Connect(modVexlor::monitor::SocketPath(title))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool MatchesShape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool ok = shape[i] == '#' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == shape[i];
        if (!ok) return false;
    }
    return true;
}

std::string MonitorProgram() { return std::string(VELORIZER_BIN_DIR) + "/vexlor-monitor"; }

}  // namespace vxtest
