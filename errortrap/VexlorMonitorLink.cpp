#include "VexlorMonitorLink.h"

#include "VexlorPlatform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace modVexlor::monitor {

bool IsMonitorTitle(std::string_view name) {
    return name == kTitle || name.substr(0, kTitlePrefix.size()) == kTitlePrefix;
}

std::string SocketPath(const std::string& title) { return platform::MonitorFolder() + "/" + title; }

std::vector<std::string> ListMonitorTitles() {
    std::vector<std::string> titles;
    const std::string folder = platform::MonitorFolder();
    if (!platform::FolderIsPrivate(folder)) return titles;
    for (auto& name : platform::FolderEntries(folder)) {
        if (IsMonitorTitle(name)) titles.push_back(std::move(name));
    }
    std::sort(titles.begin(), titles.end());
    return titles;
}

bool Link::Connect(const std::string& socketPath) {
    Close();
    // Never blocking: a monitor whose backlog is full refuses at once.
    const int fd = platform::ConnectLocalSocket(socketPath);
    if (fd < 0) return false;
    if (!platform::PeerIsThisUser(fd)) {
        platform::CloseFile(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool Link::ConnectFirst() {
    // A monitor that ended without removing its socket refuses the connection;
    // the next one in order is tried.
    for (const auto& title : ListMonitorTitles()) {
        if (Connect(SocketPath(title))) return true;
    }
    return false;
}

void Link::Close() {
    platform::CloseFile(fd_);
    fd_ = -1;
}

std::optional<int32_t> Link::SendText(std::string_view line) {
    std::string head = "T " + std::to_string(line.size()) + "\n";
    return Request(head, line);
}

std::optional<int32_t> Link::Ask(int question) {
    std::string head = "Q " + std::to_string(question) + "\n";
    return Request(head, {});
}

std::optional<int32_t> Link::Request(std::string_view head, std::string_view body) {
    if (fd_ < 0) return std::nullopt;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    // Waits until the socket is ready or the request's time is up.
    auto ready = [&](platform::Readiness wanted) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            const int n = platform::WaitReady(fd_, wanted, static_cast<int>(left));
            if (n > 0) return true;  // readiness or hang-up: the next call tells which
            if (n == 0 || errno != EINTR) return false;
        }
    };
    std::string request;
    request.reserve(head.size() + body.size());
    request.append(head).append(body);
    std::string_view rest = request;
    while (!rest.empty()) {
        const ssize_t n = platform::SendSome(fd_, rest);
        if (n > 0) {
            rest.remove_prefix(static_cast<std::size_t>(n));
        } else if (!(n < 0 && (errno == EINTR ||
                               ((errno == EAGAIN || errno == EWOULDBLOCK) && ready(platform::Readiness::Writable))))) {
            Close();  // gone, or not reading: dropped for the rest of the run
            return std::nullopt;
        }
    }
    std::string answer;
    char buf[32];
    while (answer.find('\n') == std::string::npos) {
        const ssize_t n = platform::ReceiveSome(fd_, buf, sizeof buf);
        if (n > 0 && answer.size() <= 64) {
            answer.append(buf, static_cast<std::size_t>(n));
        } else if (!(n < 0 && (errno == EINTR ||
                               ((errno == EAGAIN || errno == EWOULDBLOCK) && ready(platform::Readiness::Readable))))) {
            Close();  // gone, babbling, or silent past the deadline
            return std::nullopt;
        }
    }
    return static_cast<int32_t>(std::strtol(answer.c_str(), nullptr, 10));
}

}  // namespace modVexlor::monitor
