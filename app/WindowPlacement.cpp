#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {
QScreen* ScreenOf(const QWidget* w) {
    QScreen* s = w->screen();
    return s ? s : QGuiApplication::primaryScreen();
}
}  // namespace

void CentreOnScreen(QWidget* window) {
    QScreen* screen = ScreenOf(window);
    if (!screen) return;
    const QRect whole = screen->geometry();
    const QRect area = screen->availableGeometry();
    const QSize frame = window->frameGeometry().size();
    int x = whole.x() + (whole.width() - frame.width()) / 2;
    int y = whole.y() + (whole.height() - frame.height()) / 2;
    // Within the area that panels leave, its top-left corner first: a window
    // larger than the area keeps its title bar on screen.
    x = std::max(area.left(), std::min(x, area.left() + area.width() - frame.width()));
    y = std::max(area.top(), std::min(y, area.top() + area.height() - frame.height()));
    window->move(x, y);
}

bool WithinScreen(const QWidget* window) {
    const QScreen* screen = ScreenOf(window);
    return !screen || screen->availableGeometry().contains(window->frameGeometry());
}

double TwipsPerPixelX(const QWidget* widget) {
    const int dpi = widget->logicalDpiX();
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}
