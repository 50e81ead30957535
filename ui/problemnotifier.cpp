#include "ui/problemnotifier.h"

#include "core/eventlog.h"
#include "platform/notifications.h"

#include <QCoreApplication>
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
    return (more == 1 ? QCoreApplication::translate("kw::Problems", "%1 und %2 weitere Datei")
                      : QCoreApplication::translate("kw::Problems", "%1 und %2 weitere Dateien"))
        .arg(first, QString::number(more));
}

// As the subject of a sentence: "Die Datei 'a'", or "'a' und 2 weitere Dateien".
QString filesSubject(const Problems& problems) {
    return problems.size() == 1 ? QCoreApplication::translate("kw::Problems", "Die Datei %1")
                                      .arg(filesNamed(problems))
                                : filesNamed(problems);
}

QString folderNamed(const Problems& problems) {
    return problems.isEmpty() ? QString() : quoted(problems.first().subject);
}

// One sentence of two forms, for one file and for more, with the files or the folder put in.
QString sentence(bool one, const char* single, const char* plural, const QString& named) {
    return QCoreApplication::translate("kw::Problems", one ? single : plural).arg(named);
}

}  // namespace

QString ProblemTitle(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis nicht erreichbar");
        case ProblemKind::DestinationNotAnswering:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis antwortet nicht");
        case ProblemKind::NoSpace:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis voll");
        case ProblemKind::NoQuota:
            return QCoreApplication::translate("kw::Problems", "Kontingent erschöpft");
        case ProblemKind::NoEntries:
            return QCoreApplication::translate("kw::Problems", "Keine freien Dateieinträge");
        case ProblemKind::NoPermission:
            return QCoreApplication::translate("kw::Problems",
                                               "Keine Schreibrechte im Zielverzeichnis");
        case ProblemKind::NameRefused:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis lehnt Dateien ab");
        case ProblemKind::SettingsUnreadable:
            return QCoreApplication::translate("kw::Problems", "Einstellungen nicht lesbar");
    }
    return QString();
}

QString ProblemStartText(ProblemKind kind, const Problems& problems) {
    const bool one = problems.size() == 1;
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QCoreApplication::translate(
                       "kw::Problems",
                       "Das Zielverzeichnis %1 ist nicht eingehängt. Die Dateien warten, bis es "
                       "wieder da ist.")
                .arg(folderNamed(problems));
        case ProblemKind::DestinationNotAnswering:
            return QCoreApplication::translate(
                       "kw::Problems",
                       "Das Zielverzeichnis %1 antwortet nicht. Die Dateien warten.")
                .arg(folderNamed(problems));
        case ProblemKind::NoSpace:
            return sentence(
                one,
                QT_TRANSLATE_NOOP("kw::Problems",
                                  "Für %1 ist im Zielverzeichnis nicht genug Platz. Sie "
                                  "bleibt im überwachten Verzeichnis, bis Platz frei "
                                  "wird."),
                QT_TRANSLATE_NOOP("kw::Problems",
                                  "Für %1 ist im Zielverzeichnis nicht genug Platz. Sie "
                                  "bleiben im überwachten Verzeichnis, bis Platz frei "
                                  "wird."),
                filesNamed(problems));
        case ProblemKind::NoQuota:
            return sentence(one,
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "Ihr Speicherkontingent im Zielverzeichnis ist "
                                              "erschöpft. %1 bleibt im überwachten Verzeichnis, "
                                              "bis Platz frei wird."),
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "Ihr Speicherkontingent im Zielverzeichnis ist "
                                              "erschöpft. %1 bleiben im überwachten Verzeichnis, "
                                              "bis Platz frei wird."),
                            filesNamed(problems));
        case ProblemKind::NoEntries:
            return sentence(one,
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "Das Dateisystem des Zielverzeichnisses hat keine "
                                              "freien Dateieinträge mehr. %1 bleibt im "
                                              "überwachten Verzeichnis, bis Dateien gelöscht "
                                              "werden."),
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "Das Dateisystem des Zielverzeichnisses hat keine "
                                              "freien Dateieinträge mehr. %1 bleiben im "
                                              "überwachten Verzeichnis, bis Dateien gelöscht "
                                              "werden."),
                            filesNamed(problems));
        case ProblemKind::NoPermission:
            return sentence(one,
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "%1 darf nicht ins Zielverzeichnis geschrieben "
                                              "werden. Bitte prüfen Sie dessen Rechte."),
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "%1 dürfen nicht ins Zielverzeichnis geschrieben "
                                              "werden. Bitte prüfen Sie dessen Rechte."),
                            filesSubject(problems));
        case ProblemKind::NameRefused:
            return sentence(one,
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "Das Zielverzeichnis nimmt %1 nicht an (Name, "
                                              "Namenslänge oder Größe). Sie bleibt im überwachten "
                                              "Verzeichnis."),
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "Das Zielverzeichnis nimmt %1 nicht an (Name, "
                                              "Namenslänge oder Größe). Sie bleiben im "
                                              "überwachten Verzeichnis."),
                            filesNamed(problems));
        case ProblemKind::SettingsUnreadable:
            return sentence(one,
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "%1 kann nicht gelesen werden. Kopierwart arbeitet "
                                              "ohne diese Einstellungen."),
                            QT_TRANSLATE_NOOP("kw::Problems",
                                              "%1 können nicht gelesen werden. Kopierwart "
                                              "arbeitet ohne diese Einstellungen."),
                            filesSubject(problems));
    }
    return QString();
}

QString ProblemEndTitle(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis wieder erreichbar");
        case ProblemKind::DestinationNotAnswering:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis antwortet wieder");
        case ProblemKind::NoSpace:
            return QCoreApplication::translate("kw::Problems", "Zielverzeichnis hat wieder Platz");
        case ProblemKind::NoQuota:
            return QCoreApplication::translate("kw::Problems", "Kontingent wieder frei");
        case ProblemKind::NoEntries:
            return QCoreApplication::translate("kw::Problems", "Wieder freie Dateieinträge");
        case ProblemKind::NoPermission:
            return QCoreApplication::translate("kw::Problems", "Schreibrechte wieder da");
        case ProblemKind::NameRefused:
            return QCoreApplication::translate("kw::Problems", "Keine abgelehnte Datei mehr");
        case ProblemKind::SettingsUnreadable:
            return QCoreApplication::translate("kw::Problems", "Einstellungen wieder lesbar");
    }
    return QString();
}

QString ProblemEndText(ProblemKind kind, const Problems& problems) {
    switch (kind) {
        case ProblemKind::DestinationGone:
            return QCoreApplication::translate("kw::Problems",
                                               "Das Zielverzeichnis %1 ist wieder da.")
                .arg(folderNamed(problems));
        case ProblemKind::DestinationNotAnswering:
            return QCoreApplication::translate("kw::Problems",
                                               "Das Zielverzeichnis %1 antwortet wieder.")
                .arg(folderNamed(problems));
        case ProblemKind::NoSpace:
        case ProblemKind::NoQuota:
        case ProblemKind::NoEntries:
            return QCoreApplication::translate(
                "kw::Problems", "Keine Datei wartet mehr auf Platz im Zielverzeichnis.");
        case ProblemKind::NoPermission:
            return QCoreApplication::translate(
                "kw::Problems", "Keine Datei wartet mehr auf Schreibrechte im Zielverzeichnis.");
        case ProblemKind::NameRefused:
            return QCoreApplication::translate(
                "kw::Problems", "Keine Datei wartet mehr, weil das Zielverzeichnis sie ablehnt.");
        case ProblemKind::SettingsUnreadable:
            return sentence(problems.size() == 1,
                            QT_TRANSLATE_NOOP("kw::Problems", "%1 kann wieder gelesen werden."),
                            QT_TRANSLATE_NOOP("kw::Problems", "%1 können wieder gelesen werden."),
                            filesSubject(problems));
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
    m_notifications.notify(summary, body, [self = QPointer(this), summary](const QString& reason) {
        if (self)
            self->m_log.WriteLog(QStringLiteral("The notification '") + summary +
                                 QStringLiteral("' was not shown: ") + reason);
    });
}

}  // namespace kw
