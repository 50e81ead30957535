#pragma once

#include "core/textarray.h"
#include "platform/heldfolder.h"
#include "platform/writers.h"
#include "scan/repeatfailures.h"

#include <QString>

#include <optional>

namespace kw {

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
    // The files programs hold open for writing, as /proc shows them: taken once, when the first
    // file no lease speaks for is looked at.
    std::optional<fs::WritersSnapshot> writers;
};

}  // namespace kw
