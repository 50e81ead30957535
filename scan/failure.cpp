#include "scan/failure.h"

#include "core/eventlog.h"
#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "platform/fs.h"

namespace kw {

int CopyFailureCode(int error) {
    switch (error) {
        case fs::kCopySourceChanged:
            return kSourceChanged;
        case fs::kCopySourceOpenedForWriting:
            return kSourceOpenedForWriting;
        default:
            return fs::problemOf(error) == fs::Problem::Exists ? kDestinationExists
                                                               : kSystemFailure + error;
    }
}

int MoveFailureCode(fs::NameResult result, int error) {
    switch (result) {
        case fs::NameResult::Changed:
            return kSourceChanged;
        case fs::NameResult::OpenedForWriting:
            return kSourceOpenedForWriting;
        case fs::NameResult::DestinationExists:
            return kDestinationExists;
        default:
            return kSystemFailure + error;
    }
}

int SystemErrorOf(int code) {
    return code > kSystemFailure && code < kSourceChanged ? code - kSystemFailure : 0;
}

QString FailureDescription(int code) {
    if (const int error = SystemErrorOf(code))
        return fs::errorText(error);
    switch (code) {
        case kInvalidArgument:
            return QStringLiteral("Invalid argument");
        case kIndexOutOfRange:
            return QStringLiteral("Index out of range");
        case kSourceChanged:
            return QStringLiteral("The source file changed while it was copied");
        case kCopyInterrupted:
            return QStringLiteral("The copy was interrupted");
        case kListingFailed:
            return QStringLiteral("The watched folder cannot be listed");
        case kSourceOpenedForWriting:
            return QStringLiteral("A program opened the source file for writing");
        default:
            return QStringLiteral("Failure ") + QString::number(code);
    }
}

void WriteTimerError(EventLog& log, const Failure& failure) {
    log.WriteLog(QLatin1String("TimerError (") + QString::number(failure.code) + QLatin1Char(')'));
    log.WriteLog(QLatin1String("ErrorDescription: ") + failure.description);
}

}  // namespace kw
