#pragma once

#include <QtGlobal>

#include <chrono>

namespace kw {

// Milliseconds of a clock that no one sets: what is measured on it neither jumps with a clock set
// forward (a suspended laptop, a time server's step) nor stalls with one set back.
inline qint64 monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace kw
