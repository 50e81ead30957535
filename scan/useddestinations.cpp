#include "scan/useddestinations.h"

#include "core/files.h"

#include <QRandomGenerator>

namespace kw {
namespace {

const QChar kSeparator(u'\0');

bool isMark(const QString& line) {
    if (line.size() != 16)
        return false;
    for (QChar c : line) {
        if (!c.isDigit() && (c < QLatin1Char('a') || c > QLatin1Char('f')))
            return false;
    }
    return true;
}

}  // namespace

void UsedDestinations::load(const QString& file) {
    m_file = file;
    m_mark.clear();
    m_entries.clear();
    const QStringList lines = LoadListFile(file).value_or(QStringList());
    for (const QString& line : lines) {
        const qsizetype separator = line.indexOf(kSeparator);
        if (separator > 0)
            m_entries.append({line.left(separator), line.mid(separator + 1)});
    }
    if (!lines.isEmpty() && isMark(lines.first())) {
        m_mark = lines.first().toLatin1();
        return;
    }
    m_mark =
        QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    save();
}

QString UsedDestinations::mountPointOf(const QString& folder) const {
    for (const Entry& entry : m_entries) {
        if (entry.folder == folder)
            return entry.mountPoint;
    }
    return {};
}

void UsedDestinations::record(const QString& folder, const QString& mountPoint) {
    if (folder.isEmpty() || mountPoint.isEmpty())
        return;
    for (Entry& entry : m_entries) {
        if (entry.folder != folder)
            continue;
        if (entry.mountPoint == mountPoint)
            return;
        entry.mountPoint = mountPoint;
        save();
        return;
    }
    m_entries.append({folder, mountPoint});
    save();
}

QStringList UsedDestinations::folders() const {
    QStringList folders;
    for (const Entry& entry : m_entries)
        folders.append(entry.folder);
    return folders;
}

void UsedDestinations::save() const {
    QStringList lines{QString::fromLatin1(m_mark)};
    for (const Entry& entry : m_entries)
        lines.append(entry.folder + kSeparator + entry.mountPoint);
    SaveListFile(lines, m_file);
}

}  // namespace kw
