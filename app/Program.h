#pragma once
// Start-up of the desktop program, shared by velorun and the tests that drive it.

class QApplication;
class QIcon;
class frmSplash;

namespace velorizer {

// Before the QApplication, while the process has one thread: what the
// environment must tell the libraries before they first look (the name the
// sound mixer shows for the preview).
void SetUpProcess();
// Makes the pictures and icons of the program's resources available; any number of calls.
void InitResources();
// One of the program's square pictures ("velorizer", "wave", "folder") in every
// size it is drawn at, so that each screen scale gets a sharp one.
QIcon ProgramImage(const char* name);
// The look every window shares; call once the QApplication exists.
void SetUpApplication(QApplication& app);
// Installs the error-trapping module's host and shows the splash window, the
// start-up object, which opens the main window after three seconds.
frmSplash* StartProgram();

}  // namespace velorizer
