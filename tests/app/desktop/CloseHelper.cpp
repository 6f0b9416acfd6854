// Shows the real main window and closes it as the user would, "button" through
// "C&lose" or "frame" from the caption bar. The program must end inside that
// close: reaching the line after it means it did not. "error-then-button
// FOLDER" first traps an error with the configuration of FOLDER, so that its
// mailed report is still on its way when the window closes.
#include "Program.h"
#include "RunTimeError.h"
#include "Vexlor.h"
#include "VexlorQtHost.h"
#include "VexlorTesting.h"
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
    const bool error = argc > 2 && std::strcmp(argv[1], "error-then-button") == 0;
    const bool byButton = error || (argc > 1 && std::strcmp(argv[1], "button") == 0);
    if (error) modVexlor::testhooks::SetApplicationFolder(argv[2]);
    auto* main = new frmMain1;
    main->show();
    QTimer::singleShot(50, &app, [main, byButton, error] {
        if (error) vx::Proc("main", "Sub cmdPreview_Click", [] { throw vb::RunTimeError(vb::errFileNotFound); });
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
