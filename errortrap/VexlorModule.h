#pragma once
// Inside the error-trapping module: the one object that holds its state, what
// tests put in place of the program's surroundings, and the text helpers the
// parts share. Every part stands on this file; it knows none of them.

#include "VexlorMonitorLink.h"
#include "VexlorState.h"

#include <optional>
#include <string>
#include <string_view>

namespace modVexlor::detail {

inline constexpr std::string_view kCrLf = "\r\n";
inline constexpr std::string_view kVersion = "5.00.04 (for Visual Basic 5.0)";
inline constexpr int kMaxRemoteLevels = kErrorLevels - 1;

// Everything the module keeps from start-up to the end of the process.
struct Module {
    Module() = default;
    ~Module();  // closes the circular log; the monitor link closes itself
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Whether entries and exits write trace lines; asked on every call.
    bool TraceActive() const {
        return settings.CaptureToDisk || settings.CircularLogEnabled || settings.MonitorAttached;
    }

    bool initialised = false;
    SettingsType settings;
    std::array<std::string, kMaxDepth + 1> callStack;
    std::array<Milliseconds4, kMaxDepth + 1> levelElapsed{};
    int16_t callDepth = 0;
    uint32_t traceSequence = 0;
    uint32_t startTicks = 0;
    Milliseconds4 pushOverhead = 0;
    Milliseconds4 popOverhead = 0;
    Milliseconds4 pendingTick = 0;
    std::string appTag;
    std::string projectSource;
    ErrorRecordType errorRecord;
    int16_t remoteLevelCount = 0;
    std::array<std::string, kMaxDepth + 1> callTreeSnapshot;
    int circularFd = -1;
    int16_t circularSlot = 0;
    monitor::Link monitorLink;
};

// The module of this process. Never destroyed: instrumented code may still run
// while static objects go. Tests replace it by a fresh one (testhooks::Reset).
extern Module* current;
inline Module& TheModule() { return *current; }

// What tests put in place of the program's surroundings; a fresh module keeps them.
struct Hooks {
    std::string applicationFolder;
    std::string executableName;
    std::optional<bool> developmentEnvironment;
    long mailConnectMs = 10000;
    long mailTotalMs = 30000;
    std::optional<std::string> decimalSeparator;
};
extern Hooks hooks;

// ---- Text helpers: blanks-only trimming and leading-number parsing, as the logs expect ----

// A number as the runtime's Str writes it: a leading blank for a sign it doesn't show.
std::string Str(long value);
std::string_view TrimBlanks(std::string_view s);
bool EqualNoCase(std::string_view a, std::string_view b);
// The number at the start of a text; text without a leading number counts as 0.
double Val(std::string_view s);
// A whole text converted to a 16-bit integer, rounded half to even; nothing
// when it is not a number or does not fit.
std::optional<int16_t> CInt(std::string_view text);
inline bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }
// Whether text holds left + " : " + right, without building that string.
bool ContainsJoined(std::string_view text, std::string_view left, std::string_view right);
// Text up to, not including, its first " << ".
inline std::string_view BeforeChain(std::string_view s) { return s.substr(0, s.find(" << ")); }

// Milliseconds since start-up, in the fixed-point unit.
Milliseconds4 ElapsedNow();
// The error number of the exception being handled; out of memory when even that fails.
int32_t ErrorNumberOfCurrentException();

}  // namespace modVexlor::detail
