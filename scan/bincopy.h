#pragma once

#include "platform/filecopy.h"

#include <QString>

#include <functional>

namespace kw {

class Desktop;

// The copy moves this many bytes between two updates of its progress window.
inline constexpr qint64 kCopyChunk = 1'024'000;

// What a copy leaves for its caller to report.
struct CopyReport {
    qint64 bytes = 0;            // bytes copied, the whole source on success
    QString partialFile;         // the temporary file this copy wrote, empty when it made none
    bool partialRemoved = true;  // false when that file is still there
};

// Copies source into destinationFolder (created with its parents when missing) under the
// source's own name. The bytes go into a hidden temporary file in that folder, which gets the
// real name only when the whole, unchanged source is on disk; any failure removes it and
// nothing else. With showProgress a progress window shows caption, the paths and the bytes
// done; after every chunk keepGoing (when given) may stop the copy. No events run inside a copy:
// jobs for the file work wait for the end of the pass. An existing destination file is left
// alone, also one that appears while the copy runs.
// The cycle's copy of a file it holds open (and leased where it could be) into the destination
// folder it holds open: the copy reads from that very file and stands back, with
// SourceOpenedForWriting, as soon as a program opens it for writing; it is made in that very
// folder, which is never created; and on success it is left complete under its
// temporary name in unnamed, for the caller to name together with others after one flush for them
// all.
struct HeldCopy {
    const fs::HeldSource& source;
    const fs::HeldFolder& folder;
    fs::StagedCopy& unnamed;
};
fs::CopyResult BinCopy(Desktop& desktop, const QString& source, const QString& destinationFolder,
                       bool showProgress, const QString& caption, CopyReport* report = nullptr,
                       const std::function<bool()>& keepGoing = {}, const HeldCopy* held = nullptr);

}  // namespace kw
