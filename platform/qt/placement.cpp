#include "platform/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace kw {

bool PlaceForm(QWidget* window) {
    if (!window)
        return false;
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    const QRect area = screen->geometry();
    const QSize size = window->frameGeometry().size();
    // Halves round to the even neighbour, the default rounding mode of nearbyint.
    const int left = int(std::nearbyint(area.width() / 2.0 - size.width() / 2.0));
    const int top = int(std::nearbyint(area.height() / 2.0 - size.height() / 2.0));
    window->move(area.x() + left, area.y() + top);
    window->update();
    return true;
}

bool SetWindowTopmost(QWidget* window, bool release) {
    if (!window)
        return false;
    const bool topmost = !release;
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost)
        return true;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    // Changing the flags hides a top-level window.
    if (visible)
        window->show();
    return true;
}

}  // namespace kw
