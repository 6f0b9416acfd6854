#include "VexlorMonitorLink.h"

#include "VexlorPlatform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace modVexlor::monitor {

bool IsMonitorTitle(std::string_view name) {
    return name == kTitle || name.substr(0, kTitlePrefix.size()) == kTitlePrefix;
}

std::string SocketPath(const std::string& title) { return platform::MonitorFolder() + "/" + title; }

std::vector<std::string> ListMonitorTitles() {
    std::vector<std::string> titles;
    const std::string folder = platform::MonitorFolder();
    if (!platform::FolderIsPrivate(folder)) return titles;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return titles;
    while (dirent* e = ::readdir(dir)) {
        if (IsMonitorTitle(e->d_name)) titles.emplace_back(e->d_name);
    }
    ::closedir(dir);
    std::sort(titles.begin(), titles.end());
    return titles;
}

bool Link::Connect(const std::string& socketPath) {
    Close();
    sockaddr_un addr{};
    if (socketPath.size() >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    // Never blocking: a monitor whose backlog is full refuses at once.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !platform::PeerIsThisUser(fd)) {
        ::close(fd);
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
    if (fd_ >= 0) ::close(fd_);
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
    auto ready = [&](short events) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd_, events, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left));
            if (n > 0) return true;  // readiness or hang-up: the next call tells which
            if (n == 0 || errno != EINTR) return false;
        }
    };
    std::string request;
    request.reserve(head.size() + body.size());
    request.append(head).append(body);
    std::string_view rest = request;
    while (!rest.empty()) {
        const ssize_t n = ::send(fd_, rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            rest.remove_prefix(static_cast<std::size_t>(n));
        } else if (!(n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && ready(POLLOUT))))) {
            Close();  // gone, or not reading: dropped for the rest of the run
            return std::nullopt;
        }
    }
    std::string answer;
    char buf[32];
    while (answer.find('\n') == std::string::npos) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0 && answer.size() <= 64) {
            answer.append(buf, static_cast<std::size_t>(n));
        } else if (!(n < 0 && (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && ready(POLLIN))))) {
            Close();  // gone, babbling, or silent past the deadline
            return std::nullopt;
        }
    }
    return static_cast<int32_t>(std::strtol(answer.c_str(), nullptr, 10));
}

}  // namespace modVexlor::monitor
