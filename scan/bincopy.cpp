#include "scan/bincopy.h"

#include "core/desktop.h"
#include "core/files.h"
#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/heldfolder.h"
#include "scan/failure.h"
#include "scan/listing.h"

#include <QCoreApplication>

#include <memory>

namespace kw {

int BinCopy(Desktop& desktop, const QString& source, const QString& destinationFolder,
            bool showProgress, const QString& caption, CopyReport* report,
            const std::function<bool()>& keepGoing, const HeldCopy* held) {
    CopyReport unused;
    CopyReport& outcome = report ? *report : unused;
    outcome = CopyReport();
    const QString folder = AddBackslash(destinationFolder);
    const QString name = FileNameOf(source);
    const QString destination = folder + name;

    fs::StagedCopy ownCopy;
    fs::StagedCopy& copy = held ? held->unnamed : ownCopy;
    int error = 0;
    if (held) {
        // The held folder is the destination; a name that cannot be looked up is not free.
        int lookUp = 0;
        if (held->folder.factsOf(name, &lookUp))
            return kDestinationExists;
        if (fs::problemOf(lookUp) != fs::Problem::Missing)
            return CopyFailureCode(lookUp);
        error = copy.begin(held->source, held->folder);
    } else {
        const auto sourceFacts = fs::factsFollowingLinks(source);
        if (!sourceFacts || sourceFacts->kind != fs::Kind::Regular)
            return kSourceMissing;
        if (!FolderExists(folder, false) && !CreateFolderPath(folder))
            return kFolderNotCreated;
        if (fs::facts(destination))
            return kDestinationExists;
        error = copy.begin(source, folder);
    }
    const qint64 size = copy.sourceSize();
    // A file that cannot fit is refused before a byte is written, not after filling the disk.
    if (error == 0)
        error = held ? held->folder.roomFor(size) : fs::roomFor(folder, size);
    std::unique_ptr<CopyProgress> progress;
    if (error == 0 && showProgress) {
        progress = desktop.CreateProgressWindow();
        progress->SetOption(0, size, caption, true);
    }

    // A file of 0 bytes, and one that is an exact multiple of the chunk, get a last pass that
    // copies nothing, so the window always sees the final value.
    bool interrupted = false;
    for (qint64 position = 0; error == 0 && position <= size; position += kCopyChunk) {
        if (position == 0 && progress)
            progress->SetMessage(source + QLatin1String(" -> ") + destination);
        const qint64 count = std::min(kCopyChunk, size - position);
        error = copy.copy(count);
        if (error != 0)
            break;
        if (progress)
            progress->SetValue(copy.copied());
        QCoreApplication::processEvents();
        if (keepGoing && !keepGoing()) {
            interrupted = true;
            break;
        }
    }
    int result = interrupted ? kCopyInterrupted : error != 0 ? CopyFailureCode(error) : kCopied;
    if (result == kCopied) {
        // Another program may have put a file of that name there while the copy ran.
        error = held ? copy.complete() : copy.commit(name);
        result = error == 0 ? kCopied : CopyFailureCode(error);
    }
    outcome.bytes = copy.copied();
    if (result != kCopied) {
        outcome.partialFile = copy.partialPath();
        outcome.partialRemoved = copy.discard() == 0;
    }
    return result;
}

}  // namespace kw
