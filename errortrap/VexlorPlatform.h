#pragma once
// The thin layer between the error-trapping module and the operating system:
// initialisation files, log files, local sockets, the millisecond clock,
// memory status, debugger detection, the monitor's folder and its peers, and
// temporary files. One place each, so that tests can drive them. Nothing here
// raises: failures come back as results, with errno as the system left it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace modVexlor::platform {

// Reads one value of an initialisation file by the rules of the profile API:
// - one entry per line, whatever its length; no continuation lines;
// - "[name]" opens a section; "key=value" is an entry, split at the first "=";
//   blanks around section names, keys and values don't count;
// - a line whose first non-blank character is ";" is a comment; anywhere else
//   ";" is part of the text;
// - section and key names compare without regard to case; only the first
//   section of the name is searched, and its first entry for the key wins;
// - a value in double quotes loses them; the value is cut to bufferSize - 1
//   characters; a missing file, section or key gives the default, cut the same way.
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    std::size_t bufferSize, const std::string& fileName);
// The same lookup in a file's text; nothing when the section or key is missing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section, std::string_view key);

bool FileExists(const std::string& path);
// The whole content of a regular file; nothing for a missing file or anything
// else (a FIFO put in the file's place can't hold the caller).
std::optional<std::string> ReadRegularFile(const std::string& path);

// ---- Log files: opened, written and closed per use -------------------------

enum class OpenMode {
    Append,         // writing at the end, created when missing
    ReadWrite,      // reading and writing anywhere, created when missing
    ReadWriteOnly,  // the same, but only a file that exists
};
// A descriptor of the file (close-on-exec, mode 0644 when created), or -1.
int OpenFile(const std::string& path, OpenMode mode);
// Writes all of `bytes` at the file's position, or at `offset`; false when
// any of it could not be written.
bool WriteAll(int fd, std::string_view bytes);
bool WriteAt(int fd, std::string_view bytes, int64_t offset);
void CloseFile(int fd);
// Makes a new empty file of this user's own from a pattern ending in "XXXXXX";
// its path, or empty when none could be made.
std::string MakeTempFile(const std::string& pattern);
void RemoveFile(const std::string& path);
// Names in a folder, "." and ".." included; none when it can't be read.
std::vector<std::string> FolderEntries(const std::string& folder);

// ---- Local stream sockets, never blocking ----------------------------------

// Connects to the socket at `path`: its descriptor, or -1 (also for a path too
// long for a socket address).
int ConnectLocalSocket(const std::string& path);
// One send or receive: the bytes moved, or -1 with errno (EAGAIN when it would block).
ssize_t SendSome(int fd, std::string_view bytes);
ssize_t ReceiveSome(int fd, char* buffer, std::size_t size);
enum class Readiness { Readable, Writable };
// Waits up to timeoutMs for the socket to be ready (or hung up): 1 when it
// is, 0 when the time is up, -1 with errno.
int WaitReady(int fd, Readiness wanted, int timeoutMs);

// Sleeps for a few milliseconds.
void Sleep(int milliseconds);
// Stops the process where it is, so that a debugger takes over (SIGTRAP).
void RaiseDebugTrap();

// ---- Clock, memory, debugger ------------------------------------------------

// Steady millisecond count; wraps like a 32-bit tick counter.
uint32_t timeGetTime();

struct MemoryStatus {
    uint32_t MemoryLoad = 0;         // percent of physical memory in use
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

// Whether a folder can be trusted with this user's sockets: a real folder, not
// a symbolic link, owned by this user and writable by no one else. In /tmp
// anyone could have made it first.
bool FolderIsPrivate(const std::string& folder);

// Whether the process at the other end of a connected local socket runs as
// this user (SO_PEERCRED).
bool PeerIsThisUser(int socketFd);

// Folder for temporary files ($TMPDIR, else /tmp), without a trailing separator.
std::string TempFolder();

// The current local date as mm-dd-yyyy and time as hh:mm:ss, whatever the locale.
std::string CurrentDate();
std::string CurrentTime();

// The user's decimal separator: the locale's first character, whole however
// many bytes it takes (U+066B is two), or empty.
std::string LocaleDecimalSeparator();

// The default sender of mailed reports: login@ the host's fully qualified name,
// or its plain name when it has none. May ask the resolver: call it off the
// user-interface thread.
std::string DefaultMailSender();
// The host's fully qualified name where it has one, else its plain name.
std::string HostName();

// The netrc file that holds the user's mail credentials ($HOME/.netrc).
std::string NetrcPath();

// Test hooks: replace the clock, the memory status and the debugger test.
// An empty function restores the real one.
void SetClockForTest(std::function<uint32_t()> clock);
void SetMemoryStatusForTest(std::function<MemoryStatus()> source);

}  // namespace modVexlor::platform
