// The two number boxes read typed text the same way in every locale: run once
// under C.UTF-8 and once under de_DE.UTF-8 (a decimal comma), with the same
// table. After Tab, Up/Down or Velorize the box shows the value used.
#include "DesktopTestSupport.h"
#include "Inspect.h"
#include "Program.h"
#include "TestSupport.h"
#include "UpDown.h"
#include "frmMain1.h"

#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <QTreeView>
#include <cstdlib>
#include <tuple>

using namespace desktoptest;

class PanelNumbersTest : public QObject {
    Q_OBJECT

    testsupport::TempDir vexlorDir_;
    frmMain1* w_ = nullptr;

    template <class T = QWidget> T* c(const char* name) { return w_->findChild<T*>(name); }
    void Type(const char* box, const QString& text) {
        auto* edit = c<QLineEdit>(box);
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
        // The locale is really the one named: a German run without the locale
        // built would prove nothing.
        const bool german = qgetenv("LC_ALL").startsWith("de_DE");
        QCOMPARE(QLocale().decimalPoint(), german ? QString(",") : QString("."));
        QCOMPARE(std::strtod("0,5", nullptr), german ? 0.5 : 0.0);
    }
    void init() { w_ = NewMainWindow(); }
    void cleanup() { delete w_; }

    void typedNumbers_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("value");
        // The box, what is typed over its first value (7 or 130.5), the text shown after Tab, the value used.
        const std::tuple<const char*, const char*, const char*, int> rows[] = {{"txtBeats", "5.7", "6", 6},
                                                                               {"txtBeats", "2.5", "2", 2},
                                                                               {"txtBeats", "3.5", "4", 4},
                                                                               {"txtBeats", "5,7", "5", 5},
                                                                               {"txtBeats", "1.000", "1", 1},
                                                                               {"txtBeats", "1e3", "1000", 1000},
                                                                               {"txtBeats", "12abc", "12", 12},
                                                                               {"txtBeats", "0,9", "7", 7},
                                                                               {"txtBeats", "1e999", "7", 7},
                                                                               {"txtTempo", "95.5", "95.5", 95500},
                                                                               {"txtTempo", "95,5", "95", 95000},
                                                                               {"txtTempo", "60,500", "60", 60000},
                                                                               {"txtTempo", "1.2e2", "120", 120000},
                                                                               {"txtTempo", "100.0005", "100", 100000},
                                                                               {"txtTempo", "240.5", "130.5", 130500},
                                                                               {"txtTempo", "59.9", "130.5", 130500},
                                                                               {"txtTempo", ",5", "130.5", 130500}};
        for (auto [box, typed, shown, value] : rows)
            QTest::newRow((QString(box) + " " + typed).toUtf8())
                << QString(box) << QString(typed) << QString(shown) << value;
    }
    void typedNumbers() {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, value);
        const bool beats = box == "txtBeats";
        QTest::mouseClick(c(beats ? "optAcidProp_1" : "optAcidProp_2"), Qt::LeftButton, {}, QPoint(8, 8));
        auto* edit = c<QLineEdit>(qPrintable(box));
        auto* spin = c<UpDown>(beats ? "updBeats" : "updTempo");
        Type(qPrintable(box), beats ? "7" : "130.5");
        QTest::keyClick(edit, Qt::Key_Tab);
        Type(qPrintable(box), typed);
        QTest::keyClick(edit, Qt::Key_Tab);
        QCOMPARE(edit->text(), shown);
        QCOMPARE(spin->value(), value);
        // Read back as shown: leaving the box again changes nothing.
        edit->setFocus(Qt::TabFocusReason);
        QTest::keyClick(edit, Qt::Key_Tab);
        QCOMPARE(spin->value(), value);
    }

    void upDownAndVelorizeTakeWhatIsTyped() {
        testsupport::TempDir dir;
        // By hand: sox would read a length in this locale's number format.
        const std::string file = testsupport::WaveBuilder().Fmt(1, 44100, 16).Data(8820).Write(dir, "take.wav");
        QVERIFY(DropPaths(c<QTreeView>("lvwFiles")->viewport(), {file}));
        QTest::mouseClick(c("optAcidProp_2"), Qt::LeftButton, {}, QPoint(8, 8));
        Type("txtTempo", "95.5");
        QTest::keyClick(c("txtTempo"), Qt::Key_Up);
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), QString("95.501"));
        // Alt+V leaves the focus in the box: the text is read all the same.
        Type("txtTempo", "98.25");
        QString closing;
        WhenModal([&](QWidget* box) {
            closing = MessageText(box);
            PressOk(box);
        });
        QTest::keyClick(c("txtTempo"), Qt::Key_V, Qt::AltModifier);
        QTRY_COMPARE(closing, QString("Operation completed."));
        QCOMPARE(c<QLineEdit>("txtTempo")->text(), QString("98.25"));
        std::vector<velorizer::clsAcidSettings::Body> bodies;
        std::string error;
        QVERIFY(velorizer::ReadAcidChunks(file, bodies, error) && bodies.size() == 1);
        QCOMPARE(velorizer::clsAcidSettings::FromBody(bodies[0]).Tempo(), 98.25f);
    }
};

QTEST_MAIN(PanelNumbersTest)
#include "PanelNumbersTest.moc"
