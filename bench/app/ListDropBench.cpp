// Drops a folder tree of empty *.wav files on the real file list, offscreen,
// and reports how long it takes until the last row is in and the peak memory;
// then times the folder walk alone against a plain std::filesystem walk of the
// same tree.
//
//   bench_list_drop [files=100000] [folders=100] [tree folder]
// A tree folder given is made once and kept, so that later runs (and a
// profiler) see only the drop.
#include "EnumFolders.h"
#include "Program.h"
#include "VexlorTesting.h"
#include "frmMain1.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double PeakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

// folders × (files / folders) names like a sample library: <root>/Pack 042/Loop 00042 Kick.wav
void MakeTree(const fs::path& root, int files, int folders) {
    for (int f = 0; f < folders; ++f) {
        char dir[64];
        std::snprintf(dir, sizeof dir, "Pack %03d", f);
        fs::create_directories(root / dir);
        for (int i = f; i < files; i += folders) {
            char name[64];
            std::snprintf(name, sizeof name, "Loop %05d Kick.wav", i);
            const int fd = ::open((root / dir / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd >= 0) ::close(fd);
        }
    }
}

size_t WalkWithFilesystem(const fs::path& root) {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_directory()) continue;
        const std::string name = e.path().filename().string();
        if (name.size() >= 4) {
            std::string tail = name.substr(name.size() - 4);
            std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::toupper(c); });
            if (tail == ".WAV") ++n;
        }
    }
    return n;
}

size_t WalkWithEnumFolders(const fs::path& root) {
    size_t n = 0;
    velorizer::EnumFolders walker;
    walker.File = [&](const std::string&) { ++n; };
    walker.Go(root.string(), "*.wav");
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int folders = argc > 2 ? std::atoi(argv[2]) : 100;
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    char pattern[] = "/tmp/velorizer-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const bool keep = argc > 3;
    const fs::path root = keep ? fs::path(argv[3]) : fs::path(pattern) / "Library";
    auto t = Clock::now();
    if (!fs::exists(root)) {
        MakeTree(root, files, folders);
        std::printf("tree: %d files in %d folders, made in %.2f s\n", files, folders, Seconds(t));
    }

    QApplication app(argc, argv);
    velorizer::SetUpApplication(app);
    // No configuration file: tracing off, as a user runs it.
    modVexlor::testhooks::SetApplicationFolder(pattern);
    const double baseMiB = PeakMiB();

    auto* main = new frmMain1;
    main->show();
    QApplication::processEvents();
    QWidget* viewport = main->findChild<QTreeView*>("lvwFiles")->viewport();

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(root.string()))});
    t = Clock::now();
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    const double dropSeconds = Seconds(t);
    const size_t rows = main->Keys().size();
    QApplication::processEvents();  // the list lays out and paints what is in view
    const double settledSeconds = Seconds(t);
    const double peak = PeakMiB();
    std::printf(
        "drop: %zu rows in %.3f s (window settled after %.3f s); peak memory %.1f MiB (%.1f MiB before the drop)\n",
        rows, dropSeconds, settledSeconds, peak, baseMiB);

    // Every row selected and deleted, as Ctrl+A and "&Delete" do.
    auto* list = main->findChild<QTreeView*>("lvwFiles");
    list->selectAll();
    t = Clock::now();
    main->findChild<QAction*>("mnuFilesDelete")->trigger();
    QApplication::processEvents();
    std::printf("delete: %d rows selected and deleted in %.3f s\n", files, Seconds(t));

    // The walk alone, best of three each, the tree warm in the cache.
    double best[2] = {1e9, 1e9};
    size_t counts[2] = {0, 0};
    for (int round = 0; round < 3; ++round) {
        t = Clock::now();
        counts[0] = WalkWithEnumFolders(root);
        best[0] = std::min(best[0], Seconds(t));
        t = Clock::now();
        counts[1] = WalkWithFilesystem(root);
        best[1] = std::min(best[1], Seconds(t));
    }
    std::printf("walk: EnumFolders %zu files in %.3f s; std::filesystem %zu files in %.3f s; ratio %.2f\n", counts[0],
                best[0], counts[1], best[1], best[0] / best[1]);

    const bool ok = rows == static_cast<size_t>(files) && dropSeconds < 2.0 && peak < 150 && best[0] <= 1.5 * best[1];
    std::printf("goals (under 2 s, under 150 MiB, walk within 1.5x): %s\n", ok ? "met" : "NOT met");
    delete main;
    fs::remove_all(pattern);
    return ok ? 0 : 2;
}
