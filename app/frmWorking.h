#pragma once
// The progress window of a batch run: a caption and one bar, nothing to press.
// It follows the run: shown at its start, the bar at the file being tagged,
// hidden at its end. The window can't be closed from its frame.

#include "BatchRun.h"

#include <QWidget>
#include <memory>

namespace Ui {
class frmWorking;
}
class QProgressBar;

class frmWorking : public QWidget, public velorizer::BatchObserver {
    Q_OBJECT
public:
    explicit frmWorking(QWidget* parent = nullptr);
    ~frmWorking() override;
    QProgressBar* ProgressBar1() const;

    void RunStarting(size_t count) override;
    void BeforeFile(size_t number, const std::string& path) override;
    void AfterFile(size_t number, const std::string& path, const velorizer::Outcome& outcome) override;
    void RunEnding(const velorizer::BatchResult& result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::frmWorking> ui_;
};
