// The desktop program's two heavy paths, offscreen, on the real main window:
//   bench_gui tag FOLDER    drops FOLDER, chooses "&Loop", 4 beats, "C", and
//                           presses "&Velorize" with every answer pre-set to
//                           Yes to All: the batch run with its progress window
//                           and its event processing after every file
//   bench_gui fill FOLDER   drops FOLDER on the list until the last row is in
// and prints the rows, the seconds and the peak memory. With --cold the page
// cache is dropped just before the timed part (root only): for tag, after the
// list is filled, so that the run meets the files as a first run after a copy.

#include "../DropCaches.h"
#include "Program.h"
#include "VelorizeUi.h"
#include "VexlorTesting.h"
#include "frmMain1.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

class PresetAnswers : public velorizer::VelorizeUi {
public:
    void MsgBox(const std::string& prompt, int, const std::string&) override {
        if (prompt != "Operation completed.") {
            std::fprintf(stderr, "%s\n", prompt.c_str());
            ++problems;
        }
    }
    int32_t GetConfirmReadOnly(const std::string&, const std::string&) override { return velorizer::kAnswerYesToAll; }
    int problems = 0;
};

long PeakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void Drop(frmMain1& main, const char* folder) {
    QWidget* viewport = main.findChild<QTreeView*>("lvwFiles")->viewport();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromLocal8Bit(folder))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
}

}  // namespace

int main(int argc, char** argv) {
    const bool cold = argc == 4 && std::strcmp(argv[3], "--cold") == 0;
    if ((argc != 3 && !cold) || (std::strcmp(argv[1], "tag") != 0 && std::strcmp(argv[1], "fill") != 0)) {
        std::fprintf(stderr, "usage: bench_gui tag|fill FOLDER [--cold]\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    velorizer::SetUpApplication(app);
    // No configuration file: tracing off, as a user runs it.
    modVexlor::testhooks::SetApplicationFolder("/nonexistent-velorizer-bench");
    auto* main = new frmMain1;
    main->show();
    QApplication::processEvents();
    const bool fill = std::strcmp(argv[1], "fill") == 0;
    const auto drop = [] {
        if (bench::DropCaches()) return true;
        std::perror("bench_gui: /proc/sys/vm/drop_caches");
        return false;
    };

    if (fill && cold && !drop()) return 3;
    auto start = Clock::now();
    Drop(*main, argv[2]);
    // Counted from the view's model: a copy of every key would add to the
    // peak memory being measured.
    const size_t rows = static_cast<size_t>(main->findChild<QTreeView*>("lvwFiles")->model()->rowCount());
    if (fill) {
        QApplication::processEvents();
    } else {
        if (cold && !drop()) return 3;
        PresetAnswers answers;
        main->SetVelorizeUi(&answers);
        main->findChild<QRadioButton*>("optAcidProp_1")->click();
        main->findChild<QComboBox*>("cboRoot_0")->setCurrentIndex(1);
        start = Clock::now();
        main->findChild<QPushButton*>("cmdVELORize")->click();
        main->SetVelorizeUi(nullptr);
        if (answers.problems) return 1;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("rows %zu seconds %.6f maxrss_kb %ld\n", rows, seconds, PeakKiB());
    delete main;
    return 0;
}
