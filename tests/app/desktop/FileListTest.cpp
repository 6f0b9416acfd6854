// The file list as the user fills and empties it: drops of files and folders
// from a file manager, duplicates, names that are not WAVE files or not UTF-8,
// row clicks and "&Preview", and the pop-up menu's two deletes.
#include "DesktopTestSupport.h"
#include "FileListModel.h"
#include "Program.h"
#include "TestSupport.h"
#include "Vexlor.h"
#include "frmMain1.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace desktoptest;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {
void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    testsupport::WriteBytes(path, {});
}

// Keeps what the window would tell the user, and shows nothing.
struct TellingUi : velorizer::VelorizeUi {
    std::vector<std::string> messages;
    void MsgBox(const std::string& prompt, int, const std::string&) override { messages.push_back(prompt); }
    int32_t GetConfirmReadOnly(const std::string&, const std::string& message) override {
        messages.push_back(message);
        return velorizer::kAnswerCancel;
    }
};
}  // namespace

class FileListTest : public QObject {
    Q_OBJECT

    TempDir vexlorDir_;
    frmMain1* w_ = nullptr;
    QTreeView* list_ = nullptr;

    QWidget* c(const char* name) { return w_->findChild<QWidget*>(name); }
    bool Drop(const std::vector<std::string>& paths) { return DropPaths(list_->viewport(), paths); }
    // On the row's text: the column is twice as wide as the list.
    QModelIndex Row(int row) { return list_->model()->index(row, 0); }
    QPoint RowPos(int row) { return QPoint(40, list_->visualRect(Row(row)).center().y()); }
    void ClickRow(int row, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, mods, RowPos(row));
    }
    // Right-clicks the list (or runs `open`); `onMenu` sees the pop-up menu
    // when one opens. Returns whether it opened.
    bool RightClick(QPoint pos, std::function<void(QMenu*)> onMenu, std::function<void()> open = {}) {
        bool opened = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                poll.stop();
                opened = true;
                onMenu(menu);
                if (menu->isVisible()) menu->close();  // a failed check must not leave it open
            }
        });
        poll.start();
        if (open) {
            open();
        } else {
            QTest::mousePress(list_->viewport(), Qt::RightButton, {}, pos);
            QTest::mouseRelease(list_->viewport(), Qt::RightButton, {}, pos);
        }
        poll.stop();
        return opened;
    }

private slots:
    void initTestCase() {
        UseVexlorFolder(vexlorDir_.path().string());
        velorizer::SetUpApplication(*qApp);
    }
    void init() {
        w_ = NewMainWindow();
        list_ = w_->findChild<QTreeView*>("lvwFiles");
    }
    void cleanup() { delete w_; }

    // Keys as raw bytes, duplicates refused, rows removed in any order, the placeholder.
    void theListModelOwnsKeysOrderAndPlaceholder() {
        const std::vector<std::string> keys = {"/tmp/\x01\x02\t\n\x7f dir/\xff\xfe loop.wav",
                                               "/tmp/caf\xe9/\x80.wav",
                                               std::string("/tmp/a\0b.wav", 12),
                                               "no folder.wav",
                                               "/",
                                               ""};
        FileListModel model{QIcon()};
        model.Reset();
        QVERIFY(!model.HasFiles());
        for (const auto& k : keys) QVERIFY(model.AddFile(k));
        for (const auto& k : keys) QVERIFY(!model.AddFile(k));
        QVERIFY(model.RemovePlaceholder());
        QVERIFY(!model.RemovePlaceholder());
        QVERIFY(model.HasFiles());
        QCOMPARE(model.Keys(), keys);
        model.RemoveRows({2, 0, 2});  // the others move down
        QCOMPARE(model.Keys(), (std::vector<std::string>{keys[1], keys[3], keys[4], keys[5]}));
        QVERIFY(!model.index(0, 0).data().toString().isEmpty());
        QVERIFY(model.AddFile(keys[0]));  // a removed path can be listed again
        QCOMPARE(model.RowCount(), 5);
        QCOMPARE(model.Key(4), keys[0]);
        model.Reset();
        QCOMPARE(model.Keys(), std::vector<std::string>{FileListModel::kPlaceholderKey});
    }

    // A sample library's worth of rows, a folder's files one after another as a
    // walk adds them, and a scattered selection removed.
    void theListModelHoldsManyRows() {
        auto key = [](int i) {
            return "/lib/pack " + std::to_string(i / 500) + "/hit " + std::to_string(i % 500) + ".wav";
        };
        FileListModel model{QIcon()};
        model.Reset();
        const int n = 150000;
        int added = 0;
        for (int i = 0; i < n; ++i) added += model.AddFile(key(i));
        QCOMPARE(added, n);
        QVERIFY(model.RemovePlaceholder());
        // Again, from the last folder to the first: every one a duplicate.
        for (int i = n - 1; i >= 0; --i) added -= model.AddFile(key(i));
        QCOMPARE(added, n);

        std::vector<int> gone;
        for (int i = 0; i < n; i += 3) gone.push_back(i);
        for (int i = 40000; i < 41000; ++i) gone.push_back(i);
        gone.push_back(n - 1);
        std::reverse(gone.begin(), gone.end());
        model.RemoveRows(gone);
        std::vector<std::string> kept;
        for (int i = 0; i < n; ++i)
            if (i % 3 != 0 && (i < 40000 || i >= 41000) && i != n - 1) kept.push_back(key(i));
        QCOMPARE(model.Keys(), kept);
        QCOMPARE(model.index(1, 0).data().toString(), QString::fromStdString(kept[1]));
        // The index knows the rows by their new numbers.
        QVERIFY(!model.AddFile(kept.back()) && !model.AddFile(kept.front()));
        QVERIFY(model.AddFile(key(40500)) && model.AddFile(key(0)));
        QCOMPARE(model.Key(model.RowCount() - 1), key(0));

        model.Reset();
        QCOMPARE(model.Keys(), std::vector<std::string>{FileListModel::kPlaceholderKey});
        QCOMPARE(model.index(0, 0).data().toString(), QString("Drag and drop files/folders here."));

        // Behind the placeholder, with Qt's model checker watching that the
        // rows beside each removal keep their keys: a few runs of rows (each
        // told as a removal), many runs (told as a reset), the placeholder.
        added = 0;
        for (int i = 0; i < 2000; ++i) added += model.AddFile(key(i));
        QCOMPARE(added, 2000);  // listed before the reset: taken again
        QAbstractItemModelTester checker(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::vector<std::string> expected = {FileListModel::kPlaceholderKey};
        for (int i = 0; i < 2000; ++i)
            if (i % 40 >= 2) expected.push_back(key(i));
        gone.clear();
        for (int row = 1; row <= 2000; row += 40) gone.insert(gone.end(), {row, row + 1});
        model.RemoveRows(gone);
        QCOMPARE(model.Keys(), expected);
        gone.clear();
        for (int row = 0; row < model.RowCount(); row += 2) gone.push_back(row);
        model.RemoveRows(gone);
        kept.clear();
        for (size_t i = 1; i < expected.size(); i += 2) kept.push_back(expected[i]);
        QCOMPARE(model.Keys(), kept);
    }

    void droppedWaveFilesReplaceThePlaceholder() {
        TempDir dir;
        const std::vector<std::string> files = {dir / "kick.wav", dir / "Snare.WAV", dir / "hat.Wav"};
        for (const auto& f : files) Touch(f);
        TraceWatch trace;
        QVERIFY(Drop(files));
        const auto calls = trace.Calls();
        QCOMPARE(w_->Keys(), files);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(Row(i).data().toString(), QString::fromStdString(files[static_cast<size_t>(i)]));
            QVERIFY(!Row(i).data(Qt::DecorationRole).value<QIcon>().isNull());
        }
        QVERIFY(w_->ListOK());
        QVERIFY(c("cmdVELORize")->isEnabled());
        QVERIFY(!c("cmdPreview")->isEnabled());
        QCOMPARE(calls.front(), std::string("->main : Sub lvwFiles_OLEDragDrop"));
        QCOMPARE(calls.back(), std::string("<-main : Sub lvwFiles_OLEDragDrop"));
        QVERIFY(trace.Saw("->main : Sub RefreshForm"));

        // The same file again, and a drop that adds nothing: no change, no message.
        QVERIFY(Drop({files[1], dir / "missing.wav"}));
        QCOMPARE(w_->Keys(), files);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(c("cmdVELORize")->isEnabled());
    }

    void onlyNamesEndingInDotWavAreTaken() {
        TempDir dir;
        for (const char* n : {"take.wave", "notes.txt", "loop.wav.bak", "wav", "kick.wav"}) Touch(dir / n);
        fs::create_symlink(dir / "kick.wav", dir.path() / "kick link");
        QVERIFY(Drop({dir / "take.wave", dir / "notes.txt", dir / "loop.wav.bak", dir / "wav", dir / "kick link"}));
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
        QVERIFY(!c("cmdVELORize")->isEnabled());
        // A link whose own name ends in .wav is a WAVE file to the user.
        fs::create_symlink(dir / "kick.wav", dir.path() / "alias.wav");
        QVERIFY(Drop({dir / "alias.wav"}));
        QCOMPARE(w_->Keys(), std::vector<std::string>{dir / "alias.wav"});
    }

    void aDropWithoutFilesIsRefused() {
        QMimeData text;
        text.setText("/tmp/a.wav");
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list_->viewport(), &enter);
        QVERIFY(!enter.isAccepted());
        // Addresses that are no local file, and a file gone since the drag began, add nothing.
        QVERIFY(DropUrls(list_->viewport(), {QUrl("https://example.com/loops/kick.wav"),
                                             QUrl::fromLocalFile("/no/such/folder/gone.wav")}));
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
        QVERIFY(!c("cmdVELORize")->isEnabled());
    }

    void foldersAreWalkedInOrderAndMixedWithFiles() {
        TempDir dir;
        const std::string lib = dir / "lib";
        for (const char* n : {"b.wav", "A.WAV", "readme.txt", "sub1/x.wav", "sub1/deep/y.wav", "sub2/z.wav"})
            Touch(lib + "/" + n);
        Touch(dir / "before.wav");
        Touch(dir / "after.wav");
        QVERIFY(Drop({dir / "before.wav", lib, dir / "after.wav"}));
        QCOMPARE(w_->Keys(),
                 (std::vector<std::string>{dir / "before.wav", lib + "/A.WAV", lib + "/b.wav", lib + "/sub1/x.wav",
                                           lib + "/sub1/deep/y.wav", lib + "/sub2/z.wav", dir / "after.wav"}));
        // Walking it again adds nothing.
        QVERIFY(Drop({lib}));
        QCOMPARE(w_->Keys().size(), size_t(7));
        // An empty folder on an empty list leaves the placeholder.
        w_->ListviewReset();
        fs::create_directories(dir.path() / "empty");
        QVERIFY(Drop({dir / "empty"}));
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
    }

    // The walk is traced as the walker's own procedures: one "Sub EnumFiles"
    // per folder level, a folder's files inside its frame. A folder that can't
    // be listed goes to the error trap in its frame, and the walk goes on.
    void aFolderWalkIsTracedLevelByLevel() {
        TempDir dir;
        const std::string lib = dir / "lib";
        for (const char* n : {"a.wav", "sub1/x.wav", "sub1/deep/y.wav", "sub2/z.wav"}) Touch(lib + "/" + n);
        TraceWatch trace;
        QVERIFY(Drop({lib}));
        std::vector<std::string> walk;
        for (const auto& c : trace.Tree())
            if (c.find("EnumFolders : ") != std::string::npos || c.find("ShowFiles_File") != std::string::npos)
                walk.push_back(c);
        const auto in = [](size_t depth, const char* what) { return "->" + std::string(depth, '\t') + what; };
        const auto out = [](size_t depth, const char* what) { return "<-" + std::string(depth, '\t') + what; };
        const char *go = "EnumFolders : Sub Go", *folder = "EnumFolders : Sub EnumFiles",
                   *file = "main : Sub ShowFiles_File";
        QCOMPARE(walk, (std::vector<std::string>{in(1, go),                                 //
                                                 in(2, folder), in(3, file), out(3, file),  // a.wav
                                                 in(3, folder), in(4, file), out(4, file),  // sub1/x.wav
                                                 in(4, folder), in(5, file), out(5, file),  // sub1/deep/y.wav
                                                 out(4, folder), out(3, folder),            //
                                                 in(3, folder), in(4, file), out(4, file),  // sub2/z.wav
                                                 out(3, folder), out(2, folder), out(1, go)}));

        // A path longer than the system takes: its folder fails to open.
        const std::string far = dir / "far";
        Touch(far + "/zz/last.wav");
        int fd = ::open(far.c_str(), O_RDONLY | O_DIRECTORY);
        const std::string name(250, 'n');
        for (int i = 0; i < 18 && fd >= 0; ++i) {
            ::mkdirat(fd, name.c_str(), 0755);
            const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(Drop({far}));
        const bool rm = QProcess::execute("rm", {"-rf", QString::fromStdString(far)}) == 0;  // beyond PATH_MAX
        QCOMPARE(modVexlor::ErrorRecord().ModuleName[0], std::string("EnumFolders"));
        QCOMPARE(modVexlor::ErrorRecord().ProcedureName[0], std::string("Sub EnumFiles"));
        QCOMPARE(modVexlor::CallDepth(), int16_t(0));
        QCOMPARE(w_->Keys().back(), far + "/zz/last.wav");
        QVERIFY(rm);
    }

    // Also: rows keep their height, the placeholder goes with the first file,
    // and Velorize can't start on the part listed so far.
    void aLongWalkShowsTheHourglassAndLetsTheWindowPaint() {
        TempDir dir;
        for (int i = 0; i < 250; ++i) Touch(dir / ("many/" + std::to_string(1000 + i) + ".wav"));
        Touch(dir / "first.wav");
        QVERIFY(Drop({dir / "first.wav"}));  // Velorize is enabled before the walk
        QList<Qt::CursorShape> seen;
        bool startable = false;  // on a partial list: Velorize enabled, or disabled without saying why
        TellingUi told;
        w_->SetVelorizeUi(&told);
        auto* velorize = qobject_cast<QPushButton*>(c("cmdVELORize"));
        QTimer sampler;
        sampler.setInterval(0);
        bool sampling = false;  // the clicks may let the timer in again
        connect(&sampler, &QTimer::timeout, [&] {
            if (std::exchange(sampling, true)) return;
            const auto done = qScopeGuard([&] { sampling = false; });
            seen << w_->cursor().shape();
            const size_t rows = w_->Keys().size();
            startable |= velorize->isEnabled() || velorize->toolTip().isEmpty() || rows <= 1 || rows >= 251;
            QTest::mouseClick(velorize, Qt::LeftButton);
            QTest::keyClick(w_, Qt::Key_V, Qt::AltModifier);
            QTest::qWait(150);  // longer than a button's animated click
        });
        sampler.start();
        const int before = w_->FoundFiles();
        QVERIFY(Drop({dir / "many"}));
        sampler.stop();
        w_->SetVelorizeUi(nullptr);
        QCOMPARE(w_->FoundFiles() - before, 250);
        QCOMPARE(w_->Keys().size(), size_t(251));
        // Events ran during the walk (every 100 files), and the pointer was the hourglass then.
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first(), Qt::WaitCursor);
        QCOMPARE(w_->cursor().shape(), Qt::ArrowCursor);
        // Velorize could not start on the part listed so far.
        QVERIFY(!startable && told.messages.empty());
        QVERIFY(velorize->isEnabled() && velorize->toolTip().isEmpty());

        // From an empty list: the placeholder goes with the first file, and rows are a file's height all along.
        w_->ListviewReset();
        QList<std::string> firstRows;
        QList<int> rowHeights;
        sampler.disconnect();
        connect(&sampler, &QTimer::timeout, [&] {
            firstRows << w_->Keys().front();
            rowHeights << list_->sizeHintForRow(0);
        });
        sampler.start();
        QVERIFY(Drop({dir / "many"}));
        sampler.stop();
        QVERIFY(!firstRows.isEmpty() && !firstRows.contains(frmMain1::kDummyKey));
        const int rowHeight = list_->visualRect(Row(0)).height();
        QVERIFY(rowHeight >= list_->iconSize().height());
        for (int h : rowHeights) QCOMPARE(h, rowHeight);
        // The view caught up with every row once the walk was over.
        list_->scrollTo(Row(249));
        QCOMPARE(list_->indexAt(list_->visualRect(Row(249)).center()), Row(249));
    }

    void aNameThatIsNotUtf8ReachesTheListByteForByte() {
        TempDir dir;
        const std::string latin1 = dir / "caf\xe9 loop.wav";
        const std::string inFolder = dir / "sub/\xff\xfe.wav";
        // A right-to-left override would show this as "evil_vaw.png".
        const std::string bidi = dir / "evil_\u202egnp.wav";
        Touch(latin1);
        Touch(inFolder);
        Touch(bidi);
        QVERIFY(Drop({latin1, dir / "sub", bidi}));
        QCOMPARE(w_->Keys(), (std::vector<std::string>{latin1, inFolder, bidi}));
        QVERIFY(!Row(0).data().toString().isEmpty());
        QCOMPARE(Row(2).data().toString(), QString::fromStdString(dir / "evil_\\u202egnp.wav"));
    }

    void rowClicksDecideOnPreview() {
        TempDir dir;
        std::vector<std::string> files = {dir / "1.wav", dir / "2.wav", dir / "3.wav"};
        for (const auto& f : files) Touch(f);
        Drop(files);
        TraceWatch trace;
        ClickRow(0);
        QVERIFY(c("cmdPreview")->isEnabled());
        QVERIFY(trace.Saw("<-main : Sub lvwFiles_ItemClick"));
        ClickRow(2, Qt::ControlModifier);
        QVERIFY(!c("cmdPreview")->isEnabled());
        ClickRow(1);
        QVERIFY(c("cmdPreview")->isEnabled());
        // The placeholder can be selected, but it is no file to play.
        w_->ListviewReset();
        QVERIFY(!c("cmdPreview")->isEnabled());
        ClickRow(0);
        QVERIFY(list_->selectionModel()->isRowSelected(0));
        QVERIFY(!c("cmdPreview")->isEnabled());
        TellingUi told;
        w_->SetVelorizeUi(&told);
        QTest::keyClick(w_, Qt::Key_P, Qt::AltModifier);
        w_->SetVelorizeUi(nullptr);
        QVERIFY(told.messages.empty());
    }

    // Preview follows the selection however it changes; Delete, the menu key and Shift+F10.
    void keyboardAndSelectionChanges() {
        auto menuKey = [&](Qt::Key key, Qt::KeyboardModifiers mods, std::function<void(QMenu*)> onMenu) {
            return RightClick({}, onMenu, [&] { QTest::keyClick(list_, key, mods); });
        };
        list_->setFocus(Qt::TabFocusReason);
        QVERIFY(!menuKey(Qt::Key_Menu, {}, [](QMenu*) {}));  // none on an empty list
        TempDir dir;
        const std::vector<std::string> files = {dir / "1.wav", dir / "2.wav", dir / "3.wav", dir / "4.wav"};
        for (const auto& f : files) Touch(f);
        Drop(files);
        auto* preview = c("cmdPreview");
        QTest::keyClick(list_, Qt::Key_Down);  // the first row, not the second
        QCOMPARE(list_->selectionModel()->selectedRows(), QModelIndexList{Row(0)});
        QVERIFY(preview->isEnabled());
        QTest::keyClick(list_, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(!preview->isEnabled());
        ClickRow(1);
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, QPoint(40, list_->viewport()->height() - 5));
        QVERIFY(!preview->isEnabled());  // empty space: nothing selected
        ClickRow(1);
        TraceWatch trace;
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(w_->Keys(), (std::vector<std::string>{files[0], files[2], files[3]}));
        QVERIFY(!preview->isEnabled());  // rows left, none selected
        QVERIFY(trace.Saw("->main : Sub mnuFilesDelete_Click"));
        ClickRow(1);
        ClickRow(2, Qt::ControlModifier);
        QVERIFY(menuKey(Qt::Key_Menu, {}, [](QMenu* m) {
            QVERIFY(m->actions()[0]->isEnabled());
            QTest::keyClick(m, Qt::Key_Escape);
        }));
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(w_->Keys(), std::vector<std::string>{files[0]});
        ClickRow(0);  // the last row: the placeholder comes back
        QVERIFY(menuKey(Qt::Key_F10, Qt::ShiftModifier, [](QMenu* m) { QTest::keyClick(m, Qt::Key_D); }));
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
    }

    void popUpMenuDeletes() {
        // Nothing listed: a right-click shows no menu.
        TraceWatch trace;
        QVERIFY(!RightClick(QPoint(50, 50), [](QMenu* m) { m->close(); }));
        QVERIFY(trace.Saw("->main : Function ListOK"));
        QVERIFY(trace.Saw("<-main : Sub lvwFiles_MouseDown"));

        TempDir dir;
        std::vector<std::string> files = {dir / "1.wav", dir / "2.wav", dir / "3.wav", dir / "4.wav"};
        for (const auto& f : files) Touch(f);
        Drop(files);
        // Files listed, none selected: "&Delete" disabled, "D&elete All" enabled.
        QVERIFY(RightClick(QPoint(50, 200), [](QMenu* m) {
            QCOMPARE(m->actions().size(), 2);
            QCOMPARE(m->actions()[0]->text(), QString("&Delete"));
            QCOMPARE(m->actions()[1]->text(), QString("D&elete All"));
            QVERIFY(!m->actions()[0]->isEnabled());
            QVERIFY(m->actions()[1]->isEnabled());
            QTest::keyClick(m, Qt::Key_Escape);
        }));
        QCOMPARE(w_->Keys().size(), size_t(4));

        // Two rows selected: "&Delete" removes exactly those.
        ClickRow(1);
        ClickRow(3, Qt::ControlModifier);
        QVERIFY(RightClick(RowPos(0), [](QMenu* m) {
            QVERIFY(m->actions()[0]->isEnabled());
            QTest::keyClick(m, Qt::Key_D);
        }));
        QCOMPARE(w_->Keys(), (std::vector<std::string>{files[0], files[2]}));
        QVERIFY(c("cmdVELORize")->isEnabled());

        // All rows selected and deleted: the placeholder comes back.
        ClickRow(0);
        ClickRow(1, Qt::ControlModifier);
        QVERIFY(c("cmdPreview")->isEnabled() == false);
        QVERIFY(RightClick(RowPos(0), [](QMenu* m) { QTest::keyClick(m, Qt::Key_D); }));
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
        QVERIFY(!c("cmdVELORize")->isEnabled());
        QVERIFY(!c("cmdPreview")->isEnabled());

        // "D&elete All".
        Drop(files);
        ClickRow(2);
        QVERIFY(c("cmdPreview")->isEnabled());
        TraceWatch all;
        QVERIFY(RightClick(RowPos(0), [](QMenu* m) { QTest::keyClick(m, Qt::Key_E); }));
        QCOMPARE(w_->Keys(), std::vector<std::string>{"dummy"});
        QVERIFY(!c("cmdVELORize")->isEnabled());
        QVERIFY(!c("cmdPreview")->isEnabled());
        QVERIFY(all.Saw("->main : Sub mnuFilesDeleteAll_Click"));
        QVERIFY(all.Saw("->main : Sub ListviewReset"));
        // Files dropped again after a reset are taken again.
        Drop({files[0]});
        QCOMPARE(w_->Keys(), std::vector<std::string>{files[0]});
    }
};

QTEST_MAIN(FileListTest)
#include "FileListTest.moc"
