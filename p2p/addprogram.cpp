#include "p2p/addprogram.h"

#include "core/desktop.h"
#include "core/files.h"
#include "core/settings.h"
#include "core/textarray.h"
#include "p2p/entries.h"

#include <QCoreApplication>

#include <algorithm>

namespace kw {
namespace {

// Refuses, with the message, a name the user's list has already.
bool refusedAsDuplicate(const QString& name, const AppData& data, Desktop& desktop) {
    if (!data.UserP2PList)
        return false;
    for (const QString& text : *data.UserP2PList) {
        if (text.left(text.indexOf(QChar(0))).compare(name, Qt::CaseInsensitive) == 0) {
            desktop.ShowMessage(
                QCoreApplication::translate("kw::AddProgram", "Fehler"),
                QCoreApplication::translate("kw::AddProgram",
                                            "Das Programm '%1' befindet sich bereits in deiner "
                                            "Liste !")
                    .arg(name),
                MB_ICONERROR);
            return true;
        }
    }
    return false;
}

AddOutcome reportVanished(const QString& name, Desktop& desktop) {
    desktop.ShowMessage(
        QCoreApplication::translate("kw::AddProgram", "Fehler"),
        QCoreApplication::translate("kw::AddProgram", "'%1' wurde nicht gefunden (?\?\?)")
                .arg(name) +
            kCrLfText +
            QCoreApplication::translate("kw::AddProgram", "Bitte ein anderes Programm wählen."),
        MB_ICONERROR);
    return AddOutcome::Vanished;
}

// Asks with the question's details and, on Yes, appends the entry and saves the list.
AddOutcome confirmAndAdd(const P2PEntry& entry, const QString& details, AppData& data,
                         EventLog& log, Desktop& desktop) {
    const QString crLf = kCrLfText;
    const QString question =
        QCoreApplication::translate("kw::AddProgram", "Soll das Programm") + crLf + crLf +
        QLatin1String("Name: ") + entry.DisplayName + crLf + details + crLf + crLf +
        QCoreApplication::translate("kw::AddProgram", "als P2P-Programm eingetragen werden ?") +
        crLf;
    const int answer =
        desktop.ShowMessage(QCoreApplication::translate("kw::AddProgram", "Hinzufügen"), question,
                            MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer != IDYES)
        return AddOutcome::Declined;
    AddArray(data.UserP2PList, UserP2PEntryText(entry));
    SaveUserP2PList(data, log);
    return AddOutcome::Added;
}

}  // namespace

std::vector<ListedWindow> ListableWindows(WindowSearch& search, const OwnWindowTest& isOwnWindow) {
    std::vector<ListedWindow> lines;
    for (const TopWindow& window : search.ListTopWindows()) {
        if (!search.IsWindowVisible(window.id))
            continue;
        const QString caption = search.GetWindowCaption(window.id);
        if (caption.isEmpty() || caption == QLatin1String("Program Manager") ||
            (isOwnWindow && isOwnWindow(window.id, caption)))
            continue;
        lines.push_back({PlainCaption(caption), window.id});
    }
    return lines;
}

std::vector<UserProcess> ListableProcesses(qint64 ownId) {
    std::vector<UserProcess> lines;
    for (const UserProcess& process : ListUserProcesses().value_or(std::vector<UserProcess>{})) {
        const QString& key = process.executable.isEmpty() ? process.name : process.executable;
        const bool listed =
            std::any_of(lines.begin(), lines.end(), [&key](const UserProcess& line) {
                return (line.executable.isEmpty() ? line.name : line.executable) == key;
            });
        if (process.id != ownId && !listed)
            lines.push_back(process);
    }
    std::sort(lines.begin(), lines.end(), [](const UserProcess& a, const UserProcess& b) {
        const int folded = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a.executable < b.executable;
    });
    return lines;
}

AddOutcome AddP2PProgram(const ListedWindow& line, WindowSearch& search, AppData& data,
                         EventLog& log, Desktop& desktop) {
    if (refusedAsDuplicate(line.caption, data, desktop))
        return AddOutcome::Duplicate;
    const std::optional<QString> windowClass = search.GetWindowClassName(line.window);
    if (!windowClass)
        return reportVanished(line.caption, desktop);
    return confirmAndAdd({line.caption, *windowClass},
                         QLatin1String("Class : ") + *windowClass + kCrLfText +
                             QLatin1String("hWdn: ") + QString::number(qint32(line.window)),
                         data, log, desktop);
}

AddOutcome AddP2PProgram(const UserProcess& line, AppData& data, EventLog& log, Desktop& desktop) {
    if (refusedAsDuplicate(line.name, data, desktop))
        return AddOutcome::Duplicate;
    const auto processes = ListUserProcesses().value_or(std::vector<UserProcess>{});
    const bool running =
        std::any_of(processes.begin(), processes.end(),
                    [&line](const UserProcess& process) { return process.name == line.name; });
    if (!running)
        return reportVanished(line.name, desktop);
    return confirmAndAdd({line.name, line.name},
                         QCoreApplication::translate("kw::AddProgram", "Programm : ") +
                             line.executable + kCrLfText + QLatin1String("PID: ") +
                             QString::number(line.id),
                         data, log, desktop);
}

}  // namespace kw
