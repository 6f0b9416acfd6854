#pragma once
// Vexlor, the error-trapping module (modVexlor): the live call tree of the
// procedures that are running, timed trace lines to the error log, the
// circular log and the external monitor, and the trap that records every
// run-time error of an instrumented procedure and files its report.
//
// Every procedure of the program is wrapped in one of these:
//
//   void frmMain1::RefreshForm() { vx::Proc("main", "Sub RefreshForm", [&] { /* body */ }); }
//       entry and exit reported; a run-time error (or any other exception) of
//       the body is trapped by vxERROR and the rest of the body is skipped.
//   vx::Traced("main", "Function ListOK", [&] { result = ...; });
//       entry and exit reported, no trap: an error of the body is swallowed.
//   vx::IgnoreErrors([&] { ... });
//       runs one step and swallows any error it raises.
//   { vx::Frame frame("main", "Sub Velorize"); ... }
//       errors fall to the caller's trap; the exit is reported only when the
//       scope is left normally.

#include "RunTimeError.h"
#include "VexlorHost.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace modVexlor {

inline constexpr int kMaxDepth = 1000;  // frames of the call tree, slots 1 to 1000
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

// ---- Entry points -----------------------------------------------------------

// Initialises the module once per process; later calls return at once.
void vxSTART() noexcept;
// Entry and exit of an instrumented procedure. Never raise.
void vxPUSH(std::string_view module, std::string_view signature, std::string_view arguments = {}) noexcept;
void vxPOP(std::string_view module, std::string_view signature, std::string_view arguments = {}) noexcept;
// Traps the exception being handled (call it inside a catch block); 5 after a
// completed trap, 0 when the trap itself failed.
int16_t vxERROR(std::string_view module, std::string_view signature) noexcept;
// Traps a given run-time error.
int16_t vxERROR(std::string_view module, std::string_view signature, const vb::RunTimeError& error) noexcept;
// Traps the exception being handled for the procedure whose wrapper stands at
// `procedure` in its source. The line reported is the one that raised the
// error when that lies in the procedure's own source file; an error raised in
// another file (by a helper the procedure called) is reported at the wrapper's
// line, so that the number always points into the procedure the report names.
// A helper that raises on its caller's behalf takes the caller's location (as
// vb::ErrnoError does) and so gives the line of the call.
int16_t vxERROR(std::string_view module, std::string_view signature, const vb::SourceLocation& procedure) noexcept;

// Writes one composed line to every active trace output.
void EmitTraceLine(std::string_view line) noexcept;
// Appends a line to the error-log file when writing to disk is on.
void AppendToErrorLog(std::string_view line) noexcept;
// The trace line of the frame at the current depth, for an entry or an exit.
std::string FormatTraceLine(Milliseconds4 overhead, bool isExit);
// Seconds as "00000.000" with a point as decimal separator.
std::string FormatSeconds(double seconds);

// The full report of the last trapped error, as WriteErrorLog appends it.
std::string ComposeErrorReport();
void WriteErrorLog() noexcept;
// Writes the report to a file of its own and hands it to the sending thread;
// returns without waiting for the mail server.
void MailErrorReport() noexcept;
// At the end of the program: waits up to `bound` for reports still being
// mailed, then gives up on the rest. True when every mail was done.
bool FinishMail(std::chrono::milliseconds bound) noexcept;

int32_t ErrorCategory(int32_t number) noexcept;
std::string CategoryName(int32_t code);
// The module's internal error handler.
void pfErr(int16_t number, const std::string& procedure) noexcept;
std::string ClientIniName();

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

}  // namespace modVexlor

// ---- The wrapper ------------------------------------------------------------
namespace vx {

// A procedure with its own trap. `where` is the wrapper's own place in the
// procedure's source, for the line of an error raised elsewhere.
template <class Body>
void Proc(std::string_view module, std::string_view signature, Body&& body,
          vb::SourceLocation where = vb::SourceLocation::current()) noexcept {
    try {
        modVexlor::vxPUSH(module, signature);
        std::forward<Body>(body)();
    } catch (...) {
        modVexlor::vxERROR(module, signature, where);
    }
    modVexlor::vxPOP(module, signature);
}

// Entry and exit reported, no trap: an error of the body is ignored.
template <class Body>
void Traced(std::string_view module, std::string_view signature, Body&& body) noexcept {
    modVexlor::vxPUSH(module, signature);
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
    modVexlor::vxPOP(module, signature);
}

// One step whose failure is of no consequence.
template <class Body>
void IgnoreErrors(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

// A procedure whose errors fall to its caller's trap. The strings must outlive
// the frame (string literals do).
class Frame {
public:
    Frame(std::string_view module, std::string_view signature) noexcept
        : module_(module), signature_(signature), unwinding_(std::uncaught_exceptions()) {
        modVexlor::vxPUSH(module_, signature_);
    }
    ~Frame() {
        // Left by an error: the frame stays in the tree for the caller's trap to see.
        if (std::uncaught_exceptions() == unwinding_) modVexlor::vxPOP(module_, signature_);
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

private:
    std::string_view module_;
    std::string_view signature_;
    int unwinding_;
};

}  // namespace vx
