#include "p2p/entries.h"

#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"
#include "platform/fs.h"

namespace kw {

const std::array<P2PEntry, 3>& BuiltInP2PEntries() {
    static const std::array<P2PEntry, 3> entries{{
        {QStringLiteral("Overnet"), QStringLiteral("Overnet")},
        {QStringLiteral("eDonkey 2000 >= v1.0"), QStringLiteral("QWidget")},
        {QStringLiteral("eDonkey 2000 <= v.053"), QStringLiteral("eDonkey2000")},
    }};
    return entries;
}

std::optional<P2PEntry> ParseUserP2PEntry(const QString& line) {
    const qsizetype separator = line.indexOf(QChar(0));
    if (separator <= 0)
        return std::nullopt;
    QString windowClass = line.mid(separator + 1);
    if (const qsizetype end = windowClass.indexOf(QChar(0)); end >= 0)
        windowClass.truncate(end);
    return P2PEntry{line.left(separator), windowClass};
}

QString PlainCaption(const QString& caption) {
    QString plain = caption;
    for (QChar& c : plain) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return plain;
}

QString UserP2PEntryText(const P2PEntry& entry) {
    return PlainCaption(entry.DisplayName) + QChar(0) + PlainCaption(entry.WindowClass);
}

void SaveUserP2PList(const AppData& data, EventLog& log) {
    log.WriteLog(QStringLiteral("Writing User Tasklist..."));
    // The entry stays in memory and is written with the next save.
    if (const int result = SaveListFile(data.UserP2PList, data.My.UserP2PListFile); result != 0)
        log.WriteLog(QLatin1String("Error writing '") + data.My.UserP2PListFile +
                     QLatin1String("': ") + fs::errorText(result));
}

}  // namespace kw
