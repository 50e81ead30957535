#include "scan/failure.h"

#include "core/eventlog.h"
#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "platform/fs.h"

namespace kw {
namespace {

int copyCode(const fs::CopyResult& result) {
    switch (result.problem) {
        case fs::CopyProblem::None:
            return kCopied;
        case fs::CopyProblem::SourceMissing:
            return kSourceMissing;
        case fs::CopyProblem::FolderNotCreated:
            return kFolderNotCreated;
        case fs::CopyProblem::NameTaken:
            return kDestinationExists;
        case fs::CopyProblem::SourceChanged:
            return kSourceChanged;
        case fs::CopyProblem::SourceOpenedForWriting:
            return kSourceOpenedForWriting;
        case fs::CopyProblem::Interrupted:
            return kCopyInterrupted;
        case fs::CopyProblem::System:
            break;
    }
    return kSystemFailure + result.error;
}

int moveCode(fs::NameResult result, int error) {
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

// The system's error number inside a code of kSystemFailure, else 0.
int systemErrorOf(int code) {
    return code > kSystemFailure && code < kSourceChanged ? code - kSystemFailure : 0;
}

}  // namespace

void WriteCopyError(EventLog& log, const fs::CopyResult& result, bool partialRemoved,
                    const QString& partialFile) {
    // Only what this copy wrote is removed; a destination file it did not write stays.
    QString text = QLatin1String("CopyError (") + QString::number(copyCode(result)) +
                   QLatin1String(") - Delete Destination.....");
    text += partialRemoved ? QStringLiteral("Success")
                           : QLatin1String("Can't Delete '") + partialFile + QLatin1Char('\'');
    log.WriteLog(text);
}

void WriteMoveError(EventLog& log, fs::NameResult result, int error, const QString& source,
                    const QString& destination) {
    log.WriteLog(QLatin1String("MoveError (") + QString::number(moveCode(result, error)) +
                 QLatin1String(") ") + source + QLatin1String(" -> ") + destination);
}

QString FailureDescription(int code) {
    if (const int error = systemErrorOf(code))
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
