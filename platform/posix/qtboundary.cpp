#include "platform/qtboundary.h"

#include "platform/fs.h"
#include "platform/textcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>
#include <climits>

namespace kw {
namespace {

constexpr QChar kReplacement = QChar::ReplacementCharacter;

// The name in folder that Qt shows as qtName; empty when there is none or more than one.
QString nameShownAs(const QString& folder, const QString& qtName) {
    QString found;
    int matches = 0;
    for (const QString& name : fs::namesStartingWith(folder, QString())) {
        if (QFile::decodeName(encodeLocal(name)) == qtName) {
            found = name;
            ++matches;
        }
    }
    return matches == 1 ? found : QString();
}

}  // namespace

QString pathFromQt(const QString& qtPath) {
    if (!qtPath.contains(kReplacement))
        return qtPath;
    const QStringList parts = qtPath.split(QLatin1Char('/'));
    QString path = parts.first();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString part = parts[i];
        if (part.contains(kReplacement)) {
            const QString folder = path.isEmpty() && qtPath.startsWith(QLatin1Char('/'))
                                       ? QStringLiteral("/")
                                       : (path.isEmpty() ? QStringLiteral(".") : path);
            part = nameShownAs(folder, part);
            if (part.isEmpty())
                return {};
        }
        path += QLatin1Char('/') + part;
    }
    return path;
}

QString pathFromUrl(const QUrl& url) {
    if (!url.isLocalFile())
        return {};
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    return pathFromQt(decodeLocal(QByteArray::fromPercentEncoding(encoded)));
}

QUrl urlFromPath(const QString& path) {
    const QString absolute =
        path.startsWith(QLatin1Char('/')) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    return QUrl::fromEncoded(QByteArrayLiteral("file://") +
                             encodeLocal(absolute).toPercentEncoding("/"));
}

QString environmentPath(const char* name) {
    return decodeLocal(qgetenv(name));
}

QString homeFolder() {
    const QString home = environmentPath("HOME");
    return home.startsWith(QLatin1Char('/')) ? home : pathFromQt(QDir::homePath());
}

QString programFilePath() {
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0 || length >= ssize_t(sizeof target))
        return pathFromQt(QCoreApplication::applicationFilePath());
    QString path = decodeLocal(QByteArrayView(target, length));
    // An executable replaced while it runs (a package upgrade) is reported with this suffix; its
    // data folder and lock still belong to the name it was started under.
    const QLatin1String deleted(" (deleted)");
    if (path.endsWith(deleted) && !fs::facts(path))
        path.chop(deleted.size());
    return path;
}

}  // namespace kw
