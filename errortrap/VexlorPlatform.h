#pragma once
// The thin layer between the error-trapping module and the operating system:
// initialisation files, the millisecond clock, memory status, debugger
// detection, the monitor's folder and temporary files. One place each, so that
// tests can drive them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace modVexlor::platform {

// Reads one value of an initialisation file the way the profile API does:
// section and key names compare without regard to case, the first matching
// section and key win, a value in double quotes loses them, the value is cut to
// bufferSize - 1 characters, and a missing file, section or key gives the
// default (cut the same way). Debian's inih reads lines of up to 200
// characters and drops a " ;" comment at the end of a value: a value longer
// than about 190 characters is cut there, before the buffer size applies.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t bufferSize,
                                    const std::string& fileName);

bool FileExists(const std::string& path);

// Steady millisecond count; wraps like a 32-bit tick counter.
uint32_t timeGetTime();

struct MemoryStatus {
    uint32_t MemoryLoad = 0;        // percent of physical memory in use
    uint64_t AvailablePhysical = 0;  // bytes
};
// Parses the kernel's /proc/meminfo text.
MemoryStatus ParseMemInfo(const std::string& text);
MemoryStatus GlobalMemoryStatus();

// True when a debugger is attached to this process (TracerPid in /proc/self/status).
bool DebuggerAttached();

// Per-user folder where monitors announce themselves: $XDG_RUNTIME_DIR/vexlor,
// else /tmp/vexlor-<uid>.
std::string MonitorFolder();

// Folder for temporary files ($TMPDIR, else /tmp), without a trailing separator.
std::string TempFolder();

// The current local date as mm-dd-yyyy and time as hh:mm:ss, whatever the locale.
std::string CurrentDate();
std::string CurrentTime();

// The user's decimal separator (first character of the locale's, or empty).
std::string LocaleDecimalSeparator();

// Login name and host name for the default sender of mailed reports.
std::string DefaultMailSender();

// Test hooks: replace the clock, the memory status and the debugger test.
// An empty function restores the real one.
void SetClockForTest(std::function<uint32_t()> clock);
void SetMemoryStatusForTest(std::function<MemoryStatus()> source);

}  // namespace modVexlor::platform
