#include "core/inifile.h"

#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"

#include <QStringList>

#include <optional>

namespace kw {
namespace {

// The file's lines; nullopt when it exists but cannot be read, which is noted as unreadable.
std::optional<QStringList> readLines(const QString& file) {
    int error = 0;
    const auto bytes = fs::readAll(file, &error);
    if (!bytes && fs::problemOf(error) != fs::Problem::Missing) {
        NoteUnreadableDataFile(file, error);
        return std::nullopt;
    }
    if (!bytes || bytes->isEmpty())
        return QStringList{};
    QString text = decodeLocal(*bytes);
    text.replace(QLatin1String(kCrLf), QLatin1String("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

// The section name of a "[name]" line, or a null string for any other line.
QString sectionName(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.size() < 2 || !trimmed.startsWith(QLatin1Char('[')) ||
        !trimmed.endsWith(QLatin1Char(']')))
        return {};
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

bool isKeyLine(const QString& line, const QString& key, QString* value) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0 || line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value)
        *value = line.mid(equals + 1).trimmed();
    return true;
}

struct SectionSpan {
    qsizetype header = -1;  // index of the "[name]" line
    qsizetype end = -1;     // index after its last line
};

SectionSpan findSection(const QStringList& lines, const QString& section) {
    SectionSpan span;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = sectionName(lines[i]);
        if (name.isNull())
            continue;
        if (span.header >= 0) {
            span.end = i;
            return span;
        }
        if (name.compare(section, Qt::CaseInsensitive) == 0)
            span.header = i;
    }
    if (span.header >= 0)
        span.end = lines.size();
    return span;
}

}  // namespace

QString ReadIniValue(const QString& file, const QString& section, const QString& key) {
    const QStringList lines = readLines(file).value_or(QStringList());
    const SectionSpan span = findSection(lines, section);
    for (qsizetype i = span.header + 1; span.header >= 0 && i < span.end; ++i) {
        QString value;
        if (isKeyLine(lines[i], key, &value))
            return value;
    }
    return {};
}

bool WriteIniValue(const QString& file, const QString& section, const QString& key,
                   const QString& value) {
    QString stored = value;
    // A line break inside a value would start a line of its own in the file.
    stored.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString keyLine = key + QLatin1Char('=') + stored;

    // A file that could not be read would be replaced by this one key.
    if (UnreadableDataFileError(file) != 0)
        return false;
    const std::optional<QStringList> read = readLines(file);
    if (!read)
        return false;
    QStringList lines = *read;
    const SectionSpan span = findSection(lines, section);
    if (span.header < 0) {
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(keyLine);
    } else {
        qsizetype insertAt = span.end;
        // New keys go after the section's last non-empty line, not after a blank separator.
        while (insertAt > span.header + 1 && lines[insertAt - 1].trimmed().isEmpty())
            --insertAt;
        bool replaced = false;
        for (qsizetype i = span.header + 1; i < span.end; ++i) {
            if (isKeyLine(lines[i], key, nullptr)) {
                // Only the value changes; the key keeps its spelling.
                lines[i] = lines[i].left(lines[i].indexOf(QLatin1Char('=')) + 1) + stored;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            lines.insert(insertAt, keyLine);
    }
    QByteArray bytes = encodeLocal(lines.join(QLatin1String(kCrLf)));
    bytes.append(kCrLf);
    return fs::replaceAtomically(file, bytes) == 0;
}

}  // namespace kw
