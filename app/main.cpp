// velorun: the desktop program.
#include "Program.h"

#include <QApplication>

int main(int argc, char** argv) {
    velorizer::SetUpProcess();
    QApplication app(argc, argv);
    velorizer::SetUpApplication(app);
    velorizer::StartProgram();
    return app.exec();
}
