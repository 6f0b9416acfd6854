// The Qt host: real message boxes and real top-level widgets, offscreen, with
// the real vexlor-monitor holding the program paused, a mail server that never
// answers while the event loop goes on, and a mail in flight when the built
// program ends.

#include "VexlorQtHost.h"
#include "VexlorTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>

// Fontconfig keeps a cache for the life of the process; the sanitizer build
// must not count it against us.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using namespace modVexlor;
using vxtest::Child;
using vxtest::VexlorTest;

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_errortrap_qt";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: tearing Qt down among the static destructors crashes.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

class VexlorQtHostTest : public VexlorTest {
protected:
    void SetUp() override {
        VexlorTest::SetUp();
        App();
        vxqt::InstallQtHost();
    }
};

// Presses a button of the next message box once it is shown, and tells what it saw.
struct BoxPresser {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    int buttons = 0;
    void Press(QMessageBox::StandardButton which) {
        QTimer::singleShot(0, [this, which] { Poll(which); });
    }
    void Poll(QMessageBox::StandardButton which) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, [this, which] { Poll(which); });
            return;
        }
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        format = box->textFormat();
        buttons = static_cast<int>(box->buttons().size());
        box->button(which)->click();
    }
};

TEST_F(VexlorQtHostTest, MessageBoxesShowTitleTextIconAndButtonsAndReturnTheAnswer) {
    BoxPresser presser;
    presser.Press(QMessageBox::Cancel);
    EXPECT_EQ(CurrentHost().MsgBox("Proceed <b>now</b>?", vbOKCancel + vbExclamation, ""), vbCancel);
    EXPECT_EQ(presser.title, "Ostrelco Velorizer");
    EXPECT_EQ(presser.text, "Proceed <b>now</b>?");
    EXPECT_EQ(presser.format, Qt::PlainText);  // a path or an error text is never markup
    EXPECT_EQ(presser.icon, QMessageBox::Warning);
    EXPECT_EQ(presser.buttons, 2);

    presser.Press(QMessageBox::Ok);
    pfErr(53, "vxSTART()");
    EXPECT_EQ(presser.title, "Vexlor - Internal Error Handler");
    EXPECT_EQ(presser.text, "vxSTART() generated error 53, 'File not found', inside VEXLOR\r\n");
    EXPECT_EQ(presser.icon, QMessageBox::Critical);
    EXPECT_EQ(presser.buttons, 1);
}

TEST_F(VexlorQtHostTest, AnUnbalancedExitUnderTheDebuggerAsksWithTheQtBox) {
    testhooks::SetDevelopmentEnvironment(true);
    BoxPresser presser;
    presser.Press(QMessageBox::Cancel);
    vxPUSH("main", "Sub Form_Load", "");
    vxPOP("main", "Sub Other", "");
    EXPECT_EQ(presser.title, "VXVB100");
    EXPECT_TRUE(presser.text.startsWith("Module    \tmain\r\nProcedure\tSub Other\r\n"));
    EXPECT_EQ(CallDepth(), 0);  // Cancel went on
}

TEST_F(VexlorQtHostTest, FormsAreDisabledWhileTheMonitorPausesAndEnabledAfter) {
    Child mon({vxtest::MonitorProgram(), "--pause-on", "->main : Sub cmdVelorize_Click"});
    ASSERT_TRUE(vxtest::WaitForMonitor("Orvane Vexlor"));
    QWidget main, working;
    main.show();
    working.show();
    QWidget hidden;  // not visible: left alone
    hidden.setEnabled(false);

    bool mainDisabled = false, workingDisabled = false, checked = false;
    // A timer of the program runs while paused; it looks, then the user presses a key.
    QTimer::singleShot(100, [&] {
        mainDisabled = !main.isEnabled();
        workingDisabled = !working.isEnabled();
        checked = true;
        mon.WriteStdin("x");
    });
    auto start = std::chrono::steady_clock::now();
    vx::Proc("main", "Sub cmdVelorize_Click", [] {});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(checked);
    EXPECT_TRUE(mainDisabled);
    EXPECT_TRUE(workingDisabled);
    EXPECT_TRUE(main.isEnabled());
    EXPECT_TRUE(working.isEnabled());
    EXPECT_FALSE(hidden.isEnabled());
    EXPECT_GE(took, std::chrono::milliseconds(90));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(VexlorQtHostTest, APauseGivesBackOnlyTheWindowsItTook) {
    Child mon({vxtest::MonitorProgram(), "--pause-on", "->main : Sub Busy", "--resume-after", "0.2"});
    ASSERT_TRUE(vxtest::WaitForMonitor("Orvane Vexlor"));
    QWidget busy, idle;
    busy.show();
    idle.show();
    busy.setEnabled(false);  // the program's own doing, as a batch run does
    auto* closed = new QWidget;
    closed->show();
    QTimer::singleShot(50, [closed] { delete closed; });  // gone before the pause ends
    vx::Proc("main", "Sub Busy", [] {});
    EXPECT_FALSE(busy.isEnabled());
    EXPECT_TRUE(idle.isEnabled());
}

TEST_F(VexlorQtHostTest, AMailServerThatNeverGreetsLeavesTheEventLoopRunning) {
    vxtest::Listener silent;
    WriteIni("[email]\r\nAddress=ops@example.test\r\nServer=smtp://127.0.0.1:" + std::to_string(silent.port) + "\r\n");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    QTimer::singleShot(0, [] { vx::Proc("main", "Sub cmdPreview_Click", [] { throw vb::RunTimeError(53); }); });
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(ErrorRecord().Number[0], 53);
    EXPECT_GE(ticks, 20) << "the window went on with its events";
    EXPECT_FALSE(FinishMail(std::chrono::milliseconds(0))) << "while the mail still waited for its server";
}

TEST_F(VexlorQtHostTest, AReportStillBeingMailedWhenTheProgramEndsIsDeliveredFirst) {
    const int port = vxtest::Listener().port;
    Child server({"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port), "-c",
                  "aiosmtpd.handlers.Mailbox", (dir / "maildir").string()},
                 false);
    ASSERT_TRUE(vxtest::WaitForPort(port));
    WriteIni("[email]\r\nAddress=ops@example.test\r\nServer=smtp://127.0.0.1:" + std::to_string(port) + "\r\n");
    // The built program traps an error and closes its window at once.
    Child program({VELORIZER_BIN_DIR "/desktop_close_helper", "error-then-button", dir.string()}, false);
    std::string output, line;
    while (program.ReadLine(line, 20000)) output += line + "\n";
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_EQ(output, "closing\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "maildir" / "new"), {}), 1);
}

}  // namespace
