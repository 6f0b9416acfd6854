#pragma once
// Driving the real desktop forms offscreen as a user would: drops built from
// file URLs, modal dialogs answered from a timer, and the error-trapping
// module's logs read back.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class frmMain1;

namespace desktoptest {

// Before the first instrumented procedure: the error-trapping module takes its
// configuration and writes its logs in `folder` (a VXCLIENT.INI is written
// there that captures every trace line to error.log).
void UseVexlorFolder(const std::string& folder);
// The lines of error.log in that folder, without their line ends.
std::vector<std::string> LogLines();
// Trace lines written from now on (entry "->" or exit "<-", "module : signature").
class TraceWatch {
public:
    TraceWatch();
    // The new lines' "->main : Sub X" / "<-main : Sub X" parts, indentation removed.
    std::vector<std::string> Calls() const;
    // The same with the indentation kept: one tab per level below the first.
    std::vector<std::string> Tree() const;
    bool Saw(const std::string& call) const;

private:
    size_t start_;
};

// Delivers a drop of these paths (raw bytes) to the list's viewport, as the
// file manager does: drag enter, drag move, drop. True when the drop was accepted.
bool DropPaths(QWidget* listViewport, const std::vector<std::string>& paths);
bool DropUrls(QWidget* listViewport, const QList<QUrl>& urls);

// Runs `answer` with the application's modal widget once one is up (waiting up
// to `timeoutMs`); fails the test when none appears.
void WhenModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000);
// The visible top-level widget with this object name, or nullptr.
QWidget* TopLevel(const char* objectName);
// The text of a message box.
QString MessageText(QWidget* box);
// Presses the message box's OK button.
void PressOk(QWidget* box);

// A new main window, shown and ready.
frmMain1* NewMainWindow();

}  // namespace desktoptest

namespace desktoptest {
// Answers the modal dialogs of a run one after the other: step i is run with
// the i-th dialog that comes up.
void AnswerInTurn(std::vector<std::function<void(QWidget*)>> steps, int timeoutMs = 10000);
}  // namespace desktoptest
