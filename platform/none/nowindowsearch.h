#pragma once

#include "platform/windowsearch.h"

namespace kw {

// For sessions without an X display: finds no window and logs reason the first time it is asked.
std::unique_ptr<WindowSearch> CreateNoWindowSearch(const QString& reason, WindowSearchLog log);

}  // namespace kw
