#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

namespace kw::test {

// Files by their byte names (Qt's file classes would mangle names that are not UTF-8).

// The file's bytes; empty when it cannot be read.
QByteArray bytesOf(const QString& path);
// Every entry of folder, hidden ones included, sorted.
QStringList entriesOf(const QString& folder);
// The file's status, not following a link; all zero when there is none.
struct stat statOf(const QString& path);

// count bytes without a repeating pattern, so that a misplaced chunk shows; seed picks the pattern.
QByteArray patternBytes(qint64 count, quint32 seed = 1);
// size bytes of file i: the pattern with i at its start, so a file that arrived as another's shows.
QByteArray ownBytes(int i, qint64 size);

// Made beside the file's folder and renamed in, as a finished download arrives: a file written in
// a watched folder waits out the quiet time. Written in place where no rename can bring it.
void writeBytes(const QString& path, const QByteArray& bytes);
// A file written in place with the given mode.
void makeFile(const QString& path, const QByteArray& bytes, unsigned mode = 0644);
// An executable shell script at path.
void writeProgram(const QString& path, const QByteArray& script = "#!/bin/sh\n");

}  // namespace kw::test
