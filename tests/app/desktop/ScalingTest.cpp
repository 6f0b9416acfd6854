// The windows on a screen scaled by QT_SCALE_FACTOR (run at 1, 1.5 and 2):
// every caption fits its control, and every picture comes from an image made
// for the screen's resolution.
#include "DesktopTestSupport.h"
#include "Program.h"
#include "TestSupport.h"
#include "frmConfirmReadOnly.h"
#include "frmMain1.h"
#include "frmSplash.h"
#include "frmWorking.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <cmath>

using namespace desktoptest;

namespace {

void CheckCaptions(QWidget* window) {
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const QFontMetricsF metrics(w->font());
        qreal needed = 0;
        int room = w->width();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            for (const QString& line : label->text().split('\n'))
                needed = std::max(needed, metrics.horizontalAdvance(line));
            // A control placed over the label's end hides the text under it.
            for (QWidget* other : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!qobject_cast<QLabel*>(other) && other->x() > label->x() &&
                    other->geometry().intersects(label->geometry()))
                    room = std::min(room, other->x() - label->x());
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            auto* box = static_cast<QAbstractButton*>(w);
            QStyleOptionButton option;
            option.initFrom(box);
            const auto part =
                qobject_cast<QCheckBox*>(w) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents;
            room = box->style()->subElementRect(part, &option, box).width();
            needed = metrics.horizontalAdvance(QString(box->text()).remove('&'));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            room = combo->style()
                       ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
                       .width();
            for (int i = 0; i < combo->count(); ++i)
                needed = std::max(needed, metrics.horizontalAdvance(combo->itemText(i)));
        }
        QVERIFY2(std::ceil(needed) <= room, qPrintable(w->objectName()));
    }
}

}  // namespace

class ScalingTest : public QObject {
    Q_OBJECT
    testsupport::TempDir vexlorDir_;

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
    }

    void captionsFitTheirControls() {
        std::unique_ptr<frmMain1> main(NewMainWindow());
        CheckCaptions(main.get());
        frmSplash splash;
        splash.Timer1()->stop();
        CheckCaptions(&splash);
        frmConfirmReadOnly dialog;
        dialog.SetMessage("Are you sure you want to Velorize the read-only file '/tmp/kick.wav'?");
        CheckCaptions(&dialog);
    }

    // A screen smaller than the window: the title bar stays on it, and the
    // list gives up height (down to a few rows) to fit the rest in.
    void aSmallScreenKeepsTheTitleBarInSight() {
        std::unique_ptr<frmMain1> main(NewMainWindow());
        const QRect area = main->screen()->availableGeometry(), frame = main->frameGeometry();
        QVERIFY(area.contains(frame.topLeft()));
        auto* list = main->findChild<QTreeView*>("lvwFiles");
        QVERIFY(list->geometry().bottom() < main->height());
        if (area.height() >= 400 && area.width() >= frame.width()) {
            QVERIFY(area.contains(frame));
            QVERIFY(list->height() > 4 * list->fontMetrics().height());
        }
        if (area.height() >= 600) QCOMPARE(main->height(), 7335 / 15);
    }

    void theQuestionLeavesTheProgressBarInSight() {
        frmWorking working;
        working.RunStarting(3);
        QVERIFY(QTest::qWaitForWindowExposed(&working));
        QRect bar, question;
        WhenModal([&](QWidget* m) {
            QVERIFY(QTest::qWaitForWindowActive(m));
            bar = working.frameGeometry();
            question = m->frameGeometry();
            QTest::keyClick(m, Qt::Key_Return);
        });
        velorizer::GetConfirmReadOnly("Confirm Velorizing",
                                      "Are you sure you want to re-Velorize the file '/tmp/kick.wav'?");
        QVERIFY(!bar.isEmpty() && !question.isEmpty());
        QVERIFY(!question.intersects(bar));
    }

    void picturesMatchTheScreen() {
        const qreal scale = qApp->devicePixelRatio();
        frmSplash splash;
        splash.Timer1()->stop();
        const QPixmap picture = splash.findChild<QLabel*>("Image1")->pixmap();
        QCOMPARE(picture.size(), (QSizeF(400, 200) * scale).toSize());
        QCOMPARE(picture.devicePixelRatio(), scale);

        testsupport::TempDir dir;
        testsupport::WriteBytes(dir / "kick.wav", {});
        std::unique_ptr<frmMain1> main(NewMainWindow());
        auto* list = main->findChild<QTreeView*>("lvwFiles");
        QVERIFY(DropPaths(list->viewport(), {dir / "kick.wav"}));
        // Drawn from an image of the size wanted, not stretched from a smaller one.
        const int wanted = static_cast<int>(std::ceil(16 * scale));
        for (const QIcon& icon :
             {list->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>(), main->windowIcon()})
            QCOMPARE(icon.pixmap(QSize(16, 16), scale).size(), QSize(wanted, wanted));
    }
};

QTEST_MAIN(ScalingTest)
#include "ScalingTest.moc"
