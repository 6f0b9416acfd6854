#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {
QScreen* ScreenOf(const QWidget* w) {
    QScreen* s = w->screen();
    return s ? s : QGuiApplication::primaryScreen();
}
}  // namespace

void CentreOnScreen(QWidget* window) {
    QScreen* screen = ScreenOf(window);
    if (!screen) return;
    const QRect area = screen->geometry();
    const QSize frame = window->frameGeometry().size();
    window->move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
}

double TwipsPerPixelX(const QWidget* widget) {
    const int dpi = widget->logicalDpiX();
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}
