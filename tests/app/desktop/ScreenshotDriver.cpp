// Opens the real program under a display server and saves what a new user sees:
// the splash window, the main window with files listed, the confirmation dialog
// over the progress window, and the closing message. Run by scripts/screenshots.sh.
#include "Program.h"
#include "frmMain1.h"
#include "frmSplash.h"

#include <QApplication>
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
#include <QTreeWidget>
#include <QUrl>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace {

QString outDir;
int failures = 0;

// A short 16-bit mono WAVE file.
void WriteWave(const QString& path, int frames) {
    QByteArray data(frames * 2, '\0');
    for (int i = 0; i < frames; ++i) data[2 * i + 1] = static_cast<char>((i % 64) - 32);
    auto le32 = [](QByteArray& b, quint32 v) { for (int i = 0; i < 4; ++i) b.append(static_cast<char>(v >> (8 * i))); };
    auto le16 = [](QByteArray& b, quint16 v) { b.append(static_cast<char>(v)); b.append(static_cast<char>(v >> 8)); };
    QByteArray f("RIFF");
    le32(f, 36 + data.size());
    f.append("WAVEfmt ");
    le32(f, 16); le16(f, 1); le16(f, 1); le32(f, 44100); le32(f, 88200); le16(f, 2); le16(f, 16);
    f.append("data");
    le32(f, data.size());
    f.append(data);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(f) != f.size()) ++failures;
}

void Save(QWidget* window, const QString& name) {
    QScreen* screen = QGuiApplication::primaryScreen();
    // The whole screen shows a window with whatever lies over it; grab() the window alone.
    const QPixmap shot = name.startsWith("screen-") ? screen->grabWindow(0) : window->grab();
    const QString path = outDir + "/" + name + ".png";
    if (!shot.save(path)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(path));
        ++failures;
    } else {
        std::printf("saved %s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
    }
}

QWidget* TopLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible()) return w;
    return nullptr;
}

void Later(int ms, std::function<void()> f) { QTimer::singleShot(ms, qApp, std::move(f)); }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(outDir);
    velorizer::SetUpApplication(app);
    frmMain1::SetEndProgram([] { QCoreApplication::exit(failures == 0 ? 0 : 1); });

    QTemporaryDir tmp;
    const QString loops = tmp.path() + "/Drum Loops";
    QDir().mkpath(loops + "/Breaks");
    for (const char* name : {"Kick 120.wav", "Snare Roll.wav", "Hat Groove 8th.wav", "Breaks/Amen 136.wav",
                             "Breaks/Funky Drummer.wav"})
        WriteWave(loops + "/" + name, 44100);
    ::chmod(QFile::encodeName(loops + "/Kick 120.wav").constData(), 0444);

    velorizer::StartProgram();
    Later(500, [] { Save(TopLevel("frmSplash"), "splash"); });
    Later(3600, [loops] {
        QWidget* main = TopLevel("frmMain1");
        if (!main) {
            std::fprintf(stderr, "the main window did not open\n");
            QCoreApplication::exit(1);
            return;
        }
        auto* list = main->findChild<QTreeWidget*>("lvwFiles");
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
        list->topLevelItem(1)->setSelected(true);
        QApplication::processEvents();
        Save(main, "main-window");
        Later(300, [main] {
            // The run stops at the read-only file's question.
            Later(800, [] {
                Save(nullptr, "screen-confirm-and-progress");
                if (QWidget* dialog = TopLevel("frmConfirmReadOnly")) {
                    Save(dialog, "confirm-dialog");
                    QTest::mouseClick(dialog->findChild<QPushButton*>("cmdConfirm_1"), Qt::LeftButton);
                }
                Later(800, [] {
                    if (QWidget* box = QApplication::activeModalWidget()) {
                        Save(box, "operation-completed");
                        QTest::keyClick(box, Qt::Key_Return);
                    }
                    Later(300, [] { QTest::mouseClick(TopLevel("frmMain1")->findChild<QPushButton*>("cmdClose"), Qt::LeftButton); });
                });
            });
            Later(400, [] { if (QWidget* w = TopLevel("frmWorking")) Save(w, "progress-window"); });
            QTest::mouseClick(main->findChild<QPushButton*>("cmdVELORize"), Qt::LeftButton);
        });
    });
    return app.exec();
}
