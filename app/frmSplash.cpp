#include "frmSplash.h"

#include "AppInfo.h"
#include "Program.h"
#include "Vexlor.h"
#include "WindowPlacement.h"
#include "frmMain1.h"
#include "ui_frmSplash.h"

#include <QCloseEvent>
#include <QIcon>
#include <QTimer>

namespace {
const char* const kModule = "splash";
}

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), ui_(new Ui::frmSplash), timer1_(new QTimer(this)) {
    velorizer::InitResources();
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Shown by window managers that give a splash window a title or a task bar entry.
    setWindowTitle(QString::fromUtf8(vb::AppInfo::Title));
    // The picture in the resolution this screen draws it at.
    QIcon picture;
    for (const QSize size : {QSize(400, 200), QSize(600, 300), QSize(800, 400)})
        picture.addFile(QString(":/velorizer/splash-%1x%2.png").arg(size.width()).arg(size.height()), size);
    ui_->Image1->setPixmap(picture.pixmap(ui_->Image1->size(), devicePixelRatioF()));
    QFont version("Arial");
    version.setPointSizeF(9.75);
    version.setBold(true);
    ui_->lblVersion->setFont(version);
    QFont company("Arial");
    company.setPointSizeF(8.25);
    company.setBold(true);
    ui_->lblcompany->setFont(company);
    ui_->lblVersion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui_->lblcompany->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    CentreOnScreen(this);

    timer1_->setObjectName("Timer1");
    timer1_->setInterval(3000);
    timer1_->setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % early
    connect(timer1_, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
    Form_Load();
    timer1_->start();
}

frmSplash::~frmSplash() = default;

void frmSplash::Form_Load() {
    vx::Proc(kModule, "Sub Form_Load", [&] {
        ui_->lblVersion->setText(QString("Version %1.%2").arg(vb::AppInfo::Major()).arg(vb::AppInfo::Minor()));
        ui_->lblcompany->setText(QString::fromUtf8(vb::AppInfo::CompanyName));
    });
}

void frmSplash::Timer1_Timer() {
    vx::Proc(kModule, "Sub Timer1_Timer", [&] {
        // Constructing the main window runs its whole load sequence first.
        auto* main = new frmMain1;
        main->show();
        unloading_ = true;
        close();  // unloading the splash window also ends its timer
    });
}

// The splash stays its three seconds whatever the user does: a close request
// from the window manager would take the timer, and the main window with it,
// and leave the program running without a window.
void frmSplash::closeEvent(QCloseEvent* event) {
    if (unloading_) event->accept();
    else event->ignore();
}
