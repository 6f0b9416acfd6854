#include "DesktopUi.h"

#include "QtMsgBox.h"
#include "WindowPlacement.h"
#include "frmConfirmReadOnly.h"

namespace velorizer {

void DesktopUi::MsgBox(const std::string& prompt, int style, const std::string& title) {
    QMessageBox box;
    // The engine's messages are one line each: a line break in one comes from a name.
    vxqt::PrepareMsgBox(box, prompt, style, title, vxqt::Lines::Pictured);
    box.setStandardButtons(QMessageBox::Ok);
    vxqt::KeepCaptionWhole(box);
    box.exec();
}

int32_t DesktopUi::GetConfirmReadOnly(const std::string& title, const std::string& message) {
    return velorizer::GetConfirmReadOnly(title, message);
}

}  // namespace velorizer
