#include "platform/shell.h"

#include "platform/fs.h"
#include "platform/pathname.h"
#include "platform/qtboundary.h"
#include "platform/spawn.h"
#include "platform/textcodec.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <unistd.h>

namespace kw {

namespace {

// "https:", "mailto:" and the like; two letters at least, so "C:" stays a (foreign) path.
bool isAddress(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return !text.startsWith(QLatin1Char('/')) && scheme.match(text).hasMatch();
}

QString localPath(const QString& path) {
    return path.startsWith(QLatin1Char('/')) ? path : QDir::currentPath() + QLatin1Char('/') + path;
}

}  // namespace

bool IsProgramFile(const QString& path) {
    if (path.isEmpty())
        return false;
    const auto facts = fs::factsFollowingLinks(path);
    return facts && facts->kind == fs::Kind::Regular &&
           ::access(encodeLocal(path).constData(), X_OK) == 0;
}

void ShellOpen(const QString& file, const QString& parameters) {
    if (file.isEmpty())
        return;
    if (isAddress(file)) {
        QDesktopServices::openUrl(QUrl(file, QUrl::TolerantMode));
        return;
    }
    if (IsProgramFile(file)) {
        // Arguments go straight to the program: blanks, quotes and ";" in them stay text.
        StartDetached(file, QProcess::splitCommand(parameters), PathName(file).folder().text());
        return;
    }
    QDesktopServices::openUrl(urlFromPath(file));
}

void OpenDocument(const QString& path) {
    if (path.isEmpty())
        return;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty() && StartDetached(opener, {localPath(path)}, QString()))
        return;
    QDesktopServices::openUrl(urlFromPath(path));
}

void OpenFolder(const QString& path) {
    if (!path.isEmpty())
        QDesktopServices::openUrl(urlFromPath(path));
}

void OpenTextFileInViewer(const QString& path) {
    if (!path.isEmpty())
        QDesktopServices::openUrl(urlFromPath(path));
}

}  // namespace kw
