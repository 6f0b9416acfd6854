#include "VexlorQtHost.h"

#include "QtMsgBox.h"
#include "VexlorPlatform.h"

#include <QApplication>
#include <QWidget>

namespace vxqt {

int QtHost::MsgBox(const std::string& prompt, int style, const std::string& caption) {
    QMessageBox box;
    PrepareMsgBox(box, prompt, style, caption);
    if ((style & 0xF) == modVexlor::vbOKCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(QMessageBox::Ok);
    KeepCaptionWhole(box);
    return box.exec() == QMessageBox::Ok ? modVexlor::vbOK : modVexlor::vbCancel;
}

void QtHost::DisableForms() {
    // A window the program had disabled itself (the main window during a batch
    // run) is not this pause's to give back.
    std::vector<QPointer<QWidget>> disabled;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isEnabled()) {
            w->setEnabled(false);
            disabled.emplace_back(w);
        }
    }
    pauses_.push_back(std::move(disabled));
}

void QtHost::EnableForms() {
    if (pauses_.empty()) return;
    for (const auto& w : pauses_.back())
        if (w) w->setEnabled(true);
    pauses_.pop_back();
}

void QtHost::DoEvents() { QCoreApplication::processEvents(); }

void QtHost::StopInDebugger() { modVexlor::platform::RaiseDebugTrap(); }

void InstallQtHost() {
    static QtHost host;
    modVexlor::SetHost(&host);
}

}  // namespace vxqt
