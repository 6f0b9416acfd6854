#include "VexlorPlatform.h"

#include "WriteAll.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace modVexlor::platform {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    constexpr std::string_view blanks = " \t\r";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::function<uint32_t()>& ClockOverride() {
    static std::function<uint32_t()> f;
    return f;
}
std::function<MemoryStatus()>& MemoryOverride() {
    static std::function<MemoryStatus()> f;
    return f;
}

std::string ReadWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string FormatNow(const char* pattern) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, pattern, &tm);
    return buf;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> text;
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.emplace();
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text->append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return text;
}

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section, std::string_view key) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 mark left by an editor
    bool inSection = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = TrimBlanks(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (inSection) return std::nullopt;  // only the first section of the name counts
            const auto close = line.find(']');
            inSection =
                SameName(TrimBlanks(line.substr(1, close == std::string_view::npos ? close : close - 1)), section);
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || equals == std::string_view::npos || !SameName(TrimBlanks(line.substr(0, equals)), key))
            continue;
        std::string_view value = TrimBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    std::size_t bufferSize, const std::string& fileName) {
    std::string result = defaultValue;
    if (auto text = ReadRegularFile(fileName))
        if (auto value = FindProfileValue(*text, section, key)) result = std::move(*value);
    const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
    if (result.size() > limit) result.resize(limit);
    return result;
}

int OpenFile(const std::string& path, OpenMode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Append: flags |= O_WRONLY | O_APPEND | O_CREAT; break;
        case OpenMode::ReadWrite: flags |= O_RDWR | O_CREAT; break;
        case OpenMode::ReadWriteOnly: flags |= O_RDWR; break;
    }
    return ::open(path.c_str(), flags, 0644);
}

bool WriteAll(int fd, std::string_view bytes) { return velorizer::WriteAll(fd, bytes); }

bool WriteAt(int fd, std::string_view bytes, int64_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

void CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

std::string MakeTempFile(const std::string& pattern) {
    std::string path = pattern;
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    return path;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
}

int ConnectLocalSocket(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // Never blocking: a listener whose backlog is full refuses at once.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

ssize_t SendSome(int fd, std::string_view bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

ssize_t ReceiveSome(int fd, char* buffer, std::size_t size) { return ::recv(fd, buffer, size, MSG_DONTWAIT); }

int WaitReady(int fd, Readiness wanted, int timeoutMs) {
    pollfd p{fd, static_cast<short>(wanted == Readiness::Readable ? POLLIN : POLLOUT), 0};
    const int n = ::poll(&p, 1, timeoutMs);
    return n > 0 ? 1 : n;
}

void Sleep(int milliseconds) { ::poll(nullptr, 0, milliseconds); }

void RaiseDebugTrap() { std::raise(SIGTRAP); }

bool FileExists(const std::string& path) {
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t timeGetTime() {
    if (auto& f = ClockOverride(); f) return f();
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

MemoryStatus ParseMemInfo(const std::string& text) {
    uint64_t totalKb = 0, availKb = 0;
    std::istringstream in(text);
    std::string name;
    uint64_t value = 0;
    std::string unit;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (!(fields >> name >> value)) continue;
        if (name == "MemTotal:") totalKb = value;
        else if (name == "MemAvailable:") availKb = value;
    }
    MemoryStatus st;
    if (totalKb > 0 && availKb <= totalKb) st.MemoryLoad = static_cast<uint32_t>((totalKb - availKb) * 100 / totalKb);
    st.AvailablePhysical = availKb * 1024;
    return st;
}

MemoryStatus GlobalMemoryStatus() {
    if (auto& f = MemoryOverride(); f) return f();
    return ParseMemInfo(ReadWholeFile("/proc/meminfo"));
}

bool DebuggerAttached() {
    std::istringstream in(ReadWholeFile("/proc/self/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
    }
    return false;
}

std::string MonitorFolder() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) return std::string(xdg) + "/vexlor";
    return "/tmp/vexlor-" + std::to_string(::getuid());
}

bool FolderIsPrivate(const std::string& folder) {
    struct stat st = {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool PeerIsThisUser(int socketFd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof peer &&
           peer.uid == ::geteuid();
}

std::string TempFolder() {
    std::string folder = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t && *t) folder = t;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string CurrentDate() { return FormatNow("%m-%d-%Y"); }
std::string CurrentTime() { return FormatNow("%H:%M:%S"); }

namespace {

// The first character of a text: one byte, or a whole UTF-8 sequence.
std::string FirstCharacter(const char* text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    length = std::min(length, std::strlen(text));
    return std::string(text, length);
}

// The user's login name and home folder.
std::pair<std::string, std::string> ThisUser() {
    passwd pw{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return {found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
    return {};
}

}  // namespace

std::string LocaleDecimalSeparator() {
    // The user's locale, whatever the C library's current one is.
    std::string sep;
    if (locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
        locale_t old = uselocale(user);
        if (const char* dp = localeconv()->decimal_point; dp && *dp) sep = FirstCharacter(dp);
        uselocale(old);
        freelocale(user);
    } else if (const char* dp = localeconv()->decimal_point; dp && *dp) {
        sep = FirstCharacter(dp);
    }
    return sep;
}

std::string HostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !*host) return "localhost";
    std::string name = host;
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_UNSPEC;
    addrinfo* found = nullptr;
    if (name.find('.') == std::string::npos && ::getaddrinfo(host, nullptr, &hints, &found) == 0) {
        if (found && found->ai_canonname && std::strchr(found->ai_canonname, '.')) name = found->ai_canonname;
        ::freeaddrinfo(found);
    }
    return name;
}

std::string DefaultMailSender() {
    std::string user = ThisUser().first;
    if (user.empty()) user = "vexlor";
    return user + "@" + HostName();
}

std::string NetrcPath() {
    const char* home = std::getenv("HOME");
    std::string folder = home && *home ? home : ThisUser().second;
    return folder + "/.netrc";
}

void SetClockForTest(std::function<uint32_t()> clock) { ClockOverride() = std::move(clock); }
void SetMemoryStatusForTest(std::function<MemoryStatus()> source) { MemoryOverride() = std::move(source); }

}  // namespace modVexlor::platform
