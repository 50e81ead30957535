#include "scan/folderguard.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/fstraits.h"
#include "platform/heldfolder.h"
#include "scan/listing.h"
#include "scan/pass.h"

#include <QCoreApplication>

#include <utility>

namespace kw {
namespace {

QString quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// The folder itself when it exists, else the nearest folder above it that does.
QString nearestExistingFolder(QString folder) {
    while (!folder.isEmpty() && !fs::isDirectory(folder)) {
        while (folder.endsWith(QLatin1Char('/')))
            folder.chop(1);
        folder = ParentFolder(folder);
    }
    return folder;
}

// True when inner lies strictly below outer.
bool isBelow(const QString& inner, const QString& outer) {
    if (inner == outer)
        return false;
    return outer == QLatin1String("/") || inner.startsWith(AddBackslash(outer));
}

// Where folder stands now: the mount point of the file system its path ends on, and whether
// that file system is one mounted beneath the one it was last seen on, i.e. that one is gone.
struct Whereabouts {
    QString mountPoint;
    bool away = false;
};

Whereabouts whereabouts(const QString& folder, const QString& recordedMountPoint) {
    Whereabouts now;
    now.mountPoint = fs::mountPointOf(nearestExistingFolder(folder));
    now.away = !recordedMountPoint.isEmpty() && !now.mountPoint.isEmpty() &&
               isBelow(recordedMountPoint, now.mountPoint);
    return now;
}

}  // namespace

FolderGuard::FolderGuard(Settings& my, const TextArray& blockedExtensions, UsedDestinations& used,
                         EventLog& log, Desktop& desktop)
    : m_my(my),
      m_blockedExtensions(blockedExtensions),
      m_log(log),
      m_desktop(desktop),
      m_used(used) {}

bool FolderGuard::ValidateDirectories() {
    Settings& my = m_my;
    SettingsStore settings(my);
    if (!my.Source.isEmpty() &&
        !ensureFolder(my.Source, QLatin1String("Source"),
                      QCoreApplication::translate("kw::FolderGuard",
                                                  "Das zu überwachende Verzeichnis %1 ist nicht "
                                                  "vorhanden und kann nicht "
                                                  "angelegt werden !"),
                      QCoreApplication::translate("kw::FolderGuard",
                                                  "Bitte geben Sie ein neues Verzeichnis an, "
                                                  "welches überwacht werden "
                                                  "soll."))) {
        settings.forgetSource();
        m_givenUp.source = true;
    }
    // A destination whose file system has gone is waited for, never made on the one beneath.
    // A folder made here lies on the file system of the folder above it, where it was looked for.
    QString mountPoint;
    const bool away =
        !my.Destination.isEmpty() && checkDestinationAway(my.Destination, &mountPoint);
    if (!my.Destination.isEmpty() && !away) {
        if (ensureFolder(
                my.Destination, QLatin1String("Destination"),
                QCoreApplication::translate("kw::FolderGuard",
                                            "Das Zielverzeichnis %1 kann nicht angelegt werden."),
                QCoreApplication::translate("kw::FolderGuard",
                                            "Bitte geben Sie ein neues Zielverzeichnis an.")))
            usedDestinations().record(my.Destination, mountPoint);
        else {
            settings.forgetDestination();
            m_givenUp.destination = true;
        }
    }
    // Copying a folder into itself would find every file "already there" and delete it.
    if (!away && !my.Source.isEmpty() && !my.Destination.isEmpty() &&
        fs::foldersOverlap(my.Source, my.Destination)) {
        refuseOverlap(my.Destination);
    }
    return !away && !my.Source.isEmpty() && !my.Destination.isEmpty();
}

bool FolderGuard::ensureFolder(const QString& folder, QLatin1String setting, const QString& problem,
                               const QString& request) {
    if (FolderExists(folder, true))
        return true;
    m_log.WriteLog(QLatin1String("Error creating Directory My.") + setting + QLatin1Char(' ') +
                   quoted(folder));
    m_desktop.ShowMessage(QCoreApplication::translate("kw::FolderGuard", "Fehler"),
                          problem.arg(quoted(folder)) + kCrLfText + kCrLfText + request + kCrLfText,
                          MB_ICONERROR);
    return false;
}

bool FolderGuard::checkDestinationAway(const QString& folder, QString* mountPointNow) {
    const QString recorded = usedDestinations().mountPointOf(folder);
    const Whereabouts now = whereabouts(folder, recorded);
    if (mountPointNow)
        *mountPointNow = now.mountPoint;
    const bool away = now.away;
    if (away && !m_destinationAway) {
        m_log.WriteLog(QLatin1String("Destination gone: waiting for ") + quoted(folder) +
                       QLatin1String(", nothing is mounted at ") + quoted(recorded));
        Q_EMIT destinationWaiting(true, recorded);
    } else if (!away && m_destinationAway) {
        m_log.WriteLog(QLatin1String("Destination back: ") + quoted(folder));
        Q_EMIT destinationWaiting(false, recorded);
    }
    const bool cameBack = m_destinationAway && !away;
    m_destinationAway = away;
    // A copy killed while it was away may have left its temporary file there.
    if (cameBack)
        removeAbandonedCopiesIn(folder);
    return away;
}

void FolderGuard::DestinationChosen(const QString& folder) {
    if (!folder.isEmpty() && fs::isDirectory(folder))
        usedDestinations().record(folder, fs::mountPointOf(folder));
}

UsedDestinations& FolderGuard::usedDestinations() {
    if (m_used.file() != m_my.UsedDestinationsFile || m_used.mark().isEmpty()) {
        m_used.load(m_my.UsedDestinationsFile);
        fs::setPartialMark(m_used.mark());
    }
    return m_used;
}

void FolderGuard::refuseOverlap(const QString& destination) {
    const QString canonical = fs::canonicalPath(destination);
    const QString folder = canonical.isEmpty() ? destination : AddBackslash(canonical);
    SettingsStore(m_my).forgetDestination();
    m_givenUp.destination = true;
    m_log.WriteLog(QLatin1String("Error same Directory for My.Source and My.Destination ") +
                   quoted(folder));
    m_desktop.ShowMessage(
        QCoreApplication::translate("kw::FolderGuard", "Fehler"),
        QCoreApplication::translate("kw::FolderGuard",
                                    "Das zu überwachende Verzeichnis und das Zielverzeichnis sind "
                                    "dasselbe Verzeichnis %1 !")
                .arg(quoted(folder)) +
            kCrLfText + kCrLfText +
            QCoreApplication::translate("kw::FolderGuard",
                                        "Bitte geben Sie ein anderes Zielverzeichnis an.") +
            kCrLfText,
        MB_ICONERROR);
}

void FolderGuard::RemoveAbandonedCopies() {
    UsedDestinations& used = usedDestinations();
    for (const QString& folder : used.folders()) {
        if (!fs::isDirectory(folder) || whereabouts(folder, used.mountPointOf(folder)).away)
            continue;
        removeAbandonedCopiesIn(folder);
    }
}

void FolderGuard::removeAbandonedCopiesIn(const QString& folder) {
    const QString prefix = QString::fromLatin1(fs::partialPrefix());
    for (const QString& name : fs::namesStartingWith(folder, prefix)) {
        const QString path = AddBackslash(folder) + name;
        const auto facts = fs::facts(path);
        if (!name.endsWith(QLatin1String(fs::kPartialSuffix)) || !facts ||
            facts->kind != fs::Kind::Regular)
            continue;
        if (fs::removeFile(path) == 0)
            m_log.WriteLog(QLatin1String("Removed abandoned copy ") + quoted(path));
        else
            m_log.WriteLog(QLatin1String("Can't remove abandoned copy ") + quoted(path));
    }
}

bool FolderGuard::holdFolders(Pass& pass) {
    const Settings& my = m_my;
    m_changeReported = false;
    if (const int error = pass.source.open(my.Source)) {
        m_log.WriteLog(QLatin1String("Can't open the watched folder ") + quoted(my.Source) +
                       QLatin1String(" (") + fs::errorText(error) + QLatin1Char(')'));
        return false;
    }
    if (const int error = pass.destination.open(my.Destination)) {
        m_log.WriteLog(QLatin1String("Can't open the destination folder ") +
                       quoted(my.Destination) + QLatin1String(" (") + fs::errorText(error) +
                       QLatin1Char(')'));
        return false;
    }
    // The check before was by path; the folders the pass works in are checked themselves, as
    // a link or a bind mount may have been put in place meanwhile.
    if (pass.source.sameAs(pass.destination) || pass.source.isBelow(pass.destination) ||
        pass.destination.isBelow(pass.source)) {
        refuseOverlap(my.Destination);
        return false;
    }
    pass.place = {pass.destination.path(), pass.destination.device()};
    pass.blockedExtensions = m_blockedExtensions;
    pass.soundFile = my.SoundFile;
    const fs::FileSystemTraits traits = fs::traitsOf(pass.source.fd());
    pass.leasesTellWriters = traits.leasesProve;
    pass.timeGranularityNs = qint64(traits.stillSeconds) * 1'000'000'000;
    pass.watchSeesEveryWriter = traits.watchSeesEveryWriter;
    pass.quietMs = qint64(my.QuietSeconds) * 1000;
    return true;
}

void FolderGuard::reportFolderChanged(Pass& pass) {
    if (std::exchange(m_changeReported, true))
        return;
    const QString folder = pass.source.stillThere() ? pass.destination.path() : pass.source.path();
    m_log.WriteLog(QLatin1String("Pass stopped: ") + quoted(folder) +
                   QLatin1String(" no longer leads to the folder the pass began in; nothing more "
                                 "is moved or deleted before the next tick"));
    // A stick pulled under the pass is waited for from now on.
    checkDestinationAway(pass.destination.path());
}

}  // namespace kw
