#pragma once
// The main window: the file list, the "Acid Properties" panel, the batch run
// and preview. Every procedure reports to the error-trapping module under the
// module name "main".

#include "DesktopUi.h"
#include "FileListModel.h"

#include <QHash>
#include <QIcon>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class frmMain1;
}
namespace velorizer {
class EnumFolders;
struct PanelChoice;
}  // namespace velorizer
class QComboBox;
class QLabel;
class QMenu;
class QMimeData;
class QRadioButton;
class QModelIndex;
class frmWorking;

class frmMain1 : public QWidget {
    Q_OBJECT
public:
    explicit frmMain1(QWidget* parent = nullptr);
    ~frmMain1() override;

    // Key of the placeholder row.
    static constexpr const char* kDummyKey = FileListModel::kPlaceholderKey;

    bool Busy();
    void Busy(bool value);
    void RefreshForm();
    void ListviewReset();
    bool ListOK();

    // The list's keys, in list order (the placeholder's "dummy" included).
    std::vector<std::string> Keys() const;
    // Files the folder walker has reported during this run.
    int32_t FoundFiles() const { return foundFiles_; }
    // Whether a dropped folder is being walked.
    bool Walking() const { return walks_ > 0; }
    frmWorking* Working() const { return working_.get(); }
    QMenu* mnuFiles() const { return mnuFiles_; }
    QRadioButton* optAcidProp(int index) const;
    QComboBox* cboRoot(int index) const;
    QLabel* lblroot(int index) const;

    // The engine's way to the user during a batch run; the desktop's own by default.
    void SetVelorizeUi(velorizer::VelorizeUi* ui) { velorizeUi_ = ui ? ui : &desktopUi_; }
    // What ends the program when the window is unloaded: by default the process
    // ends at once.
    static void SetEndProgram(std::function<void()> end);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();
    // Shortens the list when the window is taller than its screen's available area.
    void FitToScreen();
    void cmdHelp_Click();
    void cmdClose_Click();
    void cmdVELORize_Click();
    void Velorize();
    void cmdPreview_Click();
    void PlaySound(const std::string& FileName);

    // The panel as the next run takes it.
    velorizer::PanelChoice ReadPanel() const;
    void optAcidProp_Click(int index);
    void chkTempo_Click();
    void txtBeats_LostFocus();
    void txtTempo_LostFocus();
    void updTempo_Change();
    // Runs the lost-focus rule of this text box (if it is one), as a move of the
    // focus would: for the arrows and keys that step a value without one.
    void LeaveTextBox(QObject* box);

    void lvwFiles_OLEDragDrop(const QMimeData* data);
    void ShowFiles_File(const std::string& path);
    void lvwFiles_ItemClick(const QModelIndex& row);
    bool lvwFiles_MouseDown(Qt::MouseButton button, const QPoint& globalPos);
    // Delete, and the menu key or Shift+F10; called only for those keys.
    void lvwFiles_KeyDown(int key, Qt::KeyboardModifiers shift);
    void PopUpFilesMenu(const QPoint& globalPos);
    // "&Preview" is there exactly while one row is selected.
    void PreviewFollowsSelection();
    // Adds a file entry, and takes the placeholder out with the first.
    void AddListed(const std::string& path);
    void DropPlaceholder();
    // Ctrl+Z: asks, then takes back the program's last run.
    void UndoLastRun();
    // The tooltip of the row under `at`: its path and its tags as they are now.
    void ShowTags(const QPoint& at, const QPoint& globalPos);
    void mnuFilesDelete_Click();
    void mnuFilesDeleteAll_Click();

    // The numbers of the selected rows, in list order.
    std::vector<int> SelectedRows() const;
    bool OneRowSelected() const;
    void RecoverAfterFailedRun();

    std::unique_ptr<Ui::frmMain1> ui_;
    std::unique_ptr<frmWorking> working_;
    QMenu* mnuFiles_ = nullptr;
    QHash<QString, QIcon> ImageList1;
    // The list's rows; the list view owns it.
    FileListModel* files_ = nullptr;
    velorizer::EnumFolders* ShowFiles = nullptr;
    int32_t foundFiles_ = 0;
    int walks_ = 0;  // dropped folders being walked
    int designHeight_ = 0, designListHeight_ = 0;
    bool fitted_ = false;
    bool busy_ = false;
    bool listSetUp_ = false;
    bool runOpen_ = false;
    velorizer::DesktopUi desktopUi_;
    velorizer::VelorizeUi* velorizeUi_ = &desktopUi_;
};
