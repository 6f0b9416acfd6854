#include "VexlorMonitorLink.h"

#include "VexlorPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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
    DIR* dir = ::opendir(platform::MonitorFolder().c_str());
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
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
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
    auto sendAll = [this](std::string_view data) {
        while (!data.empty()) {
            ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    };
    if (!sendAll(head) || !sendAll(body)) {
        Close();
        return std::nullopt;
    }
    std::string answer;
    char buf[32];
    while (answer.find('\n') == std::string::npos) {
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || answer.size() > 64) {
            // The monitor went away: the link is dead for the rest of the run.
            Close();
            return std::nullopt;
        }
        answer.append(buf, static_cast<std::size_t>(n));
    }
    return static_cast<int32_t>(std::strtol(answer.c_str(), nullptr, 10));
}

}  // namespace modVexlor::monitor
