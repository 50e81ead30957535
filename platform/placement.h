#pragma once

class QWidget;

namespace kw {

// Placement code 2 centres the window on its screen (a window wider than the screen gets a
// negative left edge) and answers true; any other code moves nothing and answers false.
bool PlaceForm(QWidget* window, int code);

// Keeps the window above all others, or releases it again; a visible window stays visible.
bool SetWindowTopmost(QWidget* window, bool release);

}  // namespace kw
