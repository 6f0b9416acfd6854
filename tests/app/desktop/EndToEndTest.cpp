// A new user's first session with the program, from the splash to the tagged
// files: the program starts as velorun starts it, a folder of sox-made loops is
// dropped on the list, "&Loop", 8 beats and "C" are chosen, "&Velorize" is
// pressed and the questions answered. The files are then read back with the
// velorize command line and with libsndfile.
#include "DesktopTestSupport.h"
#include "Program.h"
#include "TestSupport.h"
#include "frmConfirmReadOnly.h"
#include "frmMain1.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <sys/stat.h>

using namespace desktoptest;
using testsupport::TempDir;

class EndToEndTest : public QObject {
    Q_OBJECT
    TempDir vexlorDir_;

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
    }

    void aNewUserTagsAFolderOfLoops() {
        TempDir dir;
        const std::string folder = dir / "My Loops";
        std::filesystem::create_directories(folder + "/Drums");
        TempDir made;
        // Four loops of 8 beats: 4 s (120 bpm), 3 s (160 bpm), 2 s (240 bpm), 5 s (96 bpm).
        struct Loop {
            std::string path;
            double seconds;
            int channels;
            int bits;
        } loops[] = {
            {folder + "/bass 120.wav", 4.0, 2, 16},
            {folder + "/Drums/beat 160.WAV", 3.0, 1, 24},
            {folder + "/Drums/caf\xe9 240.wav", 2.0, 2, 16},  // a Latin-1 name, not UTF-8
            {folder + "/pad 96.wav", 5.0, 1, 16},
        };
        for (size_t i = 0; i < std::size(loops); ++i) {
            const std::string src =
                testsupport::MakeSoxWave(made, "l" + std::to_string(i) + ".wav", 44100, loops[i].channels,
                                         loops[i].bits, "signed-integer", loops[i].seconds);
            std::filesystem::rename(src, loops[i].path);
        }
        testsupport::WriteBytes(folder + "/notes.txt", {'h', 'i'});
        ::chmod(loops[3].path.c_str(), 0444);  // one read-only file: the program asks

        // Start as velorun does and wait out the splash.
        velorizer::StartProgram();
        QTRY_VERIFY_WITH_TIMEOUT(TopLevel("frmMain1") != nullptr, 5000);
        auto* main = static_cast<frmMain1*>(TopLevel("frmMain1"));
        QTRY_VERIFY(TopLevel("frmSplash") == nullptr);
        // Typing needs the focus changes of an active window: the beat count is
        // read when it loses the focus, and the activation may still be queued.
        QVERIFY(QTest::qWaitForWindowActive(main));
        auto* list = main->findChild<QTreeView*>("lvwFiles");

        QVERIFY(DropPaths(list->viewport(), {folder}));
        QCOMPARE(list->model()->rowCount(), 4);

        auto* loop = main->findChild<QRadioButton*>("optAcidProp_1");
        QTest::mouseClick(loop, Qt::LeftButton, {}, QPoint(8, loop->height() / 2));
        auto* beats = main->findChild<QLineEdit*>("txtBeats");
        QTest::mouseClick(beats, Qt::LeftButton);
        beats->selectAll();
        QTest::keyClicks(beats, "8");
        QTest::keyClick(beats, Qt::Key_Tab);
        auto* root = main->findChild<QComboBox*>("cboRoot_0");
        root->setFocus(Qt::TabFocusReason);
        QTest::keyClick(root, Qt::Key_C);
        QCOMPARE(root->currentText(), QString("C"));

        QStringList questions;
        QString closing;
        AnswerInTurn({[&](QWidget* m) {
                          auto* d = qobject_cast<frmConfirmReadOnly*>(m);
                          QVERIFY(d);
                          questions << d->lblMessage()->text();
                          QTest::keyClick(d, Qt::Key_Return);  // Yes
                      },
                      [&](QWidget* m) {
                          closing = MessageText(m);
                          PressOk(m);
                      }});
        QTest::mouseClick(main->findChild<QPushButton*>("cmdVELORize"), Qt::LeftButton);
        QCOMPARE(questions.size(), 1);
        QVERIFY(questions[0].startsWith("Are you sure you want to Velorize the read-only file '"));
        QCOMPARE(closing, QString("Operation completed."));

        // What the command line reads.
        QProcess show;
        show.start(VELORIZER_BIN_DIR "/velorize", {"--show", QString::fromStdString(folder)});
        QVERIFY(show.waitForFinished(20000));
        QCOMPARE(show.exitCode(), 0);
        const QByteArray out = show.readAllStandardOutput();
        const QByteArray expected[] = {
            QByteArray::fromStdString(loops[0].path) +
                ": type loop (mode 22), root note C (MIDI 60), 8 beats, meter 4/4, tempo 120 bpm",
            QByteArray::fromStdString(loops[3].path) +
                ": type loop (mode 22), root note C (MIDI 60), 8 beats, meter 4/4, tempo 96 bpm",
            QByteArray::fromStdString(loops[1].path) +
                ": type loop (mode 22), root note C (MIDI 60), 8 beats, meter 4/4, tempo 160 bpm",
            // --show writes the byte that is not UTF-8 as an escape.
            QByteArray::fromStdString(folder + "/Drums/caf\\xe9 240.wav") +
                ": type loop (mode 22), root note C (MIDI 60), 8 beats, meter 4/4, tempo 240 bpm",
        };
        for (const QByteArray& line : expected) QVERIFY2(out.contains(line + "\n"), out.constData());

        // What libsndfile reads, and the audio untouched.
        const float tempos[] = {120, 160, 240, 96};
        for (size_t i = 0; i < std::size(loops); ++i) {
            const auto snd = testsupport::ReadWithSndfile(loops[i].path, true);
            QVERIFY(snd.opened);
            QVERIFY(snd.hasLoop);
            QCOMPARE(snd.rootKey, 60);
            QCOMPARE(snd.numBeats, 8);
            QCOMPARE(snd.bpm, tempos[i]);
            QCOMPARE(snd.frames, int64_t(loops[i].seconds * 44100));
        }
        struct stat st = {};
        ::stat(loops[3].path.c_str(), &st);
        QCOMPARE(st.st_mode & 0777, mode_t(0444));

        // Done for the day: "C&lose" ends the program (here, the hook stands in for the process's end).
        bool ended = false;
        frmMain1::SetEndProgram([&] { ended = true; });
        QTest::mouseClick(main->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
        QVERIFY(ended);
    }
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
