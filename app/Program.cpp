#include "Program.h"

#include "AppInfo.h"
#include "VexlorQtHost.h"
#include "WavePlayer.h"
#include "frmSplash.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

// Outside any namespace, as the resource initialiser must be.
static void InitVelorizerResources() { Q_INIT_RESOURCE(velorizer); }

namespace velorizer {

namespace {
const char* const kDesktopEntry = "com.ostrelco.Velorizer";
}

void SetUpProcess() { WavePlayer::NameInMixer("Velorizer", kDesktopEntry); }

void InitResources() {
    static const bool done = (InitVelorizerResources(), true);
    (void)done;
}

QIcon ProgramImage(const char* name) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString file = QString(":/velorizer/%1-%2.png").arg(QLatin1String(name)).arg(size);
        if (QFile::exists(file)) icon.addFile(file, QSize(size, size));
    }
    return icon;
}

void SetUpApplication(QApplication& app) {
    InitResources();
    app.setApplicationName(QString::fromUtf8(vb::AppInfo::Title));
    app.setOrganizationName(QString::fromUtf8(vb::AppInfo::CompanyName));
    app.setApplicationVersion(
        QString("%1.%2.0.%3").arg(vb::AppInfo::Major()).arg(vb::AppInfo::Minor()).arg(vb::AppInfo::Revision()));
    app.setWindowIcon(ProgramImage("velorizer"));
    // Desktops find the program's entry, and with it its icon, by this name.
    app.setDesktopFileName(kDesktopEntry);
    // The layout is fixed in pixels and drawn for Arial's widths (Liberation Sans
    // on Debian). A wider font fits only while hinting narrows it: on a scaled
    // screen, unhinted, its captions would be cut.
    QFont font("Arial");
    font.setPointSizeF(8.25);
    app.setFont(font);
    app.setQuitOnLastWindowClosed(false);  // the main window ends the program itself
}

frmSplash* StartProgram() {
    vxqt::InstallQtHost();
    auto* splash = new frmSplash;
    splash->show();
    return splash;
}

}  // namespace velorizer
