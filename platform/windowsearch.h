#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kw {

// A top-level window of the desktop by its server id; 0 is no window.
using WindowId = quint32;

// One top-level client window with the two names of its window class (instance and class).
struct TopWindow {
    WindowId id = 0;
    QString instanceName;
    QString className;
};

// Where a window search reports what it cannot do (no display, a lost connection); the P2P
// detection then goes on with the running processes alone.
using WindowSearchLog = std::function<void(const QString& line)>;

// The desktop's top-level windows as other programs show them. Windows come and go at any moment:
// a window that has vanished is simply not there, never a failure.
class WindowSearch {
public:
    virtual ~WindowSearch() = default;

    // Whether there is a display whose windows are searched; false without one and while a lost
    // one is not back.
    virtual bool HasDisplay() = 0;
    // Every top-level client window, mapped or not, frontmost first, in one pass over the window
    // tree; windows inside them are not searched. Empty when there is no desktop to search.
    virtual std::vector<TopWindow> ListTopWindows() = 0;
    // The window's title as the desktop shows it; empty when it has none or has vanished.
    virtual QString GetWindowCaption(WindowId window) = 0;
    // True while the window and all its ancestors are mapped.
    virtual bool IsWindowVisible(WindowId window) = 0;
    // The window's class name (the instance name when the class is empty); nothing when the
    // window has vanished.
    virtual std::optional<QString> GetWindowClassName(WindowId window) = 0;
};

// The search for this session: the X display when there is one (X11, or XWayland under
// Wayland), otherwise a search that finds nothing and says so once through log.
std::unique_ptr<WindowSearch> CreateWindowSearch(WindowSearchLog log);

}  // namespace kw
