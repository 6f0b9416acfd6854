#pragma once
// The splash window: the start-up object. Shows the picture, the version and the
// maker for three seconds, then hands over to the main window.

#include <QWidget>
#include <memory>

namespace Ui {
class frmSplash;
}
class QTimer;

class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);
    ~frmSplash() override;

    QTimer* Timer1() const { return timer1_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Timer1_Timer();

    std::unique_ptr<Ui::frmSplash> ui_;
    QTimer* timer1_;
    bool unloading_ = false;
};
