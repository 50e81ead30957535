#include "ui/problemnotifier.h"

#include "core/eventlog.h"
#include "platform/notifications.h"

#include <QPointer>

namespace kw {
namespace {

Problems ofKind(const Problems& problems, ProblemKind kind) {
    Problems found;
    for (const Problem& problem : problems) {
        if (problem.kind == kind)
            found.append(problem);
    }
    return found;
}

QList<ProblemKind> kindsOf(const Problems& problems) {
    QList<ProblemKind> kinds;
    for (const Problem& problem : problems) {
        if (!kinds.contains(problem.kind))
            kinds.append(problem.kind);
    }
    return kinds;
}

QString quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// "'a'" for one file, "'a' und 2 weitere Dateien" for three.
QString filesNamed(const Problems& problems) {
    if (problems.isEmpty())
        return QString();
    const QString first = quoted(problems.first().subject);
    const qsizetype more = problems.size() - 1;
    if (more == 0)
        return first;
    return first + QStringLiteral(" und ") + QString::number(more) +
           (more == 1 ? QStringLiteral(" weitere Datei") : QStringLiteral(" weitere Dateien"));
}

// As the subject of a sentence: "Die Datei 'a'", or "'a' und 2 weitere Dateien".
QString filesSubject(const Problems& problems) {
    return problems.size() == 1 ? QStringLiteral("Die Datei ") + filesNamed(problems)
                                : filesNamed(problems);
}

QString folderNamed(const Problems& problems) {
    return problems.isEmpty() ? QString() : quoted(problems.first().subject);
}

}  // namespace

QString ProblemTitle(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QStringLiteral("Zielverzeichnis nicht erreichbar");
        case ProblemKind::DestinationNotAnswering:
            return QStringLiteral("Zielverzeichnis antwortet nicht");
        case ProblemKind::NoSpace:
            return QStringLiteral("Zielverzeichnis voll");
        case ProblemKind::NoQuota:
            return QStringLiteral("Kontingent erschöpft");
        case ProblemKind::NoEntries:
            return QStringLiteral("Keine freien Dateieinträge");
        case ProblemKind::NoPermission:
            return QStringLiteral("Keine Schreibrechte im Zielverzeichnis");
        case ProblemKind::NameRefused:
            return QStringLiteral("Zielverzeichnis lehnt Dateien ab");
        case ProblemKind::SettingsUnreadable:
            return QStringLiteral("Einstellungen nicht lesbar");
    }
    return QString();
}

QString ProblemStartText(ProblemKind kind, const Problems& problems) {
    const bool one = problems.size() == 1;
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QStringLiteral("Das Zielverzeichnis ") + folderNamed(problems) +
                   QStringLiteral(
                       " ist nicht eingehängt. Die Dateien warten, bis es wieder da ist.");
        case ProblemKind::DestinationNotAnswering:
            return QStringLiteral("Das Zielverzeichnis ") + folderNamed(problems) +
                   QStringLiteral(" antwortet nicht. Die Dateien warten.");
        case ProblemKind::NoSpace:
            return QStringLiteral("Für ") + filesNamed(problems) +
                   QStringLiteral(" ist im Zielverzeichnis nicht genug Platz. ") +
                   (one ? QStringLiteral("Sie bleibt") : QStringLiteral("Sie bleiben")) +
                   QStringLiteral(" im überwachten Verzeichnis, bis Platz frei wird.");
        case ProblemKind::NoQuota:
            return QStringLiteral("Ihr Speicherkontingent im Zielverzeichnis ist erschöpft. ") +
                   filesNamed(problems) +
                   (one ? QStringLiteral(" bleibt") : QStringLiteral(" bleiben")) +
                   QStringLiteral(" im überwachten Verzeichnis, bis Platz frei wird.");
        case ProblemKind::NoEntries:
            return QStringLiteral(
                       "Das Dateisystem des Zielverzeichnisses hat keine freien "
                       "Dateieinträge mehr. ") +
                   filesNamed(problems) +
                   (one ? QStringLiteral(" bleibt") : QStringLiteral(" bleiben")) +
                   QStringLiteral(" im überwachten Verzeichnis, bis Dateien gelöscht werden.");
        case ProblemKind::NoPermission:
            return filesSubject(problems) +
                   (one ? QStringLiteral(" darf") : QStringLiteral(" dürfen")) +
                   QStringLiteral(
                       " nicht ins Zielverzeichnis geschrieben werden. Bitte prüfen "
                       "Sie dessen Rechte.");
        case ProblemKind::NameRefused:
            return QStringLiteral("Das Zielverzeichnis nimmt ") + filesNamed(problems) +
                   QStringLiteral(" nicht an (Name, Namenslänge oder Größe). ") +
                   (one ? QStringLiteral("Sie bleibt") : QStringLiteral("Sie bleiben")) +
                   QStringLiteral(" im überwachten Verzeichnis.");
        case ProblemKind::SettingsUnreadable:
            return filesSubject(problems) +
                   (one ? QStringLiteral(" kann") : QStringLiteral(" können")) +
                   QStringLiteral(
                       " nicht gelesen werden. Kopierwart arbeitet ohne diese "
                       "Einstellungen.");
    }
    return QString();
}

QString ProblemEndTitle(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QStringLiteral("Zielverzeichnis wieder erreichbar");
        case ProblemKind::DestinationNotAnswering:
            return QStringLiteral("Zielverzeichnis antwortet wieder");
        case ProblemKind::NoSpace:
            return QStringLiteral("Zielverzeichnis hat wieder Platz");
        case ProblemKind::NoQuota:
            return QStringLiteral("Kontingent wieder frei");
        case ProblemKind::NoEntries:
            return QStringLiteral("Wieder freie Dateieinträge");
        case ProblemKind::NoPermission:
            return QStringLiteral("Schreibrechte wieder da");
        case ProblemKind::NameRefused:
            return QStringLiteral("Keine abgelehnte Datei mehr");
        case ProblemKind::SettingsUnreadable:
            return QStringLiteral("Einstellungen wieder lesbar");
    }
    return QString();
}

QString ProblemEndText(ProblemKind kind, const Problems& problems) {
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QStringLiteral("Das Zielverzeichnis ") + folderNamed(problems) +
                   QStringLiteral(" ist wieder da.");
        case ProblemKind::DestinationNotAnswering:
            return QStringLiteral("Das Zielverzeichnis ") + folderNamed(problems) +
                   QStringLiteral(" antwortet wieder.");
        case ProblemKind::NoSpace:
        case ProblemKind::NoQuota:
        case ProblemKind::NoEntries:
            return QStringLiteral("Keine Datei wartet mehr auf Platz im Zielverzeichnis.");
        case ProblemKind::NoPermission:
            return QStringLiteral("Keine Datei wartet mehr auf Schreibrechte im Zielverzeichnis.");
        case ProblemKind::NameRefused:
            return QStringLiteral("Keine Datei wartet mehr, weil das Zielverzeichnis sie ablehnt.");
        case ProblemKind::SettingsUnreadable:
            return filesSubject(problems) +
                   (problems.size() == 1 ? QStringLiteral(" kann") : QStringLiteral(" können")) +
                   QStringLiteral(" wieder gelesen werden.");
    }
    return QString();
}

ProblemNotifier::ProblemNotifier(Notifications& notifications, EventLog& log, QObject* parent)
    : QObject(parent), m_notifications(notifications), m_log(log) {
    qRegisterMetaType<kw::Problem>();
    qRegisterMetaType<kw::Problems>();
}

void ProblemNotifier::setProblems(const QString& source, const Problems& problems) {
    if (problems.isEmpty())
        m_bySource.remove(source);
    else
        m_bySource.insert(source, problems);
    Problems all;
    for (const Problems& found : std::as_const(m_bySource))
        all.append(found);
    if (all == m_all)
        return;
    const Problems before = std::exchange(m_all, all);
    const QList<ProblemKind> kindsBefore = kindsOf(before);
    const QList<ProblemKind> kindsNow = kindsOf(m_all);
    for (const ProblemKind kind : kindsBefore) {
        if (!kindsNow.contains(kind))
            notify(ProblemEndTitle(kind), ProblemEndText(kind, ofKind(before, kind)));
    }
    for (const ProblemKind kind : kindsNow) {
        if (!kindsBefore.contains(kind))
            notify(ProblemTitle(kind), ProblemStartText(kind, ofKind(m_all, kind)));
    }
    Q_EMIT problemsChanged(m_all);
}

void ProblemNotifier::notify(const QString& summary, const QString& body) {
    // Without a service the tray shows the problem and the log has the details.
    if (!m_notifications.serviceRunning())
        return;
    m_notifications.notify(summary, body, [self = QPointer(this), summary](const QString& reason) {
        if (self)
            self->m_log.WriteLog(QStringLiteral("The notification '") + summary +
                                 QStringLiteral("' was not shown: ") + reason);
    });
}

}  // namespace kw
