#include "scan/record.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/settings.h"
#include "scan/register.h"

namespace kw {
Record::Record(AppData& data, const Settings& my, EventLog& log, Desktop& desktop)
    : m_data(data), m_my(my), m_log(log), m_desktop(desktop) {}

void Record::recordMove(const QString& soundFile, const QString& sourcePath,
                        const QString& destinationPath, qint64 size, const QDateTime& created) {
    const Settings& my = m_my;
    const QString key = CopyKey(sourcePath, size, created);
    if (!soundFile.isEmpty())
        m_desktop.PlaySoundFile(1, soundFile);
    // The file is safe in the destination either way, and a register hit alone deletes nothing,
    // so a register that cannot be written costs only its line; that must not go unnoticed.
    if (!AppendToFile(my.CopyListFile, key))
        m_log.WriteLog(QLatin1String("Can't write '") + sourcePath +
                       QLatin1String("' into the register '") + my.CopyListFile +
                       QLatin1Char('\''));
    m_data.CopiedFiles.append(key);
    Q_EMIT moveRecorded(destinationPath, size);
}

}  // namespace kw
