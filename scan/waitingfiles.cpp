#include "scan/waitingfiles.h"

#include "core/eventlog.h"

#include <utility>

namespace kw {

WaitingFiles::WaitingFiles(EventLog& log) : m_log(log) {
    m_clock.start();
}

void WaitingFiles::holdBack(const QString& path, const QString& reason) {
    if (m_heldBack.value(path) != reason && m_heldBackNow.value(path) != reason)
        m_log.WriteLog(QLatin1String("Waiting for '") + path + QLatin1String("': ") + reason);
    m_heldBackNow.insert(path, reason);
}

bool WaitingFiles::settled(const QString& path, const fs::Snapshot& look, qint64 stillForNs) {
    // The monotonic clock, never the file's times against the wall clock: a clock set forward
    // (a suspended laptop, a time server's step) would make a paused writer's file look old.
    const qint64 nowMs = m_clock.elapsed();
    const auto previous = m_looks.constFind(path);
    const bool seenBefore = previous != m_looks.constEnd();
    const bool unchanged = seenBefore && previous->snapshot == look;
    const Look current = unchanged ? *previous : Look{look, nowMs};
    m_looksNow.insert(path, current);
    if (unchanged && (nowMs - current.stillSinceMs) * 1'000'000 > stillForNs)
        return true;
    if (!seenBefore)
        holdBack(path, QLatin1String("nothing here can tell whether a program still writes it; it "
                                     "moves once it has held still for ") +
                           QString::number((stillForNs + 999'999'999) / 1'000'000'000) +
                           QLatin1String(" s"));
    else if (!unchanged)
        holdBack(path, QStringLiteral("it is still being written"));
    else
        stillHeldBack(path);  // still waiting, already said why
    return false;
}

void WaitingFiles::stillHeldBack(const QString& path) {
    if (const auto note = m_heldBack.constFind(path); note != m_heldBack.constEnd())
        m_heldBackNow.insert(note.key(), note.value());
}

void WaitingFiles::keepAll() {
    m_looksNow.insert(m_looks);
    m_heldBackNow.insert(m_heldBack);
}

void WaitingFiles::keepLooks(bool passCompleted) {
    if (passCompleted) {
        m_looks = std::exchange(m_looksNow, {});
        m_heldBack = std::exchange(m_heldBackNow, {});
    } else {
        m_looks.insert(std::exchange(m_looksNow, {}));
        m_heldBack.insert(std::exchange(m_heldBackNow, {}));
    }
}

}  // namespace kw
