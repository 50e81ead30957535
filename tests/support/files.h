#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

namespace kw::test {

// Files by their byte names (Qt's file classes would mangle names that are not UTF-8).
QByteArray bytesOf(const QString& path);       // empty when it cannot be read
QStringList entriesOf(const QString& folder);  // hidden ones included, sorted
struct stat statOf(const QString& path);       // not following a link; all zero when there is none

// count bytes without a repeating pattern, so that a misplaced chunk shows; seed picks the pattern.
QByteArray patternBytes(qint64 count, quint32 seed = 1);
// size bytes of file i: the pattern with i at its start, so a file that arrived as another's shows.
QByteArray ownBytes(int i, qint64 size);

// Made beside the file's folder and renamed in, as a finished download arrives (a file written in
// place waits out the quiet time); written in place where no rename can bring it.
void writeBytes(const QString& path, const QByteArray& bytes);
void makeFile(const QString& path, const QByteArray& bytes, unsigned mode = 0644);  // in place
void writeProgram(const QString& path, const QByteArray& script = "#!/bin/sh\n");   // executable

}  // namespace kw::test
