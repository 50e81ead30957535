#pragma once

#include "core/textarray.h"
#include "platform/heldfolder.h"
#include "platform/writers.h"
#include "scan/repeatfailures.h"

#include <QString>

#include <algorithm>
#include <optional>

namespace kw {

class FolderWatch;

// How the work on one file or one pass ends.
enum class Step { Next, Restart, Stop };

// What one pass works with, fixed when it begins: the two folders it checked, held open, and the
// settings of that moment. A setting changed meanwhile takes effect with the next pass.
struct Pass {
    fs::HeldFolder source;
    fs::HeldFolder destination;
    DestinationPlace place;
    TextArray blockedExtensions;
    QString soundFile;
    // Whether a lease on a file of the watched folder tells that nobody writes it, and how coarse
    // that file system keeps file times.
    bool leasesTellWriters = true;
    qint64 timeGranularityNs = 0;
    // Whether a watch on the watched folder hears of every change to its files.
    bool watchSeesEveryWriter = false;
    // The watch on this very watched folder, where there is one: what it heard of each file's
    // writers. Null when it watches nothing or another folder.
    FolderWatch* watch = nullptr;
    // How long a file written here is left to its writers after their last write or close, and
    // how long one no writer of which can be seen must hold still.
    qint64 quietMs = 0;
    // The monotonic milliseconds at which the first file that waits out its quiet time may move;
    // 0 when none waits.
    qint64 wakeAtMs = 0;
    // How long a file that no writer of which can be seen must hold still before it moves.
    qint64 stillForNs() const { return timeGranularityNs + quietMs * 1'000'000; }
    void wakeAt(qint64 ms) { wakeAtMs = wakeAtMs == 0 ? ms : std::min(wakeAtMs, ms); }
    // The files programs hold open for writing, as /proc shows them: taken once, when the first
    // file no lease speaks for is looked at.
    std::optional<fs::WritersSnapshot> writers;
};

}  // namespace kw
