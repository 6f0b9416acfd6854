#include "QtMsgBox.h"

#include "AppInfo.h"
#include "MsgBoxStyle.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLayout>
#include <algorithm>

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

// The box sizes itself to its text and allows a little for the caption, too
// little for the title fonts and the icon and buttons beside the caption on
// most desktops.
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

}  // namespace vxqt
