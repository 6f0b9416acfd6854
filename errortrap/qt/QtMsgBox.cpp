#include "QtMsgBox.h"

#include "AppInfo.h"
#include "Escaped.h"
#include "MsgBoxStyle.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLayout>
#include <algorithm>

namespace vxqt {

namespace {
constexpr int kIconBits = 0x70;
constexpr char32_t kReplacement = 0xFFFD;
}  // namespace

QString ShownText(const QString& text, Lines lines) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t cp = text[i].unicode();
        if (QChar::isHighSurrogate(cp) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]), ++i;
        else if (QChar::isSurrogate(cp)) cp = kReplacement;
        if (cp < 0x20 || cp == 0x7F) {
            const bool kept = lines == Lines::Kept && (cp == '\n' || cp == '\r' || cp == '\t');
            out += kept ? QChar(cp) : QChar(cp == 0x7F ? 0x2421 : 0x2400 + cp);
        } else if (velorizer::ShownAsEscape(cp)) {
            out += cp > 0xFFFF ? QString("\\U%1").arg(uint(cp), 8, 16, QChar('0'))
                               : QString("\\u%1").arg(uint(cp), 4, 16, QChar('0'));
        } else if (cp > 0xFFFF) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(cp);
        }
    }
    return out;
}

void PrepareMsgBox(QMessageBox& box, const std::string& prompt, int style, const std::string& caption, Lines lines) {
    box.setWindowTitle(ShownText(QString::fromStdString(caption.empty() ? std::string(vb::AppInfo::Title) : caption)));
    box.setTextFormat(Qt::PlainText);  // paths and error texts may hold anything, angle brackets too
    box.setText(ShownText(QString::fromStdString(prompt), lines));
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
