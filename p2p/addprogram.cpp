#include "p2p/addprogram.h"

#include "core/desktop.h"
#include "core/files.h"
#include "core/settings.h"
#include "core/textarray.h"
#include "p2p/entries.h"

namespace kw {

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

AddOutcome AddP2PProgram(const ListedWindow& line, WindowSearch& search, AppData& data,
                         EventLog& log, Desktop& desktop) {
    const QString crLf = kCrLfText;
    const QString& caption = line.caption;
    if (data.UserP2PList) {
        for (const QString& text : *data.UserP2PList) {
            const QString name = text.left(text.indexOf(QChar(0)));
            if (name.compare(caption, Qt::CaseInsensitive) == 0) {
                desktop.ShowMessage(QStringLiteral("Fehler"),
                                    QLatin1String("Das Programm '") + caption +
                                        QLatin1String("' befindet sich bereits in deiner Liste !"),
                                    MB_ICONERROR);
                return AddOutcome::Duplicate;
            }
        }
    }
    const std::optional<QString> windowClass = search.GetWindowClassName(line.window);
    if (!windowClass) {
        desktop.ShowMessage(QStringLiteral("Fehler"),
                            QLatin1Char('\'') + caption +
                                QLatin1String("' wurde nicht gefunden (?\?\?)") + crLf +
                                QStringLiteral("Bitte ein anderes Programm wählen."),
                            MB_ICONERROR);
        return AddOutcome::Vanished;
    }
    const QString question = QLatin1String("Soll das Programm") + crLf + crLf +
                             QLatin1String("Name: ") + caption + crLf + QLatin1String("Class : ") +
                             *windowClass + crLf + QLatin1String("hWdn: ") +
                             QString::number(qint32(line.window)) + crLf + crLf +
                             QStringLiteral("als P2P-Programm eingetragen werden ?") + crLf;
    const int answer = desktop.ShowMessage(QStringLiteral("Hinzufügen"), question,
                                           MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer != IDYES)
        return AddOutcome::Declined;
    AddArray(data.UserP2PList, UserP2PEntryText({caption, *windowClass}));
    SaveUserP2PList(data, log);
    return AddOutcome::Added;
}

}  // namespace kw
