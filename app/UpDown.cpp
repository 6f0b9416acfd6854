#include "UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    up_->setObjectName("up");
    down_->setObjectName("down");
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(5, 5));
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
    if (v == value_) return;
    value_ = v;
    if (buddy_) buddy_->setText(QString::number(value_));
    emit valueChanged(value_);
}

void UpDown::setBuddy(QLineEdit* buddy) {
    buddy_ = buddy;
    if (buddy_) buddy_->setText(QString::number(value_));
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int h = height() / 2;
    up_->setGeometry(0, 0, width(), h);
    down_->setGeometry(0, h, width(), height() - h);
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up: case Qt::Key_Right: stepUp(); break;
        case Qt::Key_Down: case Qt::Key_Left: stepDown(); break;
        default: QWidget::keyPressEvent(event); break;
    }
}
