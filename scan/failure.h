#pragma once

#include <QString>

namespace kw {

// Failure codes of the cycle and of BinCopy. They are positive and never 1, so they cannot be
// taken for BinCopy's own results (1 copied, 0, -1 and -2).
inline constexpr int kInvalidArgument = 5;
// Taking the bound of an array without elements; the tick ends without a report.
inline constexpr int kIndexOutOfRange = 9;
// An operating-system call failed: kSystemFailure + the system's error number (for example 1028,
// no space left).
inline constexpr int kSystemFailure = 1000;
// The source grew, shrank, was rewritten or replaced while it was copied; tried again later.
inline constexpr int kSourceChanged = 2001;
// The program is shutting down; the copy stopped and removed what it had written.
inline constexpr int kCopyInterrupted = 2002;
// The watched folder exists but its entries cannot be read.
inline constexpr int kListingFailed = 2003;
// A program opened the source for writing while it was copied or moved; tried again later.
inline constexpr int kSourceOpenedForWriting = 2004;

// A failure that ends a tick: its code and the text of its "ErrorDescription: " line.
struct Failure {
    int code = 0;
    QString description;
};

// A description for a code of the list above.
QString FailureDescription(int code);

}  // namespace kw
