// Opens the real program under a display server and saves what a new user sees:
// the splash window, the main window with files listed, the confirmation
// dialog over the progress window, the question about a file deep in a long
// path, and the closing message. Run by scripts/screenshots.sh, with a window
// manager, so that windows are saved with their frames and captions.
//   desktop_screenshots DIR           every picture, into DIR
//   desktop_screenshots DIR PREFIX    the splash and the main window only, named PREFIX-*.png
#include "Program.h"
#include "frmMain1.h"
#include "frmSplash.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QUrl>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace {

QString outDir;
QString prefix;
int failures = 0;

void Put32(QByteArray& b, quint32 v) {
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>(v >> (8 * i)));
}

// A short 16-bit mono WAVE file; `tagged` adds a loop chunk, so that the
// program asks before tagging it again.
void WriteWave(const QString& path, int frames, bool tagged = false) {
    QByteArray data(frames * 2, '\0');
    for (int i = 0; i < frames; ++i) data[2 * i + 1] = static_cast<char>((i % 64) - 32);
    auto le16 = [](QByteArray& b, quint16 v) {
        b.append(static_cast<char>(v));
        b.append(static_cast<char>(v >> 8));
    };
    QByteArray f("RIFF");
    Put32(f, 36 + data.size() + (tagged ? 32 : 0));
    f.append("WAVEfmt ");
    Put32(f, 16);
    le16(f, 1);
    le16(f, 1);
    Put32(f, 44100);
    Put32(f, 88200);
    le16(f, 2);
    le16(f, 16);
    f.append("data");
    Put32(f, data.size());
    f.append(data);
    if (tagged) {
        f.append("acid");
        Put32(f, 24);
        Put32(f, 0x02);
        le16(f, 60);
        le16(f, 0x8000);
        Put32(f, 0);
        Put32(f, 8);
        le16(f, 4);
        le16(f, 4);
        f.append("\x00\x00\xf0\x42", 4);  // 120.0 as a little-endian float
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(f) != f.size()) ++failures;
}

// As the user sees it: the window with its frame, from the screen (the whole
// screen without a window). `framed` false: the window alone, whatever covers it.
void Save(QWidget* window, const QString& name, bool framed = true) {
    QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    const QRect area = window ? window->frameGeometry() : screen->geometry();
    const QPixmap shot = !framed ? window->grab()
                                 : screen->grabWindow(0, area.x() - screen->geometry().x(),
                                                      area.y() - screen->geometry().y(), area.width(), area.height());
    const QString path = outDir + "/" + (prefix.isEmpty() ? name : prefix + "-" + name) + ".png";
    if (!shot.save(path)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(path));
        ++failures;
    } else {
        std::printf("saved %s (%dx%d, taken at %d,%d)\n", qPrintable(path), shot.width(), shot.height(), area.x(),
                    area.y());
    }
}

QWidget* TopLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible()) return w;
    return nullptr;
}

void Later(int ms, std::function<void()> f) { QTimer::singleShot(ms, qApp, std::move(f)); }

// Runs the steps one after the other, each with the next modal window that comes up.
void OnModals(std::vector<std::function<void(QWidget*)>> steps) {
    if (steps.empty()) return;
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [steps, poll] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || !modal->isActiveWindow()) {
            Later(50, *poll);
            return;
        }
        Later(300, [steps, modal] {  // painted and placed by then
            std::vector<std::function<void(QWidget*)>> rest(steps.begin() + 1, steps.end());
            steps.front()(modal);
            Later(300, [rest] { OnModals(rest); });
        });
        *poll = nullptr;
    };
    Later(50, *poll);
}

void Finish();

void ShowTooltipThenFinish(QWidget* main, int tries) {
    if (!main->isActiveWindow() && tries > 0) {
        Later(300, [main, tries] { ShowTooltipThenFinish(main, tries - 1); });
        return;
    }
    auto* list = main->findChild<QTreeView*>("lvwFiles");
    const QPoint at(60, list->visualRect(list->model()->index(0, 0)).center().y());
    QCursor::setPos(list->viewport()->mapToGlobal(at));
    Later(300, [main, list, at] {
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        Later(700, [main] {
            Save(main, "file-tooltip");
            Finish();
        });
    });
}

void Finish() {
    if (QWidget* main = TopLevel("frmMain1"))
        QTest::mouseClick(main->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
    else QCoreApplication::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    prefix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    QDir().mkpath(outDir);
    velorizer::SetUpApplication(app);
    frmMain1::SetEndProgram([] { QCoreApplication::exit(failures == 0 ? 0 : 1); });

    QTemporaryDir tmp;
    const QString loops = tmp.path() + "/Drum Loops";
    QDir().mkpath(loops + "/Breaks");
    for (const char* name :
         {"Kick 120.wav", "Snare Roll.wav", "Hat Groove 8th.wav", "Breaks/Amen 136.wav", "Breaks/Funky Drummer.wav"})
        WriteWave(loops + "/" + name, 44100);
    ::chmod(QFile::encodeName(loops + "/Kick 120.wav").constData(), 0444);
    // Tagged once already, and 232 characters from the root.
    QString deep = loops + "/Archive/Sessions 2019-2024/Studio B - Tracking Days/Live Room Overheads and Room Mics";
    QString name = "/Ride Groove (tagged for the old library, keep).wav";
    const QString fill = "/Alternate Takes and Edits";
    while (deep.size() + fill.size() + name.size() <= 232) deep += fill;
    deep += QString("/") + QString(232 - deep.size() - name.size() - 1, 'x');
    QDir().mkpath(deep);
    WriteWave(deep + name, 22050, true);

    velorizer::StartProgram();
    Later(500, [] { Save(TopLevel("frmSplash"), "splash"); });
    Later(3600, [loops] {
        QWidget* main = TopLevel("frmMain1");
        if (!main) {
            std::fprintf(stderr, "the main window did not open\n");
            QCoreApplication::exit(1);
            return;
        }
        auto* list = main->findChild<QTreeView*>("lvwFiles");
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(loops)});
        QWidget* vp = list->viewport();
        const QPoint pos(40, 40);
        QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &enter);
        QDropEvent drop(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &drop);
        delete mime;
        QWidget* loop = main->findChild<QWidget*>("optAcidProp_1");
        QTest::mouseClick(loop, Qt::LeftButton, {}, QPoint(8, loop->height() / 2));
        list->selectionModel()->select(list->model()->index(1, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QApplication::processEvents();
        Later(300, [main] {
            Save(main, "main-window");
            if (!prefix.isEmpty()) {
                Finish();
                return;
            }
            // The run stops at the read-only file's question, then at the tagged one's.
            OnModals({[](QWidget* dialog) {
                          Save(nullptr, "screen-confirm-and-progress");
                          Save(dialog, "confirm-dialog");
                          QTest::mouseClick(dialog->findChild<QPushButton*>("cmdConfirm_1"), Qt::LeftButton);
                      },
                      [](QWidget* dialog) {
                          Save(dialog, "confirm-long-path");
                          QTest::mouseClick(dialog->findChild<QPushButton*>("cmdConfirm_0"), Qt::LeftButton);
                      },
                      [main](QWidget* box) {
                          Save(box, "operation-completed");
                          QTest::keyClick(box, Qt::Key_Return);
                          // A tagged file's tooltip, as the pointer rests on its row, once
                          // the window is active again (a tooltip goes when that changes).
                          main->activateWindow();
                          Later(600, [main] { ShowTooltipThenFinish(main, 10); });
                      }});
            Later(400, [] {
                if (QWidget* w = TopLevel("frmWorking")) Save(w, "progress-window", false);
            });
            QTest::mouseClick(main->findChild<QPushButton*>("cmdVELORize"), Qt::LeftButton);
        });
    });
    return app.exec();
}
