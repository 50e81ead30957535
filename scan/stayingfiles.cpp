#include "scan/stayingfiles.h"

#include "platform/folderwatch.h"
#include "platform/monotonic.h"
#include "scan/refusals.h"
#include "scan/waitingfiles.h"

#include <utility>

namespace kw {

StayingFiles::StayingFiles(WaitingFiles& waiting, Refusals& refusals)
    : m_waiting(waiting), m_refusals(refusals) {}

StayingFiles::Context StayingFiles::contextOf(const Pass& pass) {
    return {pass.source.device(),
            pass.source.inode(),
            pass.destination.device(),
            pass.destination.inode(),
            pass.place,
            pass.blockedExtensions,
            pass.leasesTellWriters,
            pass.watchSeesEveryWriter,
            pass.timeGranularityNs,
            pass.quietMs};
}

bool StayingFiles::beginPass(const Pass& pass, FolderWatch& watch) {
    // A pass that ended early did not see every file: what it learnt is kept, the rest as it was.
    if (std::exchange(m_passOpen, false)) {
        m_stays.insert(std::exchange(m_staysNow, {}));
        m_allStay = false;
    }
    const Context context = contextOf(pass);
    const FolderWatch::Changes changes = watch.takeChanges();
    if (context != m_context) {
        m_context = context;
        m_stays.clear();
        m_allStay = false;
    }
    // Without the names, a writer's close may have gone unheard; the other reasons a look tells.
    if (changes.everything) {
        m_stays.removeIf(
            [](const auto& entry) { return entry.value().reason == Stay::Reason::Writer; });
        m_allStay = false;
    }
    for (const QByteArray& name : changes.names)
        m_stays.remove(name);
    m_watchTrusted = pass.watchSeesEveryWriter && watch.watches(pass.source);
    if (m_watchTrusted && m_allStay && !changes.everything && changes.names.isEmpty()) {
        m_waiting.keepAll();
        return true;
    }
    m_passOpen = true;
    m_allStayNow = true;
    m_staysNow.clear();
    return false;
}

bool StayingFiles::stays(Pass& pass, const QByteArray& native, const QString& name) {
    const auto found = m_stays.constFind(native);
    if (found == m_stays.constEnd())
        return false;
    const Stay stay = *found;
    // A writer that closes the file without writing again changes nothing a look can see.
    if (stay.reason == Stay::Reason::Writer && !m_watchTrusted)
        return false;
    const std::optional<fs::Snapshot> look = fs::lookAt(pass.source, name);
    if (!look || !(*look == stay.look))
        return false;
    const QString path = pass.source.path() + name;
    switch (stay.reason) {
        case Stay::Reason::Writer:
            m_waiting.stillHeldBack(path);
            break;
        case Stay::Reason::Refused:
            // Its back-off may have run out, or space been freed for it.
            if (!m_refusals.holdsBack(pass, path, *look))
                return false;
            break;
        case Stay::Reason::Settling:
            if (m_waiting.settled(path, *look, pass.stillForNs()))
                return false;
            break;
        case Stay::Reason::Quiet:
            // A writer's close since was named by the watch, and a write shows in the look.
            if (monotonicMs() >= stay.untilMs)
                return false;
            m_waiting.stillHeldBack(path);
            pass.wakeAt(stay.untilMs);
            break;
        case Stay::Reason::None:
        case Stay::Reason::Blocked:
            return false;
    }
    m_staysNow.insert(native, stay);
    m_allStayNow = m_allStayNow && stay.reason == Stay::Reason::Writer;
    return true;
}

void StayingFiles::decided(const QByteArray& native, const Stay& stay) {
    bool kept = false;
    switch (stay.reason) {
        case Stay::Reason::Refused:
        case Stay::Reason::Settling:
        case Stay::Reason::Quiet:
            kept = true;
            break;
        case Stay::Reason::Writer:
            // A writer that holds the file through another name would close it unheard.
            kept = m_watchTrusted && stay.look.links == 1;
            break;
        case Stay::Reason::None:
        case Stay::Reason::Blocked:
            break;
    }
    m_allStayNow = m_allStayNow && (stay.reason == Stay::Reason::Blocked ||
                                    (kept && stay.reason == Stay::Reason::Writer));
    if (kept)
        m_staysNow.insert(native, stay);
    else
        m_stays.remove(native);
}

void StayingFiles::endPass() {
    m_passOpen = false;
    m_stays = std::exchange(m_staysNow, {});
    m_allStay = m_allStayNow;
}

}  // namespace kw
