#pragma once

class QWidget;

namespace kw {

// Centres the window on its screen (a window wider than the screen gets a negative left edge);
// false when there is no window or no screen.
bool PlaceForm(QWidget* window);

// Keeps the window above all others, or releases it again; a visible window stays visible.
bool SetWindowTopmost(QWidget* window, bool release);

}  // namespace kw
