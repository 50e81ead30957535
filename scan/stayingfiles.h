#pragma once

#include "scan/filedecision.h"
#include "scan/pass.h"

#include <QByteArray>
#include <QHash>

namespace kw {

class FolderWatch;
class Refusals;
class WaitingFiles;

// What a tick may take over from the ticks before about the files that stay in the watched
// folder. A file whose decision only its own change can alter (a writer holds it, a remembered
// failure holds it back, it has not held still long enough) is looked at by its name alone, not
// opened, leased or compared, while it is as it was and the watch named it in no event. A
// watched folder in which the watch heard nothing, whose files all stay for as long as nothing
// happens there, is not listed at all. Neither ever moves or deletes a file: at most a file that
// would be left alone again is not decided again.
class StayingFiles {
public:
    StayingFiles(WaitingFiles& waiting, Refusals& refusals);

    // Before the watched folder is listed, with the watch on it already made: takes what the watch
    // heard since. True when nothing can have changed, so the listing is left out; else the pass
    // lists and tells each file to stays() or decided(), and endPass() when it saw them all.
    bool beginPass(const Pass& pass, FolderWatch& watch);
    // True when the file (native: its name's bytes) stays as it was decided before; one look at
    // its name, no open.
    bool stays(Pass& pass, const QByteArray& native, const QString& name);
    void decided(const QByteArray& native, const Stay& stay);
    void endPass();

private:
    // What the decisions depended on besides the file: another folder, another file system
    // there, or another blocked-extension list makes them void.
    struct Context {
        quint64 sourceDevice = 0;
        quint64 sourceInode = 0;
        quint64 destinationDevice = 0;
        quint64 destinationInode = 0;
        DestinationPlace place;
        TextArray blockedExtensions;
        bool leasesTellWriters = false;
        bool watchSeesEveryWriter = false;
        qint64 timeGranularityNs = 0;
        qint64 quietMs = 0;
        bool operator==(const Context&) const = default;
    };
    static Context contextOf(const Pass& pass);

    WaitingFiles& m_waiting;
    Refusals& m_refusals;
    Context m_context;
    QHash<QByteArray, Stay> m_stays;
    QHash<QByteArray, Stay> m_staysNow;
    // The watch on this very folder hears of every writer's change: a writer's close is news.
    bool m_watchTrusted = false;
    bool m_passOpen = false;
    bool m_allStayNow = false;
    // The last complete listing found only files that stay until something happens in the folder.
    bool m_allStay = false;
};

}  // namespace kw
