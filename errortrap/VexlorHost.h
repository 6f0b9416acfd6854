#pragma once
// What the error-trapping module needs from the program that hosts it: message
// boxes, the program's top-level windows, its event loop and its debugger. The
// core needs no user interface of its own; the desktop installs a Qt host at
// start-up, tests install a recorder.

#include "MsgBoxStyle.h"

#include <string>

namespace modVexlor {

using enum vb::MsgBoxStyle;
using enum vb::MsgBoxResult;

class Host {
public:
    virtual ~Host() = default;
    // Shows a modal message box; an empty caption means the application title.
    // Returns vbOK or vbCancel.
    virtual int MsgBox(const std::string& prompt, int style, const std::string& caption) = 0;
    // Disables every visible top-level window of the program that is enabled;
    // EnableForms enables again exactly the windows that the matching
    // DisableForms disabled, and no other.
    virtual void DisableForms() = 0;
    virtual void EnableForms() = 0;
    // Lets the program process its pending window events.
    virtual void DoEvents() = 0;
    // Stops the program where it is so that the developer lands in the debugger.
    virtual void StopInDebugger() = 0;
};

// A host with nothing to show: boxes are answered as if the user pressed the
// safe button (OK when it is the only one, otherwise Cancel), windows and
// events are left alone; stopping in the debugger still raises SIGTRAP.
class HeadlessHost : public Host {
public:
    int MsgBox(const std::string& prompt, int style, const std::string& caption) override;
    void DisableForms() override {}
    void EnableForms() override {}
    void DoEvents() override {}
    void StopInDebugger() override;
};

// Installs the host (nullptr = the headless one). The host must outlive its use.
void SetHost(Host* host);
Host& CurrentHost();

}  // namespace modVexlor
