// "&Preview" against a real PulseAudio server with a null sink: files of 16 and
// 24 bits start playing, a second press restarts, a name that is not UTF-8 is
// played all the same, and a missing file, a file that is not a WAVE file and
// a missing audio server each give the failure message.
#include "DesktopTestSupport.h"
#include "Program.h"
#include "TestSupport.h"
#include "WavePlayer.h"
#include "frmMain1.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using namespace desktoptest;
using testsupport::TempDir;

class PreviewTest : public QObject {
    Q_OBJECT
    TempDir vexlorDir_;
    TempDir dir_;
    frmMain1* w_ = nullptr;

    // Selects the file's row as the user does and presses "&Preview"; returns
    // the text of every message box that came up (each answered with OK).
    QStringList Preview(const std::string& path) {
        w_->ListviewReset();
        DropPaths(w_->findChild<QTreeView*>("lvwFiles")->viewport(), {path});
        auto* list = w_->findChild<QTreeView*>("lvwFiles");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(40, list->visualRect(list->model()->index(0, 0)).center().y()));
        QStringList boxes;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text() + (box->icon() == QMessageBox::Information ? "" : " (wrong icon)");
                PressOk(box);
            }
        });
        watch.start();
        QTest::mouseClick(w_->findChild<QPushButton*>("cmdPreview"), Qt::LeftButton);
        QTest::qWait(100);
        return boxes;
    }
    static QString Failure(const std::string& path) {
        return QString::fromStdString("Velorizer experienced an unknown error playing file " + path + ".");
    }

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
        w_ = NewMainWindow();
    }
    void cleanupTestCase() {
        velorizer::WavePlayer::Instance().Stop();
        delete w_;
    }

    void playsSixteenAndTwentyFourBitFiles() {
        const std::string s16 = testsupport::MakeSoxWave(dir_, "tone16.wav", 44100, 2, 16, "signed-integer", 3.0);
        const std::string s24 = testsupport::MakeSoxWave(dir_, "tone24.wav", 48000, 1, 24, "signed-integer", 3.0);
        QCOMPARE(Preview(s16), QStringList{});
        QVERIFY(velorizer::WavePlayer::Instance().IsPlaying());
        // The sound mixer lists the stream under the program's name.
        QProcess pactl;
        pactl.start("pactl", {"list", "sink-inputs"});
        QVERIFY(pactl.waitForFinished(10000));
        const QString pid = QString("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
        QStringList ours;
        for (const QString& input : QString::fromUtf8(pactl.readAllStandardOutput()).split("Sink Input #"))
            if (input.contains(pid)) ours << input;
        QCOMPARE(ours.size(), 1);
        QVERIFY2(ours[0].contains("application.name = \"Velorizer\""), qPrintable(ours[0]));
        QCOMPARE(Preview(s16), QStringList{});  // pressed again: starts over
        QVERIFY(velorizer::WavePlayer::Instance().IsPlaying());
        QCOMPARE(Preview(s24), QStringList{});  // another file replaces it
        QVERIFY(velorizer::WavePlayer::Instance().IsPlaying());
    }

    void aNameThatIsNotUtf8IsPlayedAsItIs() {
        const std::string made = testsupport::MakeSoxWave(dir_, "tmp.wav", 44100, 1, 16, "signed-integer", 2.0);
        const std::string latin1 = dir_ / "caf\xe9.wav";
        std::filesystem::rename(made, latin1);
        QCOMPARE(Preview(latin1), QStringList{});
        QVERIFY(velorizer::WavePlayer::Instance().IsPlaying());
    }

    void whatCannotBePlayedIsReported() {
        const std::string missing = dir_ / "gone.wav";
        testsupport::WriteBytes(missing, {});
        w_->ListviewReset();
        DropPaths(w_->findChild<QTreeView*>("lvwFiles")->viewport(), {missing});
        ::unlink(missing.c_str());
        auto* list = w_->findChild<QTreeView*>("lvwFiles");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(40, 8));
        QStringList boxes;
        AnswerInTurn({[&](QWidget* box) {
            boxes << MessageText(box);
            PressOk(box);
        }});
        QTest::mouseClick(w_->findChild<QPushButton*>("cmdPreview"), Qt::LeftButton);
        QCOMPARE(boxes, QStringList{Failure(missing)});

        const std::string text = dir_ / "notes.wav";
        testsupport::WriteBytes(text, {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', ' ', 'f', 'i', 'l', 'e'});
        QCOMPARE(Preview(text), QStringList{Failure(text)});
        QVERIFY(w_->isEnabled());
    }

    // Run on its own, with PULSE_SERVER pointing where no server listens.
    void noAudioServer() {
        if (!qEnvironmentVariable("PULSE_SERVER").contains("no-server-here"))
            QSKIP("needs PULSE_SERVER set to a socket where no server listens");
        const std::string s16 = testsupport::MakeSoxWave(dir_, "quiet.wav", 44100, 2, 16, "signed-integer", 1.0);
        QCOMPARE(Preview(s16), QStringList{Failure(s16)});
    }
};

int main(int argc, char** argv) {
    velorizer::SetUpProcess();  // as velorun does, before the application
    QApplication app(argc, argv);
    PreviewTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "PreviewTest.moc"
