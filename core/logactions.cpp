#include "core/logactions.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"

#include <QCoreApplication>

namespace kw {
namespace {

void deleteAndLog(EventLog& log, const QString& path) {
    const int result = DeleteFileForced(path);
    log.WriteLog((result == 0 ? QLatin1String("Deleted ") : QLatin1String("File not found ")) +
                 path);
}

}  // namespace

void ClearDebugWindow(EventLog& log, DebugWindow& window) {
    window.clearLines();
    log.WriteLog(QStringLiteral("Clearing DebugWindow"));
}

void DeleteLogs(EventLog& log, const Settings& my, Desktop& desktop) {
    // Lines a running tick still holds were written before the deletion: they go with the old
    // log, and the new one starts with the deletion.
    log.flush();
    deleteAndLog(log, my.Log);
    deleteAndLog(log, my.CopyListFile);
    desktop.ShowMessage(
        QCoreApplication::translate("kw::LogActions", "Logs Deleted"),
        QCoreApplication::translate("kw::LogActions", "Programm-Logdateien wurden gelöscht !"),
        MB_ICONINFORMATION);
}

void ShowLog(const Settings& my, Desktop& desktop) {
    desktop.OpenTextFile(my.Log);
}

}  // namespace kw
