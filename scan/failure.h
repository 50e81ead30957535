#pragma once

#include <QString>

namespace kw {

namespace fs {
enum class NameResult;
struct CopyResult;
}  // namespace fs
class EventLog;

// Every number the log shows for the outcome of a copy, a move or a tick ("CopyError (1028)",
// "MoveError (2001)", "TimerError (5)"), and the functions that write those lines from the
// platform's named answers. Nothing else makes such a number.

// A copy's numbers: done, or a failure that is one of these or a code below (positive, never 1).
inline constexpr int kCopied = 1;
inline constexpr int kSourceMissing = 0;
inline constexpr int kFolderNotCreated = -1;
inline constexpr int kDestinationExists = -2;

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

// "CopyError (code) - Delete Destination....." and whether what the copy wrote is gone.
void WriteCopyError(EventLog& log, const fs::CopyResult& result, bool partialRemoved,
                    const QString& partialFile);
// "MoveError (code) source -> destination" for a rename that was not done; error is the
// mover's error() for Failed.
void WriteMoveError(EventLog& log, fs::NameResult result, int error, const QString& source,
                    const QString& destination);

// A failure that ends a tick: its code and the text of its "ErrorDescription: " line.
struct Failure {
    int code = 0;
    QString description;
};

// A description for a code of the list above.
QString FailureDescription(int code);
// The two lines of a failure that ends a tick: "TimerError (code)" and its description.
void WriteTimerError(EventLog& log, const Failure& failure);

}  // namespace kw
