// The main window and the splash as a user meets them: start-up, the enabled
// states of the panel, the rules of the two number fields, help and closing,
// and the trace lines that the procedures leave in the error log.
#include "DesktopTestSupport.h"
#include "TestSupport.h"
#include "UpDown.h"
#include "Vexlor.h"
#include "frmMain1.h"
#include "frmSplash.h"
#include "Program.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>

using namespace desktoptest;

// Records what the help button asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class MainWindowTest : public QObject {
    Q_OBJECT

    testsupport::TempDir vexlorDir_;
    frmMain1* w_ = nullptr;

    template <class T = QWidget> T* c(const char* name) {
        T* child = w_->findChild<T*>(name);
        if (!child) qFatal("no control %s", name);
        return child;
    }
    // Clicks a control where a user would: on the caption of an option or check
    // box (the middle of its box may lie past the caption's end).
    void Click(const char* name) {
        QWidget* w = c(name);
        QTest::mouseClick(w, Qt::LeftButton, {},
                          qobject_cast<QAbstractButton*>(w) && !qobject_cast<QPushButton*>(w)
                              ? QPoint(8, w->height() / 2)
                              : w->rect().center());
    }
    // Types into a text box and, unless told to stay, moves the focus on as a user leaving it.
    void Type(const char* box, const QString& text, bool leave = true) {
        auto* edit = c<QLineEdit>(box);
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        if (leave) c<QPushButton>("cmdHelp")->setFocus(Qt::TabFocusReason);
    }

    // A row of a number box's table: what is typed, the text shown after, the value taken.
    static void NumberRow(const char* name, const char* typed, const char* shown, int value) {
        QTest::newRow(name) << QString(typed) << QString(shown) << value;
    }

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
        frmMain1::SetEndProgram([] {});
    }
    void init() { w_ = NewMainWindow(); }
    void cleanup() {
        delete w_;
        w_ = nullptr;
    }

    void startUpState() {
        QCOMPARE(w_->windowTitle(), QString("Ostrelco Velorizer 2.2"));
        QCOMPARE(w_->size(), QSize(7455 / 15, 7335 / 15));  // twips
        QCOMPARE(w_->minimumSize(), w_->maximumSize());
        QVERIFY(!(w_->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(w_->windowFlags() & Qt::WindowMaximizeButtonHint));
        auto* list = c<QTreeView>("lvwFiles");
        const QAbstractItemModel* rows = list->model();
        QCOMPARE(rows->rowCount(), 1);
        QCOMPARE(rows->index(0, 0).data().toString(), QString("Drag and drop files/folders here."));
        QVERIFY(rows->index(0, 0).data(Qt::DecorationRole).isNull());
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
        QCOMPARE(rows->columnCount(), 1);
        QCOMPARE(rows->headerData(0, Qt::Horizontal).toString(), QString("Name"));
        QCOMPARE(list->columnWidth(0), 2 * list->width());
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(!w_->ListOK());

        QVERIFY(!c("cmdVELORize")->isEnabled());
        QVERIFY(!c("cmdPreview")->isEnabled());
        QVERIFY(c("cmdHelp")->isEnabled());
        QVERIFY(c("cmdClose")->isEnabled());
        QVERIFY(c<QRadioButton>("optAcidProp_0")->isChecked());
        for (int i = 0; i < 3; ++i) QVERIFY(w_->optAcidProp(i)->isEnabled());
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(w_->cboRoot(i)->count(), 13);
            QCOMPARE(w_->cboRoot(i)->currentText(), QString("Don't transpose"));
            QCOMPARE(w_->cboRoot(i)->itemText(1), QString("C"));
            QCOMPARE(w_->cboRoot(i)->itemText(12), QString("B"));
        }
        QCOMPARE(c<QLineEdit>("txtBeats")->text(), QString("4"));
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), QString("120"));
        QCOMPARE(c<UpDown>("updBeats")->value(), 4);
        QCOMPARE(c<UpDown>("updTempo")->value(), 120000);
        QVERIFY(!c<QCheckBox>("chkTempo")->isChecked());
        for (const char* name : {"lblbeats", "txtBeats", "updBeats", "lblroot_0", "cboRoot_0", "chkTempo", "txtTempo",
                                 "updTempo", "lblroot_1", "cboRoot_1"})
            QVERIFY2(!c(name)->isEnabled(), name);
        QVERIFY(c("Frame1")->isEnabled());
    }

    void layoutAndTabOrder() {
        // The design's left, top, width and height in twips, 15 to a pixel;
        // the panel's controls relative to the frame.
        const struct {
            const char* name;
            int left, top, width, height;
        } places[] = {{"cmdVELORize", 5880, 480, 1215, 375},   {"cmdHelp", 5880, 960, 1215, 375},
                      {"cmdClose", 5880, 1680, 1215, 375},     {"cmdPreview", 5880, 2880, 1215, 375},
                      {"Frame1", 360, 360, 5220, 2895},        {"optAcidProp_0", 120, 240, 1815, 270},
                      {"optAcidProp_1", 120, 600, 1815, 270},  {"lblbeats", 375, 960, 2295, 255},
                      {"txtBeats", 2640, 930, 735, 285},       {"updBeats", 3360, 930, 240, 285},
                      {"lblroot_0", 375, 1320, 2175, 375},     {"cboRoot_0", 2640, 1320, 1575, 315},
                      {"optAcidProp_2", 120, 1680, 1815, 270}, {"chkTempo", 360, 2040, 2055, 255},
                      {"txtTempo", 2640, 2040, 735, 285},      {"updTempo", 3360, 2040, 240, 255},
                      {"lblroot_1", 360, 2400, 2175, 375},     {"cboRoot_1", 2625, 2400, 1575, 315},
                      {"lvwFiles", 360, 3360, 6735, 3615}};
        for (const auto& p : places)
            QCOMPARE(c(p.name)->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15));
        QCOMPARE(c<QGroupBox>("Frame1")->title(), QString("Acid Properties"));
        QCOMPARE(c<QPushButton>("cmdVELORize")->text(), QString("&Velorize"));
        QCOMPARE(c<QPushButton>("cmdClose")->text(), QString("C&lose"));
        QCOMPARE(c<QRadioButton>("optAcidProp_2")->text(), QString("&Disk-Based"));
        QCOMPARE(c<QLabel>("lblbeats")->text(), QString("Number of Beats (1 to 10,000):"));
        QCOMPARE(c<QCheckBox>("chkTempo")->text(), QString("Tempo (60 to 240 bpm):"));

        const QStringList expected = {"cmdVELORize", "cmdHelp",       "cmdClose", "optAcidProp_0", "optAcidProp_1",
                                      "txtBeats",    "optAcidProp_2", "chkTempo", "cboRoot_0",     "txtTempo",
                                      "updTempo",    "updBeats",      "lvwFiles", "cmdPreview",    "cboRoot_1"};
        QStringList chain;
        QWidget* start = c("cmdVELORize");
        QWidget* w = start;
        do {
            if (expected.contains(w->objectName()) && !chain.contains(w->objectName())) chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != start);
        QCOMPARE(chain, expected);
    }

    void splashHandsOverAfterThreeSeconds() {
        delete w_;
        w_ = nullptr;
        TraceWatch trace;
        QElapsedTimer clock;
        clock.start();
        frmSplash* splash = velorizer::StartProgram();
        QVERIFY(QTest::qWaitForWindowExposed(splash));
        QCOMPARE(splash->size(), QSize(6000 / 15, 3000 / 15));  // twips
        QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(splash->findChild<QLabel*>("lblVersion")->text(), QString("Version 2.2"));
        QCOMPARE(splash->findChild<QLabel*>("lblcompany")->text(), QString("Ostrelco, Inc."));
        QVERIFY(!splash->findChild<QLabel*>("Image1")->pixmap().isNull());
        QCOMPARE(splash->windowTitle(), QString("Ostrelco Velorizer"));
        QCOMPARE(splash->Timer1()->interval(), 3000);
        // Neither a click nor the window manager's close request has any effect:
        // the splash goes when its timer has run, however late a loaded machine
        // lets the test look.
        qint64 hiddenAt = -1;
        connect(splash->windowHandle(), &QWindow::visibleChanged, this, [&](bool shown) {
            if (!shown && hiddenAt < 0) hiddenAt = clock.elapsed();
        });
        QTest::mouseClick(splash, Qt::LeftButton);
        QCloseEvent closeRequest;
        QApplication::sendEvent(splash->windowHandle(), &closeRequest);
        QCoreApplication::processEvents();
        QVERIFY(splash->isVisible());
        QPointer<frmSplash> gone(splash);
        QTRY_VERIFY_WITH_TIMEOUT(TopLevel("frmMain1") != nullptr, 20000);
        QVERIFY(clock.elapsed() >= 3000);
        QTRY_VERIFY(gone.isNull());  // unloaded
        QVERIFY2(hiddenAt >= 3000, qPrintable(QString::number(hiddenAt)));
        auto* main = static_cast<frmMain1*>(TopLevel("frmMain1"));
        const auto calls = trace.Calls();
        const std::vector<std::string> head(calls.begin(), calls.begin() + std::min<size_t>(calls.size(), 4));
        QCOMPARE(head, (std::vector<std::string>{"->splash : Sub Form_Load", "<-splash : Sub Form_Load",
                                                 "->splash : Sub Timer1_Timer", "->main : Sub Form_Load"}));
        QCOMPARE(calls.back(), std::string("<-splash : Sub Timer1_Timer"));
        delete main;
    }

    void loadSequenceAndTraceLineFormat() {
        delete w_;
        TraceWatch trace;
        w_ = NewMainWindow();
        const std::vector<std::string> expected = {
            "->main : Sub Form_Load",       "->main : Sub optAcidProp_Click", "<-main : Sub optAcidProp_Click",
            "->main : Sub ListviewReset",   "<-main : Sub ListviewReset",     "->main : Sub RefreshForm",
            "->main : Function ListOK",     "<-main : Function ListOK",       "->main : Property (Get) Busy",
            "<-main : Property (Get) Busy", "<-main : Sub RefreshForm",       "<-main : Sub Form_Load"};
        QCOMPARE(trace.Calls(), expected);
        // The whole line: program tag, five-digit number, seconds, arrow, indented frame.
        const auto lines = LogLines();
        QRegularExpression entry(R"(^\[test_desktop_window\] \[\d{5}\] \[\d{5}\.\d{3}\] ->\t*main : Sub RefreshForm$)");
        bool found = false;
        for (const auto& l : lines) found = found || entry.match(QString::fromStdString(l)).hasMatch();
        QVERIFY(found);
        QCOMPARE(modVexlor::CallDepth(), int16_t(0));
    }

    void enabledStatesFollowTheKindOfSample() {
        auto loopRow = {"lblbeats", "txtBeats", "updBeats", "lblroot_0", "cboRoot_0"};
        auto tempoRow = {"chkTempo", "txtTempo", "updTempo"};
        auto root1 = {"lblroot_1", "cboRoot_1"};
        auto check = [&](bool loop, bool tempo, bool second) {
            for (const char* n : loopRow) QVERIFY2(c(n)->isEnabled() == loop, n);
            for (const char* n : tempoRow) QVERIFY2(c(n)->isEnabled() == tempo, n);
            for (const char* n : root1) QVERIFY2(c(n)->isEnabled() == second, n);
        };
        TraceWatch trace;
        Click("optAcidProp_1");
        check(true, false, false);
        QVERIFY(trace.Saw("->main : Sub optAcidProp_Click"));
        Click("optAcidProp_2");
        check(false, true, false);
        TraceWatch checkbox;
        Click("chkTempo");
        check(false, true, true);
        QVERIFY2(checkbox.Calls().empty(), "the tempo check box is not instrumented");
        Click("chkTempo");
        check(false, true, false);
        Click("chkTempo");
        w_->cboRoot(1)->setCurrentIndex(3);
        Click("optAcidProp_1");
        check(true, false, false);
        Click("optAcidProp_2");
        check(false, true, true);
        QCOMPARE(w_->cboRoot(1)->currentText(), QString("D"));
        // A click on the selected button applies the rule again.
        Click("optAcidProp_2");
        check(false, true, true);
        Click("optAcidProp_0");
        check(false, false, false);
        QVERIFY(c<QCheckBox>("chkTempo")->isChecked());
        QVERIFY(c("Frame1")->isEnabled());
    }

    void beatsText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("value");
        NumberRow("5.7 rounds up", "5.7", "6", 6);
        NumberRow("2.5 to even", "2.5", "2", 2);
        NumberRow("3.5 to even", "3.5", "4", 4);
        NumberRow("lowest", "1", "1", 1);
        NumberRow("highest", "10000", "10000", 10000);
        NumberRow("blanks around", " 12 ", "12", 12);
        NumberRow("zero", "0", "7", 7);
        NumberRow("above", "10001", "7", 7);
        NumberRow("negative", "-5", "7", 7);
        NumberRow("empty", "", "7", 7);
        NumberRow("no number", "abc", "7", 7);
        NumberRow("0.4 is below 1", "0.4", "7", 7);
        // The value does not change, and the text shows it all the same.
        NumberRow("7.0", "7.0", "7", 7);
        NumberRow("07", "07", "7", 7);
        NumberRow("6.7 rounds to the same", "6.7", "7", 7);
    }
    void beatsText() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, value);
        Click("optAcidProp_1");
        Type("txtBeats", "7");
        QCOMPARE(c<UpDown>("updBeats")->value(), 7);
        Type("txtBeats", typed);
        QCOMPARE(c<QLineEdit>("txtBeats")->text(), shown);
        QCOMPARE(c<UpDown>("updBeats")->value(), value);
    }

    void tempoText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("value");
        NumberRow("99.5", "99.5", "99.5", 99500);
        NumberRow("120.001", "120.001", "120.001", 120001);
        NumberRow("240 accepted", "240", "240", 240000);
        NumberRow("60 accepted", "60", "60", 60000);
        NumberRow("half a thousandth to even", "100.0005", "100", 100000);
        NumberRow("59.9 refused", "59.9", "130.5", 130500);
        NumberRow("240.5 refused", "240.5", "130.5", 130500);
        NumberRow("letters refused", "fast", "130.5", 130500);
    }
    void tempoText() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, value);
        Click("optAcidProp_2");
        Type("txtTempo", "130.5");
        QCOMPARE(c<UpDown>("updTempo")->value(), 130500);
        Type("txtTempo", typed);
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), shown);
        QCOMPARE(c<UpDown>("updTempo")->value(), value);
    }

    void spinButtons() {
        Click("optAcidProp_2");
        auto* tempo = c<UpDown>("updTempo");
        TraceWatch trace;
        QTest::mouseClick(tempo->upButton(), Qt::LeftButton);
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), QString("120.001"));
        QVERIFY(trace.Saw("->main : Sub updTempo_Change"));
        QTest::mouseClick(tempo->downButton(), Qt::LeftButton);
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), QString("120"));
        Type("txtTempo", "239.999");
        QTest::mouseClick(tempo->upButton(), Qt::LeftButton);
        QTest::mouseClick(tempo->upButton(), Qt::LeftButton);
        QCOMPARE(tempo->value(), 240000);
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), QString("240"));
        Type("txtTempo", "60");
        QTest::mouseClick(tempo->downButton(), Qt::LeftButton);
        QCOMPARE(tempo->value(), 60000);

        Click("optAcidProp_1");
        auto* beats = c<UpDown>("updBeats");
        QTest::mouseClick(beats->upButton(), Qt::LeftButton);
        QCOMPARE(c<QLineEdit>("txtBeats")->text(), QString("5"));
        Type("txtBeats", "10000");
        QTest::mouseClick(beats->upButton(), Qt::LeftButton);
        QCOMPARE(beats->value(), 10000);
        Type("txtBeats", "1");
        QTest::mouseClick(beats->downButton(), Qt::LeftButton);
        QCOMPARE(beats->value(), 1);
        QCOMPARE(c<QLineEdit>("txtBeats")->text(), QString("1"));
        // Disabled with the rest of the loop row.
        Click("optAcidProp_0");
        QTest::mouseClick(beats->upButton(), Qt::LeftButton);
        QCOMPARE(beats->value(), 1);
    }

    void numberBoxesStepFromWhatWasTyped() {
        // An arrow or Up/Down while typing: the box's rule first, then the step.
        Click("optAcidProp_1");
        auto* beats = c<UpDown>("updBeats");
        auto* beatsText = c<QLineEdit>("txtBeats");
        Type("txtBeats", "50", false);
        QTest::mouseClick(beats->upButton(), Qt::LeftButton);
        QCOMPARE(beatsText->text(), QString("51"));
        Type("txtBeats", "0", false);  // out of range: 51 comes back
        QTest::mouseClick(beats->downButton(), Qt::LeftButton);
        QCOMPARE(beatsText->text(), QString("50"));
        Type("txtBeats", "30", false);
        QTest::keyClick(beatsText, Qt::Key_Up);
        QTest::keyClick(beatsText, Qt::Key_Up);
        QCOMPARE(beats->value(), 32);
        QVERIFY(beatsText->hasFocus());
        Click("optAcidProp_2");
        auto* tempoText = c<QLineEdit>("txtTempo");
        Type("txtTempo", "150", false);
        QTest::mouseClick(c<UpDown>("updTempo")->upButton(), Qt::LeftButton);
        QCOMPARE(tempoText->text(), QString("150.001"));
        Type("txtTempo", "60", false);
        QTest::keyClick(tempoText, Qt::Key_Down);
        QCOMPARE(tempoText->text(), QString("60"));
    }

    void spinButtonsShowTheirFocus() {
        Click("optAcidProp_2");
        auto* tempo = c<UpDown>("updTempo");
        const QImage plain = tempo->grab().toImage();
        c("txtTempo")->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(c("txtTempo"), Qt::Key_Tab);
        QVERIFY(tempo->hasFocus());
        QVERIFY2(tempo->grab().toImage() != plain, "no focus shown");
        QTest::keyClick(tempo, Qt::Key_Tab);
        QCOMPARE(tempo->grab().toImage(), plain);
    }

    void accessKeysAsTheHelpDescribes() {
        // "&Loop" and "C&lose" share Alt+L: it only moves the focus between the two.
        bool ended = false;
        frmMain1::SetEndProgram([&] { ended = true; });
        QSet<QWidget*> focused;
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(w_, Qt::Key_L, Qt::AltModifier);
            focused << QApplication::focusWidget();
        }
        QCOMPARE(focused, QSet<QWidget*>({c("optAcidProp_1"), c("cmdClose")}));
        QTest::qWait(200);  // longer than a button's animated click
        QVERIFY(c<QRadioButton>("optAcidProp_0")->isChecked() && !ended);
        frmMain1::SetEndProgram([] {});
        // A letter of its own chooses.
        QTest::keyClick(w_, Qt::Key_D, Qt::AltModifier);
        QTRY_VERIFY(c<QRadioButton>("optAcidProp_2")->isChecked());
    }

    void helpOpensThePageBesideTheProgram() {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "open");
        TraceWatch trace;
        Click("cmdHelp");
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(recorder.opened.size(), 1);
        QCOMPARE(recorder.opened[0].toLocalFile(), QString(VELORIZER_BIN_DIR "/help.htm"));
        QVERIFY(trace.Saw("<-main : Sub cmdHelp_Click"));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(w_->isVisible());
    }

    void closingEndsTheProgramAtOnce_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("C&lose") << "button";
        QTest::newRow("caption bar") << "frame";
    }
    void closingEndsTheProgramAtOnce() {
        QFETCH(QString, how);
        QProcess helper;
        helper.start(VELORIZER_BIN_DIR "/desktop_close_helper", {how});
        QVERIFY(helper.waitForFinished(20000));
        const QString out = QString::fromUtf8(helper.readAllStandardOutput());
        QVERIFY2(out.contains("closing"), qPrintable(out));
        QVERIFY2(!out.contains("still running"), qPrintable(out));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
