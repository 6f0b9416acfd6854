#pragma once
// A spin button: two small arrow buttons that step an integer value within a
// range. With a buddy line edit it writes every value it is given into it, as
// an integer, without help from its owner.

#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int increment READ increment WRITE setIncrement)

public:
    explicit UpDown(QWidget* parent = nullptr);

    int value() const { return value_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int increment() const { return step_; }
    void setMinimum(int v);
    void setMaximum(int v);
    void setIncrement(int v) { step_ = v > 0 ? v : 1; }
    // Values outside the range are brought to its nearest end. The buddy shows
    // the value afterwards even when it did not change.
    void setValue(int v);
    void setBuddy(QLineEdit* buddy);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    void stepUp() { setValue(value_ > max_ - step_ ? max_ : value_ + step_); }
    void stepDown() { setValue(value_ < min_ + step_ ? min_ : value_ - step_); }

signals:
    void valueChanged(int value);
    // An arrow is pressed, before it steps: the arrows take no focus, so a text
    // box being typed into is still waiting for its lost-focus rule.
    void arrowPressed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QToolButton* up_;
    QToolButton* down_;
    QWidget* focusFrame_;
    QLineEdit* buddy_ = nullptr;
    int value_ = 0;
    int min_ = 0;
    int max_ = 10;
    int step_ = 1;
};
