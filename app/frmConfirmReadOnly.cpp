#include "frmConfirmReadOnly.h"

#include "QtMsgBox.h"
#include "Vexlor.h"
#include "WindowPlacement.h"
#include "ui_frmConfirmReadOnly.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace {
const char* const kModule = "CRO";
using namespace velorizer;
// By button index.
constexpr int32_t kAnswers[4] = {kAnswerYes, kAnswerYesToAll, kAnswerNo, kAnswerCancel};
}  // namespace

int32_t frmConfirmReadOnly::answer_ = kAnswerNone;

frmConfirmReadOnly::frmConfirmReadOnly(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui_(new Ui::frmConfirmReadOnly) {
    ui_->setupUi(this);
    cmdConfirm_ = {ui_->cmdConfirm_0, ui_->cmdConfirm_1, ui_->cmdConfirm_2, ui_->cmdConfirm_3};
    for (int i = 0; i < 4; ++i) {
        connect(cmdConfirm_[static_cast<size_t>(i)], &QPushButton::clicked, this, [this, i] { cmdConfirm_Click(i); });
    }
    ui_->cmdConfirm_0->setDefault(true);
    setModal(true);
    // A file name may hold anything, angle brackets too.
    ui_->lblMessage->setTextFormat(Qt::PlainText);
    labelHeight_ = ui_->lblMessage->height();
    buttonsTop_ = ui_->cmdConfirm_0->y();
    designHeight_ = height();
}

frmConfirmReadOnly::~frmConfirmReadOnly() = default;

QLabel* frmConfirmReadOnly::lblMessage() const { return ui_->lblMessage; }

int32_t frmConfirmReadOnly::Result() {
    int32_t result = 0;
    vx::Proc(kModule, "Property (Get) Result", [&] { result = answer_; });
    return result;
}

void frmConfirmReadOnly::SetMessage(const QString& message) {
    shown_ = vxqt::ShownText(message);
    QLabel* label = ui_->lblMessage;
    label->setText(shown_);
    label->setToolTip(QString());
    label->resize(label->sizeHint().width(), labelHeight_);
    for (QPushButton* button : cmdConfirm_) button->move(button->x(), buttonsTop_);
    setFixedHeight(designHeight_);
}

void frmConfirmReadOnly::cmdConfirm_Click(int index) {
    vx::Proc(kModule, "Sub cmdConfirm_Click", [&] {
        answer_ = kAnswers[index];
        hide();  // ends the modal show
    });
}

void frmConfirmReadOnly::Form_Activate() {
    vx::Proc(kModule, "Sub Form_Activate", [&] {
        SetMessage(shown_);  // one line again: an earlier activation may have wrapped it
        const double twips = TwipsPerPixelX(this);
        const QLabel* label = ui_->lblMessage;
        const QPushButton* first = ui_->cmdConfirm_0;
        const QPushButton* last = ui_->cmdConfirm_3;
        const double textRight = (label->x() + label->width()) * twips;
        const double buttonsRight = (last->x() + last->width() + first->x()) * twips;
        const double widthTwips = textRight < buttonsRight ? buttonsRight : textRight + 20 * twips;
        const int outer = static_cast<int>(std::lround(widthTwips / twips));
        const int frameExtra = frameGeometry().width() - width();
        setFixedWidth(outer - frameExtra);
        QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, outer, frameGeometry().height());
        if (outer > area.width()) FitOnScreen(area);
        const QRect frame = frameGeometry();
        const int top = std::clamp(frame.y(), area.y(), std::max(area.y(), area.bottom() + 1 - frame.height()));
        move(area.x() + (area.width() - frame.width()) / 2, top);
        KeepClearOfProgress(area);
    });
}

void frmConfirmReadOnly::KeepClearOfProgress(const QRect& area) {
    const QWidget* working = nullptr;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible() && w->objectName() == "frmWorking") working = w;
    if (!working) return;
    const QRect bar = working->frameGeometry(), mine = frameGeometry();
    if (!mine.intersects(bar)) return;
    // Below the progress window, else above it, else beside it.
    const int gap = 8;
    if (bar.bottom() + gap + mine.height() <= area.bottom()) move(mine.x(), bar.bottom() + gap);
    else if (bar.top() - gap - mine.height() >= area.top()) move(mine.x(), bar.top() - gap - mine.height());
    else if (bar.right() + gap + mine.width() <= area.right()) move(bar.right() + gap, mine.y());
    else if (bar.left() - gap - mine.width() >= area.left()) move(bar.left() - gap - mine.width(), mine.y());
}

void frmConfirmReadOnly::FitOnScreen(const QRect& area) {
    QLabel* label = ui_->lblMessage;
    const int frameWidth = frameGeometry().width() - width();
    const int frameHeight = frameGeometry().height() - height();
    const int margin = 20;  // pixels right of the text, as for a message that fits
    const int lineWidth = area.width() - frameWidth - label->x() - margin;
    QTextLayout layout(shown_, label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(lineWidth);
        lines << shown_.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    // As many lines as the screen holds above the buttons, measured as the label measures them.
    const QFontMetrics metrics(label->font());
    const QRect bounds(0, 0, lineWidth, 1 << 20);
    const int one = metrics.boundingRect(bounds, Qt::AlignLeft | Qt::AlignTop, "X").height();
    const int step = std::max(1, metrics.boundingRect(bounds, Qt::AlignLeft | Qt::AlignTop, "X\nX").height() - one);
    const int room = area.height() - frameHeight - (designHeight_ - labelHeight_);
    const int fit = std::max(1, 1 + (room - one) / step);
    if (lines.size() > fit) {
        const QString last = lines.last();
        lines = lines.mid(0, fit - 1);
        lines << metrics.elidedText(QChar(0x2026) + last, Qt::ElideLeft, lineWidth);
        label->setToolTip(shown_);
    }
    label->setText(lines.join('\n'));
    const QSize size = label->sizeHint();
    label->resize(std::min(size.width(), lineWidth), std::max(size.height(), labelHeight_));
    const int grown = label->height() - labelHeight_;
    for (QPushButton* button : cmdConfirm_) button->move(button->x(), buttonsTop_ + grown);
    setFixedSize(label->x() + label->width() + margin, designHeight_ + grown);
}

bool frmConfirmReadOnly::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible()) Form_Activate();
    return QDialog::event(e);
}

// Closing from the frame answers Cancel, never an answer left from an earlier question.
void frmConfirmReadOnly::closeEvent(QCloseEvent* event) {
    answer_ = kAnswerCancel;
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void frmConfirmReadOnly::reject() { cmdConfirm_Click(3); }

namespace velorizer {

int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) {
    int32_t answer = kAnswerNone;
    vx::Proc("velorize", "Function GetConfirmReadOnly", [&] {
        frmConfirmReadOnly::ClearAnswer();
        frmConfirmReadOnly dialog;
        dialog.setWindowTitle(vxqt::ShownText(QString::fromStdString(title)));
        dialog.SetMessage(QString::fromStdString(message));
        // Centred across; a third of the way down, clear of the progress window in the middle.
        CentreOnScreen(&dialog);
        if (QScreen* screen = dialog.screen()) {
            const QRect area = screen->geometry();
            dialog.move(dialog.x(), area.y() + (area.height() - dialog.frameGeometry().height()) / 3);
        }
        dialog.exec();
        answer = dialog.Result();
    });
    return answer;
}

}  // namespace velorizer
