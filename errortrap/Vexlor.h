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
//
// The module is made of parts, one file each. All stand on VexlorModule (the
// state object and the shared helpers); each calls only the parts below it:
//   VexlorTrace     error log, circular log, monitor link and pause
//   VexlorStartup   configuration and start-up             (uses Trace)
//   VexlorCallTree  vxPUSH, vxPOP and the trace lines       (uses Startup, Trace)
//   VexlorReport    the report file and the mailed report
//   VexlorTrap      vxERROR, categories, remote levels      (uses Startup, Trace, Report)
// Beneath them all: VexlorPlatform (the system), VexlorHost (the user
// interface), VexlorMonitorLink and VexlorMail (the monitor's and the mail
// server's protocols).

#include "RunTimeError.h"
#include "VexlorCallTree.h"
#include "VexlorHost.h"
#include "VexlorReport.h"
#include "VexlorStartup.h"
#include "VexlorState.h"
#include "VexlorTrace.h"
#include "VexlorTrap.h"

#include <exception>
#include <string_view>
#include <utility>

// ---- The wrapper ------------------------------------------------------------
namespace vx {

// A procedure with its own trap. `where` is the wrapper's own place in the
// procedure's source, for the line of an error raised elsewhere.
template <class Body> void Proc(std::string_view module, std::string_view signature, Body&& body,
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
template <class Body> void Traced(std::string_view module, std::string_view signature, Body&& body) noexcept {
    modVexlor::vxPUSH(module, signature);
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
    modVexlor::vxPOP(module, signature);
}

// One step whose failure is of no consequence.
template <class Body> void IgnoreErrors(Body&& body) noexcept {
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
