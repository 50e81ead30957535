#include "platform/windowsearch.h"

#include "platform/none/nowindowsearch.h"
#if KW_HAVE_X11
#include "platform/x11/x11windowsearch.h"
#endif

#include <QGuiApplication>

namespace kw {

std::unique_ptr<WindowSearch> CreateWindowSearch(WindowSearchLog log) {
    // Under Wayland the X programs live on XWayland's display, which DISPLAY names.
    const QByteArray display = qgetenv("DISPLAY");
    const bool onX11 = QGuiApplication::platformName() == QLatin1String("xcb");
#if KW_HAVE_X11
    if (onX11 || !display.isEmpty()) {
        if (auto search = CreateX11WindowSearch(display, log))
            return search;
        return CreateNoWindowSearch(QLatin1String("P2P detection: cannot open the X display '") +
                                        QString::fromLocal8Bit(display) +
                                        QLatin1String("', windows are not searched, processes are"),
                                    std::move(log));
    }
#else
    Q_UNUSED(onX11);
#endif
    return CreateNoWindowSearch(
        QStringLiteral("P2P detection: no X display, windows are not searched, processes are"),
        std::move(log));
}

}  // namespace kw
