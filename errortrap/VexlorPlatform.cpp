#include "VexlorPlatform.h"

#include <ini.h>

#include <chrono>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <pwd.h>

namespace modVexlor::platform {

namespace {

struct ProfileLookup {
    const std::string* section;
    const std::string* key;
    std::optional<std::string> value;
};

int ProfileHandler(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<ProfileLookup*>(user);
    if (!lookup->value && strcasecmp(section, lookup->section->c_str()) == 0 &&
        strcasecmp(name, lookup->key->c_str()) == 0)
        lookup->value = value;
    return 1;  // keep going: a malformed line elsewhere must not hide a later key
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

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t bufferSize,
                                    const std::string& fileName) {
    ProfileLookup lookup{&section, &key, std::nullopt};
    std::string result = defaultValue;
    if (ini_parse(fileName.c_str(), ProfileHandler, &lookup) >= 0 && lookup.value) {
        result = *lookup.value;
        if (result.size() >= 2 && result.front() == '"' && result.back() == '"')
            result = result.substr(1, result.size() - 2);
    }
    std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
    if (result.size() > limit) result.resize(limit);
    return result;
}

bool FileExists(const std::string& path) {
    struct stat st{};
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
    if (totalKb > 0 && availKb <= totalKb)
        st.MemoryLoad = static_cast<uint32_t>((totalKb - availKb) * 100 / totalKb);
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

std::string TempFolder() {
    std::string folder = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t && *t) folder = t;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string CurrentDate() { return FormatNow("%m-%d-%Y"); }
std::string CurrentTime() { return FormatNow("%H:%M:%S"); }

std::string LocaleDecimalSeparator() {
    // The user's locale, whatever the C library's current one is.
    std::string sep;
    if (locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
        locale_t old = uselocale(user);
        if (const char* dp = localeconv()->decimal_point; dp && *dp) sep.assign(1, dp[0]);
        uselocale(old);
        freelocale(user);
    } else if (const char* dp = localeconv()->decimal_point; dp && *dp) {
        sep.assign(1, dp[0]);
    }
    return sep;
}

std::string DefaultMailSender() {
    std::string user;
    if (const passwd* pw = ::getpwuid(::getuid())) user = pw->pw_name;
    if (user.empty()) user = "vexlor";
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !*host) std::snprintf(host, sizeof host, "localhost");
    return user + "@" + host;
}

void SetClockForTest(std::function<uint32_t()> clock) { ClockOverride() = std::move(clock); }
void SetMemoryStatusForTest(std::function<MemoryStatus()> source) { MemoryOverride() = std::move(source); }

}  // namespace modVexlor::platform
