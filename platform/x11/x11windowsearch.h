#pragma once

#include "platform/windowsearch.h"

#include <QByteArray>

namespace kw {

// A window search over its own connection to the X display named display (empty: $DISPLAY).
// Null when the display cannot be opened. X errors stay on that connection, one per request.
std::unique_ptr<WindowSearch> CreateX11WindowSearch(const QByteArray& display, WindowSearchLog log);

}  // namespace kw
