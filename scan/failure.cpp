#include "scan/failure.h"

#include "platform/fs.h"

namespace kw {

QString FailureDescription(int code) {
    if (code > kSystemFailure && code < kSourceChanged)
        return fs::errorText(code - kSystemFailure);
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

}  // namespace kw
