#include "frmWorking.h"

#include "WindowPlacement.h"
#include "ui_frmWorking.h"

#include <QCloseEvent>
#include <QCoreApplication>

frmWorking::frmWorking(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), ui_(new Ui::frmWorking) {
    ui_->setupUi(this);
}

frmWorking::~frmWorking() = default;

QProgressBar* frmWorking::ProgressBar1() const { return ui_->ProgressBar1; }

void frmWorking::RunStarting(size_t count) {
    ui_->ProgressBar1->setMaximum(static_cast<int>(count));
    ui_->ProgressBar1->setMinimum(0);
    ui_->ProgressBar1->setValue(0);
    show();
    CentreOnScreen(this);
}

// The bar shows the file being tagged.
void frmWorking::BeforeFile(size_t number, const std::string&) {
    ui_->ProgressBar1->setValue(static_cast<int>(number));
}

// Pending events are let through after each file, so that this window
// repaints; not after a Cancel, which ends the run at once.
void frmWorking::AfterFile(size_t, const std::string&, const velorizer::Outcome& outcome) {
    if (outcome.result != velorizer::Result::Cancelled) QCoreApplication::processEvents();
}

void frmWorking::RunEnding(const velorizer::BatchResult&) { hide(); }

// The run alone decides when the window goes: it has no way to stop the run.
void frmWorking::closeEvent(QCloseEvent* event) { event->ignore(); }
