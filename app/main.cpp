// velorun: the desktop program.
#include "Program.h"

#include <QApplication>
#include <csignal>

int main(int argc, char** argv) {
    // Under a file size limit a write then fails with EFBIG, which the tagger
    // rolls back and reports, instead of the signal killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    velorizer::SetUpProcess();
    QApplication app(argc, argv);
    velorizer::SetUpApplication(app);
    velorizer::StartProgram();
    return app.exec();
}
