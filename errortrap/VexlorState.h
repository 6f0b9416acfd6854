#pragma once
// What every part of the error-trapping module shares with its users: the
// sizes and types of its state, a read-only view of that state, and the
// module's own error handler.

#include <array>
#include <cstdint>
#include <string>

namespace modVexlor {

inline constexpr int kMaxDepth = 1000;   // frames of the call tree, slots 1 to 1000
inline constexpr int kErrorLevels = 11;  // levels 0 to 10 of the error record

// Fixed-point milliseconds with four decimals.
using Milliseconds4 = int64_t;
inline constexpr Milliseconds4 kUnitsPerMs = 10000;

// The last trapped error: level 0 as this program saw it, levels 1 up to
// RemoteLevelCount() as components called by it passed them up.
struct ErrorRecordType {
    std::array<std::string, kErrorLevels> Category;
    std::array<std::string, kErrorLevels> ModuleName;
    std::array<std::string, kErrorLevels> ProcedureName;
    std::array<int32_t, kErrorLevels> LineNumber{};
    std::array<std::string, kErrorLevels> Source;
    std::array<int32_t, kErrorLevels> Number{};
    std::array<std::string, kErrorLevels> Description;
    std::array<std::string, kErrorLevels> HelpFile;
    std::array<int32_t, kErrorLevels> HelpContext{};
};

// Settings read once from the configuration file at start-up.
struct SettingsType {
    bool CircularLogEnabled = false;
    std::string CircularLogPath;
    int16_t CircularRecordSize = 0;
    int16_t CircularSlotCount = 0;
    std::string ReportAddress;
    bool WriteToDisk = false;
    bool CaptureToDisk = false;
    std::string ErrorLogPath;
    bool IncludeResources = false;
    bool IncludeMemory = false;
    bool IncludeArguments = false;
    bool IncludeUser = false;
    // SMTP server URL and sender of mailed reports ("email" keys "Server", "From").
    std::string MailServer = "smtp://localhost";
    std::string MailFrom;
    bool InDevelopmentEnvironment = false;
    bool MonitorAttached = false;
};

// ---- State, read-only -------------------------------------------------------

bool Initialised();
const SettingsType& Settings();
bool TraceActive();
int16_t CallDepth();
const std::array<std::string, kMaxDepth + 1>& CallStack();
const std::array<Milliseconds4, kMaxDepth + 1>& LevelElapsed();
uint32_t TraceSequence();
Milliseconds4 PushOverhead();
Milliseconds4 PopOverhead();
const std::string& AppTag();
const std::string& ProjectSource();
const ErrorRecordType& ErrorRecord();
int16_t RemoteLevelCount();
const std::array<std::string, kMaxDepth + 1>& CallTreeSnapshot();
int16_t CircularSlot();
// Folder that holds the configuration file and the default logs.
std::string ApplicationFolder();
std::string ExecutableName();

// The module's internal error handler: shown for a failure of start-up or of
// the trap itself.
void pfErr(int16_t number, const std::string& procedure) noexcept;

}  // namespace modVexlor
