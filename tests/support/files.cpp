#include "tests/support/files.h"

#include "platform/fs.h"
#include "platform/textcodec.h"

#include <QRandomGenerator>

#include <cstdio>

namespace kw::test {

QByteArray bytesOf(const QString& path) {
    return fs::readAll(path).value_or(QByteArray());
}

QStringList entriesOf(const QString& folder) {
    QStringList names = fs::namesStartingWith(folder, QString());
    names.removeIf([](const QString& name) { return name == "." || name == ".."; });
    names.sort();
    return names;
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(encodeLocal(path).constData(), &st);
    return st;
}

QByteArray patternBytes(qint64 count, quint32 seed) {
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

QByteArray ownBytes(int i, qint64 size) {
    QByteArray bytes = patternBytes(size);
    const QByteArray label = QByteArray::number(i).rightJustified(8, '#');
    bytes.replace(0, label.size(), label);
    return bytes;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
    const QString staged =
        folder.left(folder.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral(".staged");
    fs::removeFile(staged);
    if (fs::append(staged, bytes) == 0 &&
        ::rename(encodeLocal(staged).constData(), encodeLocal(path).constData()) == 0)
        return;
    fs::removeFile(staged);
    fs::removeFile(path);
    fs::append(path, bytes);
}

void makeFile(const QString& path, const QByteArray& bytes, unsigned mode) {
    fs::removeFile(path);
    fs::append(path, bytes);
    ::chmod(encodeLocal(path).constData(), mode);
}

void writeProgram(const QString& path, const QByteArray& script) {
    makeFile(path, script, 0755);
}

}  // namespace kw::test
