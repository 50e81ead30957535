#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kw {

// Every destination folder this installation has used, each with the mount point its file
// system had when the folder was last seen, and the mark that names this installation's
// temporary copies. One list file: the mark on the first line, then one line per folder:
// path, NUL, mount point.
class UsedDestinations {
public:
    // Loads file; without a valid mark there a new one is made and the file written.
    void load(const QString& file);
    const QString& file() const { return m_file; }
    const QByteArray& mark() const { return m_mark; }
    // The mount point recorded for folder; empty when the folder was never seen.
    QString mountPointOf(const QString& folder) const;
    // Records that folder lies on the file system mounted at mountPoint; writes the file only
    // when that is news.
    void record(const QString& folder, const QString& mountPoint);
    QStringList folders() const;

private:
    void save() const;

    struct Entry {
        QString folder;
        QString mountPoint;
    };
    QString m_file;
    QByteArray m_mark;
    QList<Entry> m_entries;
};

}  // namespace kw
