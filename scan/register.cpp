#include "scan/register.h"

#include "core/eventlog.h"
#include "core/files.h"
#include "core/germanformat.h"
#include "platform/filemove.h"
#include "platform/fs.h"
#include "platform/textcodec.h"

#include <QCoreApplication>

namespace kw {
namespace {

QString escapeLineBreaks(const QString& path) {
    if (!path.contains(QLatin1Char('\\')) && !path.contains(QLatin1Char('\r')) &&
        !path.contains(QLatin1Char('\n')))
        return path;
    QString escaped;
    escaped.reserve(path.size() + 8);
    for (QChar c : path) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    return escaped;
}

}  // namespace

QString CopyKey(const QString& sourcePath, qint64 size, const QDateTime& created) {
    return escapeLineBreaks(sourcePath) + QChar(u'\0') + QString::number(size) + QChar(u'\0') +
           generalDateTimeText(created);
}

QString CopyKeySourcePath(const QString& key) {
    const qsizetype end = key.indexOf(QChar(u'\0'));
    const QStringView field = QStringView(key).first(end < 0 ? key.size() : end);
    QString path;
    path.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar next = i + 1 < field.size() ? field[i + 1] : QChar();
        if (field[i] != QLatin1Char('\\') || !QStringView(u"\\rn").contains(next)) {
            path += field[i];
            continue;
        }
        path += next == QLatin1Char('r')   ? QLatin1Char('\r')
                : next == QLatin1Char('n') ? QLatin1Char('\n')
                                           : QLatin1Char('\\');
        ++i;
    }
    return path;
}

bool AppendToFile(const QString& path, const QString& text) {
    // A register this run could not read is left as it is, not added to.
    if (UnreadableDataFileError(path) != 0)
        return false;
    QByteArray bytes = encodeLocal(text);
    bytes.append(kCrLf);
    return fs::append(path, bytes) == 0;
}

fs::NameResult DeleteSource(EventLog& log, fs::HeldSource& source, bool alreadyCopied) {
    QString text = alreadyCopied ? QStringLiteral("Trying to Delete '")
                                 : QStringLiteral("Source allready exist - Trying to Delete '");
    text += source.path() + QLatin1String("' ");
    const fs::NameResult result = source.removeName();
    switch (result) {
        case fs::NameResult::Done:
            text += QLatin1String(".....Success");
            break;
        case fs::NameResult::Gone:
            text += QLatin1String(".....Source dont't exist.");
            break;
        case fs::NameResult::Changed:
        case fs::NameResult::OpenedForWriting:
            // A file written to or put under the name meanwhile is a new file for the next tick.
            text += QLatin1String(".....Source changed, kept.");
            break;
        case fs::NameResult::FolderChanged:
            text += QLatin1String(".....Source kept, the watched folder is no longer there.");
            break;
        default:
            text += QLatin1String(".....Can't delete Source !");
            break;
    }
    log.WriteLog(text);
    return result;
}

QString StatisticsCaption(qint64 savedFileCount, double savedMegabytes) {
    // The megabytes carry the decimal sign of the language shown; the German one is the comma
    // decimalText writes.
    QString megabytes = decimalText(savedMegabytes);
    megabytes.replace(QLatin1Char(','),
                      QCoreApplication::translate("kw::Statistics", ",", "decimal sign"));
    return (savedFileCount == 1
                ? QCoreApplication::translate("kw::Statistics", "%1 Gesicherte Datei (%2 MB)")
                : QCoreApplication::translate("kw::Statistics", "%1 Gesicherte Dateien (%2 MB)"))
        .arg(QString::number(savedFileCount), megabytes);
}

}  // namespace kw
