#include "frmConfirmReadOnly.h"

#include "Vexlor.h"
#include "WindowPlacement.h"
#include "ui_frmConfirmReadOnly.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace {
const char* const kModule = "CRO";
constexpr int32_t kAnswers[4] = {1, 3, 2, -1};  // by button index: Yes, Yes to All, No, Cancel
}  // namespace

int32_t frmConfirmReadOnly::answer_ = 0;

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
}

frmConfirmReadOnly::~frmConfirmReadOnly() = default;

QLabel* frmConfirmReadOnly::lblMessage() const { return ui_->lblMessage; }

int32_t frmConfirmReadOnly::Result() {
    int32_t result = 0;
    vx::Proc(kModule, "Property (Get) Result", [&] { result = answer_; });
    return result;
}

void frmConfirmReadOnly::SetMessage(const QString& message) {
    QLabel* label = ui_->lblMessage;
    label->setText(message);
    label->resize(label->sizeHint().width(), label->height());
}

void frmConfirmReadOnly::cmdConfirm_Click(int index) {
    vx::Proc(kModule, "Sub cmdConfirm_Click", [&] {
        answer_ = kAnswers[index];
        hide();  // ends the modal show
    });
}

void frmConfirmReadOnly::Form_Activate() {
    vx::Proc(kModule, "Sub Form_Activate", [&] {
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
        const int screenWidth = screen ? screen->geometry().width() : outer;
        move((screenWidth - outer) / 2, frameGeometry().y());
    });
}

bool frmConfirmReadOnly::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible()) Form_Activate();
    return QDialog::event(e);
}

// Closing from the frame answers Cancel, never an answer left from an earlier question.
void frmConfirmReadOnly::closeEvent(QCloseEvent* event) {
    answer_ = -1;
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void frmConfirmReadOnly::reject() { cmdConfirm_Click(3); }

namespace velorizer {

int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) {
    int32_t answer = 0;
    vx::Proc("velorize", "Function GetConfirmReadOnly", [&] {
        frmConfirmReadOnly::ClearAnswer();
        frmConfirmReadOnly dialog;
        dialog.setWindowTitle(QString::fromStdString(title));
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
