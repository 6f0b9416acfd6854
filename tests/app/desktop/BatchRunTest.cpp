// The batch run from the user's side: the progress window, the closing
// messages, the confirmation dialog and its answers, what lands in the files
// for each panel choice, and the window taking no input while it runs, not
// even after a pause of the monitor.
#include "DesktopTestSupport.h"
#include "Program.h"
#include "RunJournal.h"
#include "RunTimeError.h"
#include "TestSupport.h"
#include "Inspect.h"
#include "Vexlor.h"
#include "VexlorMonitorLink.h"
#include "frmConfirmReadOnly.h"
#include "frmMain1.h"
#include "frmWorking.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <sys/stat.h>

using namespace desktoptest;
using testsupport::TempDir;

namespace {

std::vector<uint8_t> Bytes(const std::string& path) { return testsupport::ReadBytes(path); }

// What a title bar needs for a caption: the text in a bold 11 pt title font,
// and an icon and three buttons of 24 pixels with a little space around them.
int CaptionRoom(const QString& caption) {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSize(11);
    return QFontMetrics(font).horizontalAdvance(caption) + 4 * 24 + 16;
}

QString WithoutBlanks(QString text) { return text.remove(QRegularExpression("\\s")); }

// The engine's user interface of the desktop, except that showing a message
// fails: an unexpected run-time error in the middle of a run.
class FailingMessages : public velorizer::DesktopUi {
public:
    void MsgBox(const std::string&, int, const std::string&) override {
        throw vb::RunTimeError(vb::errDeviceIO, "the message could not be shown");
    }
};

struct AcidRead {
    int32_t mode = -1;
    int16_t root = -1;
    int32_t beats = -1;
    float tempo = 0;
};
AcidRead ReadAcid(const std::string& path) {
    std::vector<velorizer::clsAcidSettings::Body> bodies;
    std::string error;
    AcidRead r;
    if (velorizer::ReadAcidChunks(path, bodies, error) && bodies.size() == 1) {
        const auto s = velorizer::clsAcidSettings::FromBody(bodies[0]);
        r = {s.Mode(), s.MidiBase(), s.LoopBeats(), s.Tempo()};
    }
    return r;
}

}  // namespace

class BatchRunTest : public QObject {
    Q_OBJECT

    TempDir vexlorDir_;
    frmMain1* w_ = nullptr;

    template <class T = QWidget> T* c(const char* name) { return w_->findChild<T*>(name); }
    void Click(const char* name) {
        QWidget* w = c(name);
        const bool small = qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w);
        QTest::mouseClick(w, Qt::LeftButton, {}, small ? QPoint(8, w->height() / 2) : w->rect().center());
    }
    void Type(const char* box, const QString& text) {
        auto* edit = c<QLineEdit>(box);
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, text);
        c<QPushButton>("cmdHelp")->setFocus(Qt::TabFocusReason);
    }
    void Drop(const std::vector<std::string>& paths) {
        QVERIFY(DropPaths(c<QTreeView>("lvwFiles")->viewport(), paths));
    }
    std::vector<std::string> Loops(const TempDir& dir, int n, double seconds = 2.0) {
        std::vector<std::string> files;
        for (int i = 0; i < n; ++i)
            files.push_back(testsupport::MakeSoxWave(dir, "loop" + std::to_string(i + 1) + ".wav", 44100, 2, 16,
                                                     "signed-integer", seconds));
        return files;
    }
    static std::function<void(QWidget*)> Answer(int button, QStringList* questions = nullptr) {
        return [button, questions](QWidget* modal) {
            auto* dialog = qobject_cast<frmConfirmReadOnly*>(modal);
            if (!dialog) {
                QTest::qFail("expected the confirmation dialog", __FILE__, __LINE__);
                PressOk(modal);
                return;
            }
            if (questions) questions->append(dialog->windowTitle() + ": " + dialog->lblMessage()->text());
            QTest::mouseClick(dialog->cmdConfirm(button), Qt::LeftButton);
        };
    }
    // A question as Answer records it.
    static QString Asked(const char* question, const std::string& path) {
        return "Confirm Velorizing: Are you sure you want to " + QString(question) + " '" +
               QString::fromStdString(path) + "'?";
    }
    static std::function<void(QWidget*)> Closing(QString* text) {
        return [text](QWidget* modal) {
            *text = MessageText(modal);
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box && (box->icon() != QMessageBox::Information || box->windowTitle() != "Ostrelco Velorizer"))
                *text += " (wrong icon or title)";
            if (box && box->frameGeometry().width() < CaptionRoom(box->windowTitle())) *text += " (caption cut)";
            PressOk(modal);
        };
    }

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
    }
    void init() { w_ = NewMainWindow(); }
    void cleanup() { delete w_; }

    void threeFilesShowOneTwoThreeOfThree() {
        TempDir dir;
        const auto files = Loops(dir, 3);
        Drop(files);
        Click("optAcidProp_1");
        frmWorking* working = w_->Working();
        QList<int> values;
        bool shownEachTime = true, busyEachTime = true;
        connect(working->ProgressBar1(), &QProgressBar::valueChanged, this, [&](int v) {
            if (v == 0) return;
            values << v;
            shownEachTime = shownEachTime && working->isVisible() && working->ProgressBar1()->maximum() == 3;
            busyEachTime = busyEachTime && !w_->isEnabled();
        });
        QString closing;
        bool busyAtEnd = false, workingAtEnd = true, refused = false;
        AnswerInTurn({[&](QWidget* modal) {
            busyAtEnd = !w_->isEnabled() && !c("cmdVELORize")->isEnabled();
            workingAtEnd = working->isVisible();
            // The window takes no input now: no second run, no drop.
            QTest::mouseClick(c("cmdVELORize"), Qt::LeftButton);
            refused = !DropPaths(c<QTreeView>("lvwFiles")->viewport(), {files[0]});
            Closing (&closing)(modal);
        }});
        TraceWatch trace;
        Click("cmdVELORize");
        QCOMPARE(values, (QList<int>{1, 2, 3}));
        QVERIFY(shownEachTime);
        QVERIFY(busyEachTime);
        QCOMPARE(closing, QString("Operation completed."));
        QVERIFY(busyAtEnd);
        QVERIFY(!workingAtEnd);
        QVERIFY(refused);
        QCOMPARE(working->windowTitle(), QString("Working..."));
        QCOMPARE(working->size(), QSize(4995 / 15, 585 / 15));  // twips
        QVERIFY(w_->isEnabled());
        QVERIFY(c("cmdVELORize")->isEnabled());
        QCOMPARE(w_->Keys(), files);
        for (const auto& f : files) QCOMPARE(ReadAcid(f).mode, 20);
        const auto calls = trace.Calls();
        QCOMPARE(calls.front(), std::string("->main : Sub cmdVELORize_Click"));
        QCOMPARE(calls[1], std::string("->main : Sub Velorize"));
        QCOMPARE(calls[2], std::string("->main : Property (Let) Busy"));
        QCOMPARE(calls.back(), std::string("<-main : Sub cmdVELORize_Click"));
        QCOMPARE(calls[calls.size() - 2], std::string("<-main : Sub Velorize"));
        QCOMPARE(modVexlor::CallDepth(), int16_t(0));
    }

    void cancelOnTheFirstQuestionStopsTheRun() {
        TempDir dir;
        const auto files = Loops(dir, 3);
        ::chmod(files[0].c_str(), 0444);
        std::vector<std::vector<uint8_t>> before;
        for (const auto& f : files) before.push_back(Bytes(f));
        Drop(files);
        QStringList questions;
        QString closing;
        AnswerInTurn({Answer(3, &questions), Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(questions, QStringList{Asked("Velorize the read-only file", files[0])});
        QCOMPARE(closing, QString("Operation cancelled."));
        for (size_t i = 0; i < files.size(); ++i) QVERIFY(Bytes(files[i]) == before[i]);
        QVERIFY(!w_->Working()->isVisible());
        QVERIFY(w_->isEnabled());
    }

    void yesToAllLastsOneRun() {
        TempDir dir;
        const auto files = Loops(dir, 2);
        for (const auto& f : files) ::chmod(f.c_str(), 0444);
        Drop(files);
        QStringList questions;
        QString closing;
        AnswerInTurn({Answer(1 /* Yes to All */, &questions), Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(questions.size(), 1);
        QCOMPARE(closing, QString("Operation completed."));
        for (const auto& f : files) QCOMPARE(ReadAcid(f).mode, 1);
        // The next run asks again about the first read-only file.
        questions.clear();
        AnswerInTurn({Answer(3, &questions), Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(questions, QStringList{Asked("Velorize the read-only file", files[0])});
        QCOMPARE(closing, QString("Operation cancelled."));
    }

    void readOnlyAndTaggedAsksBothInOrder() {
        TempDir dir;
        const auto files = Loops(dir, 1);
        Drop(files);
        QString closing;
        AnswerInTurn({Closing(&closing)});
        Click("cmdVELORize");  // one-shot
        QCOMPARE(ReadAcid(files[0]).mode, 1);
        ::chmod(files[0].c_str(), 0444);
        Click("optAcidProp_1");
        QStringList questions;
        AnswerInTurn({Answer(0, &questions), Answer(0, &questions), Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(questions, (QStringList{Asked("Velorize the read-only file", files[0]),
                                         Asked("re-Velorize the file", files[0])}));
        QCOMPARE(ReadAcid(files[0]).mode, 20);
        struct stat st = {};
        ::stat(files[0].c_str(), &st);
        QCOMPARE(st.st_mode & 0777, mode_t(0444));
    }

    void sixPanelChoices_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("tempoChecked");
        QTest::addColumn<int>("root");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("midi");
        QTest::addColumn<float>("tempo");
        QTest::addColumn<int>("beats");
        // A 2 s loop of 8 beats plays at 240 bpm; disk-based files carry the typed 95.5.
        QTest::newRow("one-shot") << 0 << true << 5 << 1 << 0 << 120.0f << 4;
        QTest::newRow("loop, don't transpose") << 1 << false << 0 << 20 << 0 << 240.0f << 8;
        QTest::newRow("loop, C") << 1 << false << 1 << 22 << 60 << 240.0f << 8;
        QTest::newRow("disk-based with tempo, C") << 2 << true << 1 << 30 << 48 << 95.5f << 4;
        QTest::newRow("disk-based with tempo, no root") << 2 << true << 0 << 28 << 60 << 95.5f << 4;
        QTest::newRow("disk-based without tempo") << 2 << false << 12 << 25 << 60 << 95.5f << 4;
    }
    void sixPanelChoices() {
        QFETCH(int, kind);
        QFETCH(bool, tempoChecked);
        QFETCH(int, root);
        QFETCH(int, mode);
        QFETCH(int, midi);
        QFETCH(float, tempo);
        QFETCH(int, beats);
        TempDir dir;
        const auto files = Loops(dir, 1);
        Drop(files);
        // Set every control first, so that the choice must ignore the ones that don't apply.
        Click("optAcidProp_1");
        Type("txtBeats", "8");
        w_->cboRoot(0)->setCurrentIndex(root);
        Click("optAcidProp_2");
        if (tempoChecked) Click("chkTempo");
        w_->cboRoot(1)->setCurrentIndex(root == 0 ? 0 : root);
        Type("txtTempo", "95.5");
        Click(kind == 0 ? "optAcidProp_0" : kind == 1 ? "optAcidProp_1" : "optAcidProp_2");
        QString closing;
        AnswerInTurn({Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(closing, QString("Operation completed."));
        const AcidRead acid = ReadAcid(files[0]);
        QCOMPARE(acid.mode, mode);
        QCOMPARE(acid.root, int16_t(midi));
        // libsndfile, the independent reader, sees the same.
        const auto snd = testsupport::ReadWithSndfile(files[0]);
        QVERIFY(snd.hasLoop);
        QCOMPARE(snd.rootKey, (mode & 0x02) ? midi : -1);  // it shows a root note only where the flag says so
        QCOMPARE(snd.numBeats, beats);
        QCOMPARE(snd.bpm, tempo);
    }

    void confirmationDialog() {
        // Short message: 7005 twips wide, centred; Enter answers Yes.
        int32_t answer = 0;
        QRect frame;
        QStringList tabOrder;
        QRect area;
        WhenModal([&](QWidget* m) {
            auto* d = qobject_cast<frmConfirmReadOnly*>(m);
            QVERIFY(d);
            QVERIFY(QTest::qWaitForWindowActive(d));
            frame = d->frameGeometry();
            area = d->screen()->availableGeometry();
            QWidget* f = d->cmdConfirm(0);
            for (int i = 0; i < 4; ++i, f = f->nextInFocusChain()) {
                while (!qobject_cast<QPushButton*>(f)) f = f->nextInFocusChain();
                tabOrder << qobject_cast<QPushButton*>(f)->text();
            }
            QTest::keyClick(d, Qt::Key_Return);
        });
        TraceWatch trace;
        answer = velorizer::GetConfirmReadOnly("Short", "Replace it?");
        QCOMPARE(answer, 1);
        QCOMPARE(frame.width(), 7005 / 15);
        QCOMPARE(frame.x(), area.x() + (area.width() - frame.width()) / 2);
        QCOMPARE(tabOrder, (QStringList{"&Yes", "Yes to &All", "Cancel", "&No"}));
        QVERIFY(trace.Saw("->velorize : Function GetConfirmReadOnly"));
        QVERIFY(trace.Saw("->CRO : Sub Form_Activate"));
        QVERIFY(trace.Saw("->CRO : Sub cmdConfirm_Click"));
        QVERIFY(trace.Saw("->CRO : Property (Get) Result"));

        // A long message widens the dialog to the label's end plus 20 pixels; Esc answers Cancel.
        const std::string longMessage = "Are you sure you want to re-Velorize the file '" + std::string(40, 'x') + "'?";
        int labelRight = 0;
        QString caption;
        WhenModal([&](QWidget* m) {
            auto* d = qobject_cast<frmConfirmReadOnly*>(m);
            QVERIFY(d);
            QVERIFY(QTest::qWaitForWindowActive(d));
            caption = d->windowTitle();
            labelRight = d->lblMessage()->geometry().right() + 1;
            frame = d->frameGeometry();
            QTest::keyClick(d, Qt::Key_Escape);
        });
        QCOMPARE(velorizer::GetConfirmReadOnly("Confirm Velorizing", longMessage), -1);
        QCOMPARE(caption, QString("Confirm Velorizing"));
        QVERIFY(labelRight > 7005 / 15);
        QCOMPARE(frame.width(), labelRight + 20);
        QCOMPARE(frame.x(), area.x() + (area.width() - frame.width()) / 2);

        // Yes to All, then a question closed from its frame: Cancel, not the earlier answer.
        WhenModal(
            [](QWidget* m) { QTest::mouseClick(qobject_cast<frmConfirmReadOnly*>(m)->cmdConfirm(1), Qt::LeftButton); });
        QCOMPARE(velorizer::GetConfirmReadOnly("t", "first"), 3);
        QString secondText;
        WhenModal([&](QWidget* m) {
            secondText = qobject_cast<frmConfirmReadOnly*>(m)->lblMessage()->text();
            m->close();
        });
        QCOMPARE(velorizer::GetConfirmReadOnly("t", "second"), -1);
        QCOMPARE(secondText, QString("second"));
        WhenModal([](QWidget* m) { QTest::keyClick(m, Qt::Key_N, Qt::AltModifier); });
        QCOMPARE(velorizer::GetConfirmReadOnly("t", "third"), 2);
    }

    void aLongQuestionFitsOnTheScreen() {
        // Asks and answers Yes; the dialog must lie on its screen, centred, with
        // every line of the text whole and above the buttons. Gives the text and tooltip.
        auto ask = [](const std::string& message) {
            QStringList seen{"(not asked)", ""};
            WhenModal([&seen](QWidget* m) {
                const auto answer = qScopeGuard([m] { QTest::keyClick(m, Qt::Key_Return); });  // whatever fails
                auto* d = qobject_cast<frmConfirmReadOnly*>(m);
                QVERIFY(d && QTest::qWaitForWindowActive(d));
                const QRect frame = d->frameGeometry(), area = d->screen()->availableGeometry();
                QVERIFY(area.contains(frame));
                QVERIFY(std::abs((frame.left() - area.left()) - (area.right() - frame.right())) <= 1);
                QLabel* label = d->lblMessage();
                QVERIFY(d->cmdConfirm(0)->y() > label->geometry().bottom());
                QVERIFY(d->cmdConfirm(0)->geometry().bottom() < d->height());
                for (const QString& line : label->text().split('\n'))
                    QVERIFY2(label->fontMetrics().horizontalAdvance(line) <= label->width(), qPrintable(line));
                QCOMPARE(label->textFormat(), Qt::PlainText);
                seen = {label->text(), label->toolTip()};
            });
            if (velorizer::GetConfirmReadOnly("Confirm Velorizing", message) != 1)
                QTest::qFail("not Yes", __FILE__, __LINE__);
            return seen;
        };
        // A 232-character path wraps, and all of it shows.
        std::string path = "/home/producer/Sample Libraries/Vintage Drum Machines";
        while (path.size() < 200) path += "/Session " + std::to_string(path.size());
        path += "/" + std::string(232 - path.size() - 10, 'x') + "/kick.wav";
        const std::string message = "Are you sure you want to re-Velorize the file '" + path + "'?";
        QStringList seen = ask(message);
        QVERIFY(seen[0].contains('\n'));
        QCOMPARE(WithoutBlanks(seen[0]), WithoutBlanks(QString::fromStdString(message)));
        QCOMPARE(seen[1], QString());
        // More than the screen holds: the middle is left out, the whole is in the tooltip.
        const std::string huge =
            "Are you sure you want to re-Velorize the file '" + std::string(30000, 'x') + "/end.wav'?";
        seen = ask(huge);
        QVERIFY(seen[0].startsWith("Are you sure") && seen[0].endsWith("/end.wav'?") &&
                seen[0].contains(QChar(0x2026)));
        QCOMPARE(seen[1], QString::fromStdString(huge));
        // A name with a line break and markup: one line, shown as it is; one
        // with a right-to-left override can't turn the rest of the line round.
        seen = ask("Are you sure you want to re-Velorize the file '/tmp/a\nb<b>c</b>.wav'?");
        QCOMPARE(seen[0], QString("Are you sure you want to re-Velorize the file '/tmp/a\u240Ab<b>c</b>.wav'?"));
        seen = ask("Are you sure you want to re-Velorize the file '/tmp/evil_\u202egnp.wav'?");
        QCOMPARE(seen[0], QString("Are you sure you want to re-Velorize the file '/tmp/evil_\\u202egnp.wav'?"));
    }

    void anUnexpectedErrorInARunGivesTheWindowBack() {
        TempDir dir;
        const std::string notWave = dir / "text.wav";
        testsupport::WriteBytes(notWave, {'h', 'e', 'l', 'l', 'o'});
        Drop({notWave});
        FailingMessages failing;
        w_->SetVelorizeUi(&failing);
        Click("cmdVELORize");
        w_->SetVelorizeUi(nullptr);
        const auto& rec = modVexlor::ErrorRecord();
        QCOMPARE(rec.Number[0], int32_t(vb::errDeviceIO));
        QVERIFY(QString::fromStdString(rec.ProcedureName[0]).startsWith("Sub cmdVELORize_Click"));
        QVERIFY(!w_->Working()->isVisible());
        QVERIFY(w_->isEnabled());
        QVERIFY(!w_->Busy());
        QVERIFY(c("cmdVELORize")->isEnabled());
        // And the next run works as usual.
        QString refusal, closing;
        AnswerInTurn({Closing(&refusal), Closing(&closing)});
        Click("cmdVELORize");
        QVERIFY2(refusal.contains("text.wav"), qPrintable(refusal));
        QCOMPARE(closing, QString("Operation completed."));
    }

    void aMonitorPauseInARunNeitherFreesTheWindowNorBreaksTheRun() {
        TempDir run;  // the monitor's folder, private to this test
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(run.path().string()));
        QProcess monitor;
        monitor.setStandardOutputFile(QProcess::nullDevice());
        // Pauses on the exits of Busy: when the run has made the window busy, and when it is over.
        monitor.start(VELORIZER_BIN_DIR "/vexlor-monitor",
                      {"--pause-on", "<-\t\tmain : Property \\(Let\\) Busy", "--resume-after", "0.3"});
        QTRY_VERIFY(modVexlor::monitor::Link().Connect(modVexlor::monitor::SocketPath("Orvane Vexlor")));
        delete w_;
        UseVexlorFolder(vexlorDir_.path().string());  // a fresh start finds the monitor
        w_ = NewMainWindow();
        TempDir dir;
        const auto files = Loops(dir, 3, 1.0);
        Drop(files);
        Click("optAcidProp_1");
        QElapsedTimer sinceClick;
        qint64 firstFileAt = -1;
        bool enabledAfterPause = true, menuShown = false;
        connect(w_->Working()->ProgressBar1(), &QProgressBar::valueChanged, this, [&](int v) {
            if (v != 1) return;
            firstFileAt = sinceClick.elapsed();
            enabledAfterPause = w_->isEnabled();
            // A right-click on the list opens nothing (a menu that opened after all is closed).
            QTimer::singleShot(300, [] {
                if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
            });
            QTest::mouseClick(c<QTreeView>("lvwFiles")->viewport(), Qt::RightButton, {}, QPoint(40, 8));
            menuShown = QApplication::activePopupWidget() != nullptr;
            // Were the rows removed all the same, the run goes on with the files it took.
            w_->mnuFiles()->actions().at(1)->trigger();
        });
        QString closing;
        AnswerInTurn({Closing(&closing)});
        sinceClick.start();
        Click("cmdVELORize");
        monitor.terminate();
        monitor.waitForFinished(5000);
        qunsetenv("XDG_RUNTIME_DIR");
        UseVexlorFolder(vexlorDir_.path().string());
        QVERIFY2(firstFileAt >= 250, "the run was paused before its first file");
        QVERIFY2(!enabledAfterPause, "the pause gave back the window the run had made busy");
        QVERIFY(!menuShown);
        QCOMPARE(closing, QString("Operation completed."));
        for (const auto& f : files) QCOMPARE(ReadAcid(f).mode, 20);
        QVERIFY(w_->isEnabled());  // the pause at the run's end gave it back
        QCOMPARE(w_->Keys(), std::vector<std::string>{frmMain1::kDummyKey});
    }

    void previewReportsAPlayerThatCannotStart() {
        TempDir dir;
        const std::string missing = dir / "gone\u2067.wav";  // an isolate, shown as an escape
        testsupport::WriteBytes(missing, {});
        Drop({missing});
        ::unlink(missing.c_str());
        QTest::mouseClick(c<QTreeView>("lvwFiles")->viewport(), Qt::LeftButton, {}, QPoint(40, 8));
        QVERIFY(c("cmdPreview")->isEnabled());
        QString text;
        AnswerInTurn({Closing(&text)});
        TraceWatch trace;
        Click("cmdPreview");
        QCOMPARE(text, QString::fromStdString("Velorizer experienced an unknown error playing file " +
                                              dir.path().string() + "/gone\\u2067.wav."));
        QVERIFY(trace.Saw("->main : Sub PlaySound"));
        QVERIFY(w_->isEnabled());
    }

    void ctrlZTakesTheLastRunBackToTheByte() {
        TempDir dir;
        const auto files = Loops(dir, 2, 0.2);
        std::vector<std::vector<uint8_t>> before;
        for (const auto& f : files) before.push_back(Bytes(f));
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", state); });
        qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir / "state"));
        Drop(files);
        Click("optAcidProp_1");
        QString closing;
        AnswerInTurn({Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(closing, QString("Operation completed."));
        // The tooltip reads the file when it is asked for.
        auto* list = c<QTreeView>("lvwFiles");
        const QPoint at(40, list->visualRect(list->model()->index(1, 0)).center().y());
        const auto tooltip = [&] {
            QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
            QApplication::sendEvent(list->viewport(), &help);
            return QToolTip::text();
        };
        QVERIFY(tooltip().contains("type loop, no root note, 4 beats, tempo "));

        QString question, undone;
        AnswerInTurn({[&](QWidget* m) {
                          question = MessageText(m);
                          auto* box = qobject_cast<QMessageBox*>(m);
                          if (box && box->button(QMessageBox::Yes))
                              QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
                          else PressOk(m);
                      },
                      Closing(&undone)});
        // The window system gives the focus back after the closing message; offscreen it's asked to.
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_));
        QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
        QTRY_VERIFY(question.contains("it wrote loop of 4 beats, no root note and changed 2 files; no file failed."));
        QVERIFY(undone.startsWith("Run ") && undone.endsWith(" undone: 2 files restored."));
        for (size_t i = 0; i < files.size(); ++i) QCOMPARE(Bytes(files[i]), before[i]);
        QVERIFY(tooltip().contains("no acid chunk"));
    }

    void aRunIsJournaledAndOneThatCantBeIsNotStarted() {
        TempDir dir;
        const auto files = Loops(dir, 2, 0.2);
        const auto before = Bytes(files[0]);
        Drop(files);
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", state); });
        testsupport::WriteBytes(dir / "state", {'x'});
        qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir / "state"));
        QStringList seen;  // title, text, and whether the progress window was up
        AnswerInTurn({[&](QWidget* m) {
            seen = {m->windowTitle(), MessageText(m), w_->Working()->isVisible() ? "working" : ""};
            PressOk(m);
        }});
        Click("cmdVELORize");
        QCOMPARE(seen,
                 (QStringList{"Error",
                              QString::fromStdString("Velorizer can't keep a journal of this run: '" + (dir / "state") +
                                                     "' is not a folder. No file was changed. To tag without a "
                                                     "journal, start Velorizer with VELORIZER_JOURNAL=off in its "
                                                     "environment."),
                              ""}));
        QCOMPARE(Bytes(files[0]), before);
        QVERIFY(w_->isEnabled() && c("cmdVELORize")->isEnabled());

        qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir / "good"));
        QString closing;
        AnswerInTurn({Closing(&closing)});
        Click("cmdVELORize");
        QCOMPARE(closing, QString("Operation completed."));
        std::vector<velorizer::RunSummary> runs;
        std::string error;
        QVERIFY(velorizer::ListRuns(velorizer::JournalFolder(), runs, error));
        QCOMPARE(runs.size(), size_t(1));
        QCOMPARE(runs[0].program + ": " + runs[0].settings, std::string("velorun: one-shot"));
        QCOMPARE(runs[0].changed, size_t(2));
    }
};

QTEST_MAIN(BatchRunTest)
#include "BatchRunTest.moc"
