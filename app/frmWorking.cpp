#include "frmWorking.h"

#include "ui_frmWorking.h"

#include <QCloseEvent>

frmWorking::frmWorking(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), ui_(new Ui::frmWorking) {
    ui_->setupUi(this);
}

frmWorking::~frmWorking() = default;

QProgressBar* frmWorking::ProgressBar1() const { return ui_->ProgressBar1; }

// The run alone decides when the window goes: it has no way to stop the run.
void frmWorking::closeEvent(QCloseEvent* event) { event->ignore(); }
