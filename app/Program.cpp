#include "Program.h"

#include "AppInfo.h"
#include "VexlorQtHost.h"
#include "frmSplash.h"

#include <QApplication>
#include <QIcon>

// Outside any namespace, as the resource initialiser must be.
static void InitVelorizerResources() { Q_INIT_RESOURCE(velorizer); }

namespace velorizer {

void InitResources() {
    static const bool done = (InitVelorizerResources(), true);
    (void)done;
}

void SetUpApplication(QApplication& app) {
    InitResources();
    app.setApplicationName(QString::fromUtf8(vb::AppInfo::Title));
    app.setOrganizationName(QString::fromUtf8(vb::AppInfo::CompanyName));
    app.setApplicationVersion(QString("%1.%2.0.%3").arg(vb::AppInfo::Major()).arg(vb::AppInfo::Minor()).arg(vb::AppInfo::Revision()));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/velorizer/velorizer-%1.png").arg(size), QSize(size, size));
    app.setWindowIcon(icon);
    // The layout is fixed in pixels: a small sans serif keeps every caption inside its control.
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
