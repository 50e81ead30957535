#pragma once

#include "core/folderpairs.h"
#include "core/textarray.h"
#include "scan/useddestinations.h"

#include <QLatin1String>
#include <QObject>
#include <QString>

#include <utility>

namespace kw {

class Desktop;
class EventLog;
struct Pass;
struct Settings;

// The folder settings a check gave up because they cannot be used.
struct FoldersGivenUp {
    bool source = false;
    bool destination = false;
    // Further pairs whose folders cannot be used: dropped for this run.
    QList<FolderPair> pairs;
};

// Watches over the two folders: checks, makes or clears their settings; waits for a destination
// whose file system has gone instead of making it again on the one beneath; holds both open for
// a pass and stops the pass when either is no longer what its path names; removes what copies
// of an earlier, killed run left behind. It may clear the folder settings and write the list of
// used destinations, and shows the messages about the folders. It works on the settings of the
// tick, and says which folders it gave up for the scheduler to clear.
class FolderGuard : public QObject {
    Q_OBJECT

public:
    // used: the list of used destinations, shared by the guards of every pair.
    FolderGuard(Settings& my, const TextArray& blockedExtensions, UsedDestinations& used,
                EventLog& log, Desktop& desktop);

    // Checks, creates or clears My.Source and My.Destination; true when both are usable.
    bool ValidateDirectories();
    // Opens the folders of a pass that begins and takes the settings it works with; false when
    // no pass can run now (said in the log, or in a message).
    bool holdFolders(Pass& pass);
    // A held folder's path leads elsewhere now (a link or another folder put in its place, a
    // bind mount over it, its file system unmounted): says so, once per pass.
    void reportFolderChanged(Pass& pass);
    // Checks whether the file system of the destination folder has gone and says so when that
    // changes; mountPointNow receives where the folder (or the folder above it) lies now.
    bool checkDestinationAway(const QString& folder, QString* mountPointNow = nullptr);
    bool destinationAway() const { return m_destinationAway; }
    void RemoveAbandonedCopies();
    // folder was chosen as the destination: where it lies now is where it belongs.
    void DestinationChosen(const QString& folder);
    // The folders given up since the last call.
    FoldersGivenUp takeFoldersGivenUp() { return std::exchange(m_givenUp, {}); }

Q_SIGNALS:
    void destinationWaiting(bool waiting, const QString& mountPoint);

private:
    // Makes the setting's folder when it is missing; when that fails, logs it, shows problem
    // (%1: the folder) and request and answers false.
    bool ensureFolder(const QString& folder, QLatin1String setting, const QString& problem,
                      const QString& request);
    // The two folders are one, or one lies inside the other: the destination is given up.
    void refuseOverlap(const QString& folder);
    UsedDestinations& usedDestinations();
    void removeAbandonedCopiesIn(const QString& folder);

    Settings& m_my;
    const TextArray& m_blockedExtensions;
    EventLog& m_log;
    Desktop& m_desktop;
    UsedDestinations& m_used;
    bool m_destinationAway = false;
    bool m_changeReported = false;
    FoldersGivenUp m_givenUp;
};

}  // namespace kw
