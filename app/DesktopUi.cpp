#include "DesktopUi.h"

#include "AppInfo.h"
#include "WindowPlacement.h"
#include "frmConfirmReadOnly.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLayout>
#include <QMessageBox>
#include <algorithm>

namespace velorizer {

namespace {

// A window manager cuts a caption that its title bar has no room for. The box
// sizes itself to its text and allows a little for the caption, too little for
// the title fonts and the icon and buttons beside the caption on most desktops.
void KeepCaptionWhole(QMessageBox& box) {
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(std::max(titleFont.pointSizeF(), 11.0));
    const QFontMetrics metrics(titleFont);
    const int wanted = metrics.horizontalAdvance(box.windowTitle()) + 7 * metrics.height();
    auto* buttons = box.findChild<QDialogButtonBox*>();
    if (!buttons || !box.layout()) return;
    const QMargins margins = box.layout()->contentsMargins();
    buttons->setMinimumWidth(wanted - margins.left() - margins.right());
}

}  // namespace

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
    KeepCaptionWhole(box);
    box.exec();
}

int32_t DesktopUi::GetConfirmReadOnly(const std::string& title, const std::string& message) {
    return velorizer::GetConfirmReadOnly(title, message);
}

}  // namespace velorizer
