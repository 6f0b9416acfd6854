#include "QtMsgBox.h"

#include "AppInfo.h"
#include "MsgBoxStyle.h"

namespace vxqt {

namespace {
constexpr int kIconBits = 0x70;
}

void PrepareMsgBox(QMessageBox& box, const std::string& prompt, int style, const std::string& caption) {
    box.setWindowTitle(QString::fromStdString(caption.empty() ? std::string(vb::AppInfo::Title) : caption));
    box.setTextFormat(Qt::PlainText);  // paths and error texts may hold anything, angle brackets too
    box.setText(QString::fromStdString(prompt));
    switch (style & kIconBits) {
        case vb::vbCritical: box.setIcon(QMessageBox::Critical); break;
        case vb::vbQuestion: box.setIcon(QMessageBox::Question); break;
        case vb::vbExclamation: box.setIcon(QMessageBox::Warning); break;
        case vb::vbInformation: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
    }
}

}  // namespace vxqt
