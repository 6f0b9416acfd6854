// Shows the real main window and closes it as the user would, "button" through
// "C&lose" or "frame" from the caption bar. The program must end inside that
// close: reaching the line after it means it did not.
#include "Program.h"
#include "VexlorQtHost.h"
#include "frmMain1.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    velorizer::SetUpApplication(app);
    vxqt::InstallQtHost();
    const bool byButton = argc > 1 && std::strcmp(argv[1], "button") == 0;
    auto* main = new frmMain1;
    main->show();
    QTimer::singleShot(50, &app, [main, byButton] {
        std::printf("closing\n");
        std::fflush(stdout);
        if (byButton) QTest::mouseClick(main->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        else main->close();
        std::printf("still running\n");
        std::fflush(stdout);
        QCoreApplication::exit(3);
    });
    return app.exec();
}
