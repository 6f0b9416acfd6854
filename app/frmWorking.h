#pragma once
// The progress window of a batch run: a caption and one bar, nothing to press.
// The run sets the bar; the window can't be closed from its frame.

#include <QWidget>
#include <memory>

namespace Ui { class frmWorking; }
class QProgressBar;

class frmWorking : public QWidget {
    Q_OBJECT
public:
    explicit frmWorking(QWidget* parent = nullptr);
    ~frmWorking() override;
    QProgressBar* ProgressBar1() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::frmWorking> ui_;
};
