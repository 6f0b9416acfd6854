#pragma once
// The change confirmation: a small modal dialog with Yes, Yes to All, No and
// Cancel. It knows nothing about files; the caller composes the question.

#include "VelorizeUi.h"

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace Ui {
class frmConfirmReadOnly;
}
class QLabel;
class QPushButton;

class frmConfirmReadOnly : public QDialog {
    Q_OBJECT
public:
    explicit frmConfirmReadOnly(QWidget* parent = nullptr);
    ~frmConfirmReadOnly() override;

    // The last answer chosen: 1 Yes, 3 Yes to All, 2 No, -1 Cancel, 0 none yet.
    int32_t Result();
    // Puts the caller's message in the one-line label, which takes its text's
    // width. Control characters show as their visible symbols.
    void SetMessage(const QString& message);

    QLabel* lblMessage() const;
    QPushButton* cmdConfirm(int index) const { return cmdConfirm_[static_cast<size_t>(index)]; }

    // The stored answer outlives every dialog; each question clears it first.
    static void ClearAnswer() { answer_ = velorizer::kAnswerNone; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;  // Esc presses Cancel

private:
    void cmdConfirm_Click(int index);
    void Form_Activate();
    // A message too long for the screen wraps, down to as many lines as the
    // screen holds; what still does not fit is left out in the middle.
    void FitOnScreen(const QRect& area);
    // Moves the dialog off the progress window, where it would cover its bar.
    void KeepClearOfProgress(const QRect& area);

    QString shown_;  // the message as the one-line label shows it
    int labelHeight_ = 0;
    int buttonsTop_ = 0;
    int designHeight_ = 0;

    std::unique_ptr<Ui::frmConfirmReadOnly> ui_;
    std::array<QPushButton*, 4> cmdConfirm_{};
    static int32_t answer_;
};

namespace velorizer {
// Asks the question with the given window title; returns the answer code.
int32_t GetConfirmReadOnly(const std::string& title, const std::string& message);
}  // namespace velorizer
