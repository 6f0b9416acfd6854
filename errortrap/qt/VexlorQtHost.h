#pragma once
// The Qt host of the error-trapping module. The desktop calls
// vxqt::InstallQtHost() once its QApplication exists, before the first
// instrumented procedure runs.

#include "VexlorHost.h"

#include <QPointer>
#include <QWidget>

#include <vector>

namespace vxqt {

class QtHost : public modVexlor::Host {
public:
    int MsgBox(const std::string& prompt, int style, const std::string& caption) override;
    void DisableForms() override;
    void EnableForms() override;
    void DoEvents() override;
    void StopInDebugger() override;

private:
    // For each pause under way, innermost last: the windows it disabled.
    std::vector<std::vector<QPointer<QWidget>>> pauses_;
};

// Installs one QtHost for the rest of the run.
void InstallQtHost();

}  // namespace vxqt
