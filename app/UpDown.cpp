#include "UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QToolButton>

namespace {

// Drawn over the arrows, which fill the whole control, while it has the focus.
class FocusFrame : public QWidget {
public:
    explicit FocusFrame(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        // Only the keyboard gives this control the focus: always show it.
        option.state |= QStyle::State_KeyboardFocusChange;
        option.rect = rect();
        option.backgroundColor = palette().color(QPalette::Button);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
};

}  // namespace

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)), focusFrame_(new FocusFrame(this)) {
    up_->setObjectName("up");
    down_->setObjectName("down");
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(5, 5));
        connect(b, &QToolButton::pressed, this, &UpDown::arrowPressed);
    }
    setFocusPolicy(Qt::TabFocus);
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setMinimum(int v) {
    min_ = v;
    if (max_ < min_) max_ = min_;
    setValue(value_);
}

void UpDown::setMaximum(int v) {
    max_ = v;
    if (min_ > max_) min_ = max_;
    setValue(value_);
}

void UpDown::setValue(int v) {
    v = v < min_ ? min_ : v > max_ ? max_ : v;
    const bool changed = v != value_;
    value_ = v;
    // "06" or "5.7" typed for 6 must read 6 again, though nothing changed.
    if (buddy_) buddy_->setText(QString::number(value_));
    if (changed) emit valueChanged(value_);
}

void UpDown::setBuddy(QLineEdit* buddy) {
    buddy_ = buddy;
    if (buddy_) buddy_->setText(QString::number(value_));
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int h = height() / 2;
    up_->setGeometry(0, 0, width(), h);
    down_->setGeometry(0, h, width(), height() - h);
    focusFrame_->setGeometry(rect());
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Right: stepUp(); break;
        case Qt::Key_Down:
        case Qt::Key_Left: stepDown(); break;
        default: QWidget::keyPressEvent(event); break;
    }
}

void UpDown::focusInEvent(QFocusEvent* event) {
    focusFrame_->raise();
    focusFrame_->show();
    QWidget::focusInEvent(event);
}

void UpDown::focusOutEvent(QFocusEvent* event) {
    focusFrame_->hide();
    QWidget::focusOutEvent(event);
}
