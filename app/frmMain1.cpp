#include "frmMain1.h"

#include "AppInfo.h"
#include "BatchRun.h"
#include "EnumFolders.h"
#include "FileListModel.h"
#include "FileListView.h"
#include "Inspect.h"
#include "LastRun.h"
#include "PanelChoice.h"
#include "PanelText.h"
#include "PerFile.h"
#include "Program.h"
#include "QtMsgBox.h"
#include "RunJournal.h"
#include "RunTimeError.h"
#include "Vexlor.h"
#include "WindowPlacement.h"
#include "Wildcard.h"
#include "frmWorking.h"
#include "ui_frmMain1.h"

#include "WavePlayer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QScopeGuard>
#include <QShortcut>
#include <QToolTip>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace {

const char* const kModule = "main";

std::function<void()>& EndProgram() {
    static std::function<void()> end = [] {
        // An error report still on its way to the mail server gets a few seconds.
        modVexlor::FinishMail(std::chrono::seconds(5));
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return end;
}

void DoEvents() { QCoreApplication::processEvents(); }

// The exact bytes of a dropped file URL's path: QUrl::toLocalFile() would turn
// bytes that are not UTF-8 into replacement characters.
std::string LocalPathBytes(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// The keys that ask for a pop-up menu without a mouse.
bool IsMenuKey(int key, Qt::KeyboardModifiers shift) {
    return (key == Qt::Key_Menu && shift == Qt::NoModifier) || (key == Qt::Key_F10 && shift == Qt::ShiftModifier);
}
bool IsDeleteKey(int key, Qt::KeyboardModifiers shift) { return key == Qt::Key_Delete && shift == Qt::NoModifier; }

const char* const kWaitForWalk = "Velorize can be pressed once the dropped folders have been read.";

// A file's acid chunks in words, read now: "type loop, root note C, 8 beats,
// tempo 120 bpm", one line a chunk, or why there is none to tell.
std::string TagsText(const std::string& path) {
    std::vector<velorizer::clsAcidSettings::Body> bodies;
    std::string error;
    if (!velorizer::ReadAcidChunks(path, bodies, error)) return "can't be read: " + error;
    if (bodies.empty()) return "no acid chunk";
    std::string text;
    for (size_t i = 0; i < bodies.size(); ++i) {
        const auto s = velorizer::clsAcidSettings::FromBody(bodies[i]);
        const int32_t mode = s.Mode();
        const bool disk = mode & velorizer::kFlagDiskBased, oneShot = mode & velorizer::kFlagOneShot;
        if (i > 0) text += "\n";
        if (bodies.size() > 1) text += "chunk " + std::to_string(i + 1) + ": ";
        text += std::string("type ") +
                (disk ? (oneShot ? "disk-based, no tempo" : "disk-based") : (oneShot ? "one-shot" : "loop"));
        text += (mode & velorizer::kFlagRootNote) ? std::string(", root note ") + velorizer::NoteName(s.MidiBase())
                                                  : std::string(", no root note");
        const int32_t beats = s.LoopBeats();
        text += ", " + std::to_string(beats) + (beats == 1 ? " beat" : " beats");
        text += ", tempo " + velorizer::ShortestText(s.Tempo()) + " bpm";
    }
    return text;
}

}  // namespace

void frmMain1::SetEndProgram(std::function<void()> end) { EndProgram() = std::move(end); }

frmMain1::frmMain1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui_(new Ui::frmMain1),
      working_(new frmWorking) {
    velorizer::InitResources();
    ui_->setupUi(this);
    setWindowIcon(velorizer::ProgramImage("velorizer"));
    ImageList1.insert("folder", velorizer::ProgramImage("folder"));
    ImageList1.insert("wave", velorizer::ProgramImage("wave"));
    files_ = new FileListModel(ImageList1["wave"], ui_->lvwFiles);
    ui_->lvwFiles->setModel(files_);

    ui_->updBeats->setMinimum(1);
    ui_->updBeats->setMaximum(10000);
    ui_->updBeats->setValue(4);
    ui_->updBeats->setBuddy(ui_->txtBeats);
    ui_->updTempo->setMinimum(60000);
    ui_->updTempo->setMaximum(240000);
    ui_->updTempo->setValue(120000);

    // The frame's caption sits on its border, so that the controls placed inside
    // it keep clear of the line.
    ui_->Frame1->setStyleSheet(
        "QGroupBox#Frame1 { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox#Frame1::title { subcontrol-origin: margin; left: 6px; padding: 0px 2px; }");

    mnuFiles_ = new QMenu("NoCaption", this);
    mnuFiles_->setObjectName("mnuFiles");
    mnuFiles_->addAction(ui_->mnuFilesDelete);
    mnuFiles_->addAction(ui_->mnuFilesDeleteAll);

    designHeight_ = height();
    designListHeight_ = ui_->lvwFiles->height();

    ui_->lvwFiles->viewport()->installEventFilter(this);
    ui_->lvwFiles->installEventFilter(this);
    ui_->txtBeats->installEventFilter(this);
    ui_->txtTempo->installEventFilter(this);

    connect(ui_->cmdVELORize, &QPushButton::clicked, this, &frmMain1::cmdVELORize_Click);
    connect(ui_->cmdHelp, &QPushButton::clicked, this, &frmMain1::cmdHelp_Click);
    connect(ui_->cmdClose, &QPushButton::clicked, this, &frmMain1::cmdClose_Click);
    connect(ui_->cmdPreview, &QPushButton::clicked, this, &frmMain1::cmdPreview_Click);
    QRadioButton* options[3] = {ui_->optAcidProp_0, ui_->optAcidProp_1, ui_->optAcidProp_2};
    for (int i = 0; i < 3; ++i) connect(options[i], &QRadioButton::clicked, this, [this, i] { optAcidProp_Click(i); });
    connect(ui_->chkTempo, &QCheckBox::clicked, this, &frmMain1::chkTempo_Click);
    connect(ui_->updTempo, &UpDown::valueChanged, this, &frmMain1::updTempo_Change);
    for (UpDown* spin : {ui_->updBeats, ui_->updTempo})
        connect(spin, &UpDown::arrowPressed, this, [this] { LeaveTextBox(QApplication::focusWidget()); });
    connect(ui_->lvwFiles, &QAbstractItemView::clicked, this, &frmMain1::lvwFiles_ItemClick);
    // Keys, Ctrl+A, a click on empty space and removals change the selection too.
    QItemSelectionModel* selection = ui_->lvwFiles->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this, &frmMain1::PreviewFollowsSelection);
    // A reset of the list's model drops the selection without saying so.
    connect(selection->model(), &QAbstractItemModel::modelReset, this, &frmMain1::PreviewFollowsSelection);
    connect(ui_->mnuFilesDelete, &QAction::triggered, this, &frmMain1::mnuFilesDelete_Click);
    connect(ui_->mnuFilesDeleteAll, &QAction::triggered, this, &frmMain1::mnuFilesDeleteAll_Click);
    // Beyond the window as drawn: Ctrl+Z takes back the last run. In a number
    // box it undoes the typing instead, as a text box's own key.
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    undo->setObjectName("undoLastRun");
    connect(undo, &QShortcut::activated, this, &frmMain1::UndoLastRun);

    Form_Load();
}

frmMain1::~frmMain1() {
    // The list empties itself as it goes, after the buttons it would update.
    QItemSelectionModel* selection = ui_->lvwFiles->selectionModel();
    disconnect(selection, nullptr, this, nullptr);
    disconnect(selection->model(), nullptr, this, nullptr);
}

QRadioButton* frmMain1::optAcidProp(int index) const {
    return index == 0 ? ui_->optAcidProp_0 : index == 1 ? ui_->optAcidProp_1 : ui_->optAcidProp_2;
}
QComboBox* frmMain1::cboRoot(int index) const { return index == 0 ? ui_->cboRoot_0 : ui_->cboRoot_1; }
QLabel* frmMain1::lblroot(int index) const { return index == 0 ? ui_->lblroot_0 : ui_->lblroot_1; }

// ---- Start-up and the window ------------------------------------------------

void frmMain1::Form_Load() {
    vx::Proc(kModule, "Sub Form_Load", [&] {
        setWindowTitle(QString("%1 %2.%3").arg(vb::AppInfo::Title).arg(vb::AppInfo::Major()).arg(vb::AppInfo::Minor()));
        FitToScreen();
        CentreOnScreen(this);
        for (int i = 0; i < velorizer::kRootNoteCount; ++i) {
            const QString name = QString::fromUtf8(velorizer::RootNoteName(i));
            ui_->cboRoot_0->addItem(name);
            ui_->cboRoot_1->addItem(name);
        }
        ui_->cboRoot_0->setCurrentIndex(0);
        ui_->cboRoot_1->setCurrentIndex(0);
        ui_->optAcidProp_0->setChecked(true);
        optAcidProp_Click(0);
        ListviewReset();
        RefreshForm();
    });
}

void frmMain1::FitToScreen() {
    // Only the list gives up height, and never below a few rows: a screen
    // smaller than the window shows its title bar and buttons, and the list
    // scrolls through the rows it can't show.
    QScreen* screen = this->screen();
    if (!screen) return;
    const int frameExtra = frameGeometry().height() - height();
    const int room = screen->availableGeometry().height() - frameExtra;
    QTreeView* list = ui_->lvwFiles;
    const int rows = 4 * (list->fontMetrics().height() + 4);
    const int shortest =
        std::min(designListHeight_, list->header()->sizeHint().height() + rows + 2 * list->frameWidth());
    const int give = std::clamp(designHeight_ - room, 0, designListHeight_ - shortest);
    list->resize(list->width(), designListHeight_ - give);
    setFixedHeight(designHeight_ - give);
    if (!WithinScreen(this)) CentreOnScreen(this);
}

void frmMain1::RefreshForm() {
    vx::Proc(kModule, "Sub RefreshForm", [&] {
        // Both are asked, whatever the first answers.
        const bool ok = ListOK();
        const bool busy = Busy();
        // Not while a drop is walked: the list is not complete yet.
        ui_->cmdVELORize->setEnabled(ok && !busy && walks_ == 0);
        ui_->cmdVELORize->setToolTip(walks_ > 0 ? kWaitForWalk : "");
        ui_->Frame1->setEnabled(true);
        ui_->cmdHelp->setEnabled(true);
    });
}

void frmMain1::cmdHelp_Click() {
    vx::Proc(kModule, "Sub cmdHelp_Click", [&] {
        // Opened by the desktop without waiting; whatever goes wrong is its to tell.
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(vb::AppInfo::Path() + "/help.htm"))));
    });
}

void frmMain1::cmdClose_Click() {
    vx::Proc(kModule, "Sub cmdClose_Click", [&] { close(); });
}

bool frmMain1::event(QEvent* event) {
    // The window manager's frame is known once the window is up: the window
    // is fitted to the screen again with it.
    if (event->type() == QEvent::WindowActivate && !fitted_) {
        fitted_ = true;
        FitToScreen();
    }
    return QWidget::event(event);
}

void frmMain1::closeEvent(QCloseEvent* event) {
    // Disabled during a batch run: its caption bar can't close it then either.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    event->accept();
    Form_Unload();
}

void frmMain1::Form_Unload() {
    // Ends the program inside the procedure: its exit is never reported.
    modVexlor::vxPUSH(kModule, "Sub Form_Unload");
    EndProgram()();
}

// ---- Batch run -------------------------------------------------------------

bool frmMain1::Busy() {
    bool value = false;
    vx::Proc(kModule, "Property (Get) Busy", [&] { value = busy_; });
    return value;
}

void frmMain1::Busy(bool value) {
    vx::Proc(kModule, "Property (Let) Busy", [&] {
        busy_ = value;
        setEnabled(!busy_);
    });
}

void frmMain1::cmdVELORize_Click() {
    // Alt+V leaves the focus where it was: the box being typed in is read
    // first, as a click that takes the focus would have it read.
    LeaveTextBox(QApplication::focusWidget());
    if (walks_ > 0) return;  // the button is disabled then; a click already queued finds it so
    vx::Proc(kModule, "Sub cmdVELORize_Click", [&] { Velorize(); });
    // A run-time error left the run half way: the trap has reported it, now give
    // the user the window back.
    if (runOpen_) RecoverAfterFailedRun();
}

void frmMain1::RecoverAfterFailedRun() {
    runOpen_ = false;
    working_->hide();
    Busy(false);
    RefreshForm();
}

void frmMain1::Velorize() {
    // Errors from here on fall to the click handler's trap.
    vx::Frame frame(kModule, "Sub Velorize");
    runOpen_ = true;
    vx::IgnoreErrors([&] {
        Busy(true);
        RefreshForm();
    });
    ui_->cmdVELORize->setEnabled(false);
    // The run goes over the list as it stood when it began: nothing that
    // happens to the rows meanwhile (events run after every file) can pull an
    // entry from under it.
    const velorizer::PanelChoice choice = ReadPanel();
    velorizer::BatchRun run(Keys(), choice, *velorizeUi_);
    // Every change is journaled first, so that `velorize --undo` can take the
    // run back; a journal that can't be kept stops the run with a message.
    std::unique_ptr<velorizer::RunJournal> journal;
    if (velorizer::JournalWanted()) {
        journal = std::make_unique<velorizer::RunJournal>(
            velorizer::JournalFolder(), "velorun", velorizer::ChoiceText(choice),
            "To tag without a journal, start Velorizer with VELORIZER_JOURNAL=off in its environment.");
        run.Record(journal.get());
    }
    run.Run(working_.get());
    Busy(false);
    RefreshForm();
    runOpen_ = false;
}

// ---- Preview ---------------------------------------------------------------

void frmMain1::cmdPreview_Click() {
    vx::Proc(kModule, "Sub cmdPreview_Click", [&] {
        // The placeholder row is no file: it is never played.
        const std::vector<int> rows = SelectedRows();
        if (!rows.empty() && files_->HasFiles()) PlaySound(files_->Key(rows.front()));
    });
}

void frmMain1::PlaySound(const std::string& FileName) {
    vx::Proc(kModule, "Sub PlaySound", [&] {
        if (!velorizer::WavePlayer::Instance().Play(FileName))
            velorizeUi_->MsgBox("Velorizer experienced an unknown error playing file " + FileName + ".",
                                velorizer::vbInformation, "");
    });
}

// ---- Loop settings panel ---------------------------------------------------

velorizer::PanelChoice frmMain1::ReadPanel() const {
    velorizer::PanelChoice choice;
    choice.kind = ui_->optAcidProp_0->isChecked()   ? velorizer::PanelChoice::OneShot
                  : ui_->optAcidProp_1->isChecked() ? velorizer::PanelChoice::Loop
                                                    : velorizer::PanelChoice::DiskBased;
    choice.loopRootIndex = ui_->cboRoot_0->currentIndex();
    choice.beats = ui_->updBeats->value();
    choice.tempoChecked = ui_->chkTempo->isChecked();
    choice.diskRootIndex = ui_->cboRoot_1->currentIndex();
    choice.tempoMilli = ui_->updTempo->value();
    return choice;
}

void frmMain1::optAcidProp_Click(int index) {
    vx::Proc(kModule, "Sub optAcidProp_Click", [&] {
        const bool loop = index == 1, disk = index == 2;
        for (QWidget* w : std::initializer_list<QWidget*>{ui_->lblbeats, ui_->lblroot_0, ui_->txtBeats, ui_->updBeats,
                                                          ui_->cboRoot_0})
            w->setEnabled(loop);
        ui_->chkTempo->setEnabled(disk);
        ui_->lblroot_1->setEnabled(disk && ui_->chkTempo->isChecked());
        ui_->cboRoot_1->setEnabled(disk && ui_->chkTempo->isChecked());
        ui_->txtTempo->setEnabled(disk);
        ui_->updTempo->setEnabled(disk);
    });
}

// Not instrumented.
void frmMain1::chkTempo_Click() {
    const bool checked = ui_->chkTempo->isChecked();
    ui_->cboRoot_1->setEnabled(checked);
    ui_->lblroot_1->setEnabled(checked);
}

void frmMain1::txtBeats_LostFocus() {
    vx::Proc(kModule, "Sub txtBeats_LostFocus", [&] {
        // The leading number is the value, whatever follows it and whatever the
        // user's locale; the box is then written again with the value used.
        const double lead = panel::LeadingNumber(ui_->txtBeats->text());
        if (lead >= 1 && lead <= 10000) ui_->updBeats->setValue(panel::RoundToLong(lead));
        ui_->txtBeats->setText(QString::number(ui_->updBeats->value()));
    });
}

void frmMain1::txtTempo_LostFocus() {
    vx::Proc(kModule, "Sub txtTempo_LostFocus", [&] {
        const double lead = panel::LeadingNumber(ui_->txtTempo->text());
        if (lead >= 60 && lead <= 240) ui_->updTempo->setValue(panel::RoundToLong(lead * 1000));
        ui_->txtTempo->setText(panel::TempoText(ui_->updTempo->value()));
    });
}

void frmMain1::updTempo_Change() {
    vx::Proc(kModule, "Sub updTempo_Change", [&] { ui_->txtTempo->setText(panel::TempoText(ui_->updTempo->value())); });
}

void frmMain1::LeaveTextBox(QObject* box) {
    if (box == ui_->txtBeats) txtBeats_LostFocus();
    else if (box == ui_->txtTempo) txtTempo_LostFocus();
}

// ---- File list -------------------------------------------------------------

void frmMain1::ListviewReset() {
    vx::Proc(kModule, "Sub ListviewReset", [&] {
        files_->Reset();
        if (!listSetUp_) {
            listSetUp_ = true;
            QTreeView* list = ui_->lvwFiles;
            files_->setHeaderData(0, Qt::Horizontal, QString("Name"));
            list->header()->setStretchLastSection(false);
            list->setColumnWidth(0, 2 * list->width());
            list->setIconSize(QSize(16, 16));
        }
        ui_->cmdPreview->setEnabled(false);
    });
}

bool frmMain1::ListOK() {
    bool ok = false;
    vx::Traced(kModule, "Function ListOK", [&] { ok = files_->HasFiles(); });
    return ok;
}

std::vector<std::string> frmMain1::Keys() const { return files_->Keys(); }

std::vector<int> frmMain1::SelectedRows() const {
    // From the ranges: asking the selection row by row costs a look at every
    // range for each row.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : ui_->lvwFiles->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

bool frmMain1::OneRowSelected() const {
    int rows = 0;
    for (const QItemSelectionRange& range : ui_->lvwFiles->selectionModel()->selection()) {
        rows += range.height();
        if (rows > 1) break;
    }
    return rows == 1;
}

void frmMain1::lvwFiles_OLEDragDrop(const QMimeData* data) {
    vx::Traced(kModule, "Sub lvwFiles_OLEDragDrop", [&] {
        const int before = files_->RowCount();
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile()) continue;
            const std::string path = LocalPathBytes(url);
            struct stat st = {};
            if (::stat(path.c_str(), &st) != 0) continue;  // gone since the drag began
            if (S_ISDIR(st.st_mode)) {
                velorizer::EnumFolders walker;
                walker.File = [this](const std::string& found) { ShowFiles_File(found); };
                // The walker's own procedures, traced and trapped as the program's.
                walker.Procedure = [](std::string_view signature, const std::function<void()>& body) {
                    vx::Proc("EnumFolders", signature, body);
                };
                ShowFiles = &walker;
                setCursor(Qt::WaitCursor);
                // Events get through every 100 files: Velorize must not start on
                // a list that is only partly there.
                ++walks_;
                const auto walked = qScopeGuard([this] { --walks_; });
                RefreshForm();
                ui_->lvwFiles->BeginAppending();
                walker.Go(path, std::string(velorizer::kWaveWildcard));
                ui_->lvwFiles->EndAppending();
                ShowFiles = nullptr;
                unsetCursor();
            } else if (velorizer::EndsWithWav(path)) {
                vx::IgnoreErrors([&] { AddListed(path); });
            }
        }
        if (files_->RowCount() != before) vx::IgnoreErrors([&] { DropPlaceholder(); });
        RefreshForm();
    });
}

void frmMain1::ShowFiles_File(const std::string& path) {
    vx::Traced(kModule, "Sub ShowFiles_File", [&] {
        vx::IgnoreErrors([&] { AddListed(path); });
        ++foundFiles_;
        if (foundFiles_ % 100 == 0) DoEvents();
    });
}

void frmMain1::AddListed(const std::string& path) {
    // The placeholder goes with the first file, not when the walk is over.
    if (files_->AddFile(path)) DropPlaceholder();
}

void frmMain1::DropPlaceholder() {
    if (files_->HasFiles()) return;
    // The placeholder may be the current row; with it gone the first file
    // would be, and the first Down would select the second. No current row:
    // Down selects the first.
    ui_->lvwFiles->setCurrentIndex(QModelIndex());
    files_->RemovePlaceholder();
}

void frmMain1::lvwFiles_ItemClick(const QModelIndex& row) {
    vx::Proc(kModule, "Sub lvwFiles_ItemClick", [&] {
        ui_->lvwFiles->selectionModel()->select(row, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        PreviewFollowsSelection();
    });
}

// One file selected: the placeholder row is none.
void frmMain1::PreviewFollowsSelection() { ui_->cmdPreview->setEnabled(OneRowSelected() && files_->HasFiles()); }

void frmMain1::UndoLastRun() {
    // Not during a run (the window takes no keys then) nor a walk, whose
    // events come in the middle of a drop.
    if (Busy() || walks_ > 0) return;
    vx::Proc(kModule, "Sub UndoLastRun", [&] {
        std::string error;
        const std::optional<velorizer::LastRun> last = velorizer::FindLastRun(error);
        if (!last) {
            if (!error.empty())
                velorizeUi_->MsgBox("Velorizer can't read the journal of its runs: " + error + ".",
                                    velorizer::vbCritical, "Error");
            else velorizeUi_->MsgBox("There is no run to undo.", velorizer::vbInformation, "");
            return;
        }
        QMessageBox question(this);
        vxqt::PrepareMsgBox(question, velorizer::UndoQuestion(*last), velorizer::vbQuestion, "");
        question.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        question.setDefaultButton(QMessageBox::No);
        question.setEscapeButton(QMessageBox::No);
        vxqt::KeepCaptionWhole(question);
        if (question.exec() != QMessageBox::Yes) return;
        // As a run: the window takes no input, the progress window shows the
        // file in hand, and every file's trouble has its own message.
        runOpen_ = true;
        Busy(true);
        velorizer::TakeBack(*last, *velorizeUi_, working_.get());
        Busy(false);
        RefreshForm();
        runOpen_ = false;
    });
    if (runOpen_) RecoverAfterFailedRun();
}

void frmMain1::ShowTags(const QPoint& at, const QPoint& globalPos) {
    const QModelIndex index = ui_->lvwFiles->indexAt(at);
    if (!index.isValid() || !files_->HasFiles()) {
        QToolTip::hideText();
        return;
    }
    // Read now, for this row alone: the file may have changed since it was listed.
    const std::string path = files_->Key(index.row());
    const QString text = vxqt::ShownText(QFile::decodeName(QByteArray::fromStdString(path))) + "\n" +
                         vxqt::ShownText(QString::fromStdString(TagsText(path)), vxqt::Lines::Kept);
    // As rich text, so that no name is ever taken for markup.
    QString html = text.toHtmlEscaped();
    html.replace('\n', "<br>");
    QToolTip::showText(globalPos, "<p style='white-space:pre'>" + html + "</p>", ui_->lvwFiles->viewport(),
                       ui_->lvwFiles->visualRect(index));
}

bool frmMain1::lvwFiles_MouseDown(Qt::MouseButton button, const QPoint& globalPos) {
    bool shown = false;
    vx::Proc(kModule, "Sub lvwFiles_MouseDown", [&] {
        const bool ok = ListOK();
        if (button != Qt::RightButton || !ok) return;
        shown = true;
        PopUpFilesMenu(globalPos);
    });
    return shown;
}

void frmMain1::lvwFiles_KeyDown(int key, Qt::KeyboardModifiers shift) {
    vx::Proc(kModule, "Sub lvwFiles_KeyDown", [&] {
        // As the pop-up's items: only while the list holds files.
        if (!ListOK()) return;
        if (IsDeleteKey(key, shift)) {
            mnuFilesDelete_Click();
        } else if (IsMenuKey(key, shift)) {
            // Under the current row when it is in sight, else at the list's top left corner.
            QTreeView* list = ui_->lvwFiles;
            const QRect view = list->viewport()->rect();
            const QRect row = list->visualRect(list->currentIndex());
            QPoint at = view.topLeft();
            if (row.isValid() && view.intersects(row))
                at = QPoint(std::clamp(row.left() + 16, 0, view.right()), row.bottom());
            PopUpFilesMenu(list->viewport()->mapToGlobal(at));
        }
    });
}

void frmMain1::PopUpFilesMenu(const QPoint& globalPos) {
    ui_->mnuFilesDelete->setEnabled(ui_->lvwFiles->selectionModel()->hasSelection());
    mnuFiles_->exec(globalPos);
}

void frmMain1::mnuFilesDelete_Click() {
    vx::Proc(kModule, "Sub mnuFilesDelete_Click", [&] {
        const std::vector<int> rows = SelectedRows();
        if (rows.empty()) return;
        // Every selected row goes: dropping the selection first spares the
        // views from following each of its ranges through every removal.
        ui_->lvwFiles->selectionModel()->clearSelection();
        files_->RemoveRows(rows);
        if (files_->RowCount() == 0) ListviewReset();
        RefreshForm();
    });
}

void frmMain1::mnuFilesDeleteAll_Click() {
    vx::Proc(kModule, "Sub mnuFilesDeleteAll_Click", [&] {
        ListviewReset();
        RefreshForm();
    });
}

// ---- Events that reach the handlers above -------------------------------------

bool frmMain1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->lvwFiles->viewport()) {
        // A disabled list (during a run) takes no drops and no clicks.
        if (!ui_->lvwFiles->isEnabled()) return QWidget::eventFilter(watched, event);
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (drag->mimeData()->hasUrls()) {
                    drag->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                if (!drop->mimeData()->hasUrls()) break;
                drop->acceptProposedAction();
                lvwFiles_OLEDragDrop(drop->mimeData());
                return true;
            }
            case QEvent::ToolTip: {
                auto* help = static_cast<QHelpEvent*>(event);
                ShowTags(help->pos(), help->globalPos());
                return true;
            }
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                // A shown pop-up has had the press: the list must not act on it afterwards.
                return lvwFiles_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
            }
            default: break;
        }
    } else if (watched == ui_->lvwFiles) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (IsDeleteKey(key->key(), key->modifiers()) || IsMenuKey(key->key(), key->modifiers())) {
                lvwFiles_KeyDown(key->key(), key->modifiers());
                return true;
            }
        }
        // The window system follows the menu key with a request of its own: the key has done it.
        if (event->type() == QEvent::ContextMenu &&
            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard)
            return true;
    } else if (event->type() == QEvent::KeyPress && (watched == ui_->txtBeats || watched == ui_->txtTempo)) {
        // Up and Down in a number box do what its arrows do, the typed text first.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            UpDown* spin = watched == ui_->txtBeats ? ui_->updBeats : ui_->updTempo;
            LeaveTextBox(watched);
            if (key == Qt::Key_Up) spin->stepUp();
            else spin->stepDown();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Only a move of the focus to another control of this window counts as leaving.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == ui_->txtBeats) txtBeats_LostFocus();
            else if (watched == ui_->txtTempo) txtTempo_LostFocus();
        }
    }
    return QWidget::eventFilter(watched, event);
}
