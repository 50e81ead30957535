#include "scan/bincopy.h"

#include "core/desktop.h"
#include "core/files.h"
#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/heldfolder.h"
#include "scan/listing.h"

#include <memory>

namespace kw {

fs::CopyResult BinCopy(Desktop& desktop, const QString& source, const QString& destinationFolder,
                       bool showProgress, const QString& caption, CopyReport* report,
                       const std::function<bool()>& keepGoing, const HeldCopy* held) {
    using fs::CopyProblem;
    CopyReport unused;
    CopyReport& outcome = report ? *report : unused;
    outcome = CopyReport();
    const QString folder = AddBackslash(destinationFolder);
    const QString name = FileNameOf(source);
    const QString destination = folder + name;

    fs::StagedCopy ownCopy;
    fs::StagedCopy& copy = held ? held->unnamed : ownCopy;
    fs::CopyResult result;
    if (held) {
        // The held folder is the destination; a name that cannot be looked up is not free.
        int lookUp = 0;
        if (held->folder.factsOf(name, &lookUp))
            return {CopyProblem::NameTaken};
        if (fs::problemOf(lookUp) != fs::Problem::Missing)
            return fs::CopyResult::ofError(lookUp);
        result = copy.begin(held->source, held->folder);
    } else {
        const auto sourceFacts = fs::factsFollowingLinks(source);
        if (!sourceFacts || sourceFacts->kind != fs::Kind::Regular)
            return {CopyProblem::SourceMissing};
        if (!FolderExists(folder, false) && !CreateFolderPath(folder))
            return {CopyProblem::FolderNotCreated};
        if (fs::facts(destination))
            return {CopyProblem::NameTaken};
        result = copy.begin(source, folder);
    }
    const qint64 size = copy.sourceSize();
    // A file that cannot fit is refused before a byte is written, not after filling the disk.
    if (result.ok())
        result = fs::CopyResult::ofError(held ? held->folder.roomFor(size, copy.sourceData())
                                              : fs::roomFor(folder, size));
    std::unique_ptr<CopyProgress> progress;
    if (result.ok() && showProgress) {
        progress = desktop.CreateProgressWindow();
        progress->SetOption(0, size, caption, true);
    }

    // A file of 0 bytes, and one that is an exact multiple of the chunk, get a last pass that
    // copies nothing, so the window always sees the final value.
    for (qint64 position = 0; result.ok() && position <= size; position += kCopyChunk) {
        if (position == 0 && progress)
            progress->SetMessage(source + QLatin1String(" -> ") + destination);
        const qint64 count = std::min(kCopyChunk, size - position);
        result = copy.copy(count);
        if (!result.ok())
            break;
        if (progress)
            progress->SetValue(copy.copied());
        if (keepGoing && !keepGoing())
            result = {CopyProblem::Interrupted};
    }
    // Another program may have put a file of that name there while the copy ran.
    if (result.ok())
        result = held ? copy.complete() : copy.commit(name);
    outcome.bytes = copy.copied();
    if (!result.ok()) {
        outcome.partialFile = copy.partialPath();
        outcome.partialRemoved = copy.discard();
    }
    return result;
}

}  // namespace kw
