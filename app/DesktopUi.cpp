#include "DesktopUi.h"

#include "AppInfo.h"
#include "WindowPlacement.h"
#include "frmConfirmReadOnly.h"

#include <QMessageBox>

namespace velorizer {

void DesktopUi::MsgBox(const std::string& prompt, int style, const std::string& title) {
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(title.empty() ? std::string(vb::AppInfo::Title) : title));
    box.setTextFormat(Qt::PlainText);  // paths may hold anything, angle brackets too
    box.setText(QString::fromStdString(prompt));
    switch (style & 0x70) {
        case vbCritical: box.setIcon(QMessageBox::Critical); break;
        case vbExclamation: box.setIcon(QMessageBox::Warning); break;
        case vbInformation: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

int32_t DesktopUi::GetConfirmReadOnly(const std::string& title, const std::string& message) {
    return velorizer::GetConfirmReadOnly(title, message);
}

}  // namespace velorizer
