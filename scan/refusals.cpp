#include "scan/refusals.h"

#include "core/eventlog.h"
#include "platform/filemove.h"
#include "scan/failure.h"

namespace kw {
namespace {

std::pair<QString, int> saidKey(const DestinationPlace& place, Refusal refusal) {
    return {place.folder + QLatin1Char('\n') + QString::number(place.device), int(refusal)};
}

}  // namespace

Refusals::Refusals(EventLog& log) : m_log(log) {
    m_clock.start();
}

std::optional<Refusal> Refusals::refusalOf(const Pass& pass, int error) const {
    std::optional<Refusal> refusal = kw::refusalOf(error);
    // "No space" with space free: the file system has run out of file entries.
    if (refusal == Refusal::NoSpace && pass.destination.freeRoom().entries == 0)
        refusal = Refusal::NoEntries;
    return refusal;
}

DestinationState Refusals::stateOf(const Pass& pass) const {
    const fs::HeldFolder::FreeRoom room = pass.destination.freeRoom();
    return {room.bytes, room.entries, m_movedInto.value(pass.place)};
}

bool Refusals::rememberError(const Pass& pass, const fs::HeldSource& source, int error) {
    const std::optional<Refusal> refusal = refusalOf(pass, error);
    return refusal && remember(pass, source, *refusal);
}

bool Refusals::alreadySaid(const Pass& pass, const fs::HeldSource& source, int error) const {
    const std::optional<Refusal> refusal = refusalOf(pass, error);
    if (!refusal)
        return false;
    return m_failures.known(source.path(), identityOf(source), pass.place, *refusal) ||
           (refusesEveryFile(*refusal) && m_saidFor.contains(saidKey(pass.place, *refusal)));
}

void Refusals::movedInto(const Pass& pass) {
    ++m_movedInto[pass.place];
    for (Refusal refusal : {Refusal::NoQuota, Refusal::NoEntries})
        m_saidFor.remove(saidKey(pass.place, refusal));
}

bool Refusals::remember(const Pass& pass, const fs::HeldSource& source, Refusal refusal) {
    if (!m_failures.remember(source.path(), identityOf(source), pass.place, refusal, stateOf(pass),
                             m_clock.elapsed()))
        return true;
    // A destination that refuses every file is said once, not once per waiting file.
    if (refusesEveryFile(refusal)) {
        const auto key = saidKey(pass.place, refusal);
        if (m_saidFor.contains(key))
            return true;
        m_saidFor.insert(key);
    }
    // The one failure the cycle has always reported in its own words.
    if (refusal == Refusal::NoFreeNumber) {
        WriteTimerError(m_log,
                        {kInvalidArgument, QLatin1String("No free number from 001 to 999 for '") +
                                               source.name() + QLatin1String("' in '") +
                                               pass.destination.path() + QLatin1Char('\'')});
        return true;
    }
    m_log.WriteLog(
        QLatin1String("Not moved: '") + source.path() + QLatin1String("', ") +
        refusalText(refusal) +
        (refusesEveryFile(refusal) ? QLatin1String(", and so for the other files waiting for it")
                                   : QString()) +
        QLatin1String("; tried again when the file or the destination changes, or in ") +
        QString::number(RepeatFailures::kBackOffMs / 60'000) + QLatin1String(" minutes"));
    return true;
}

bool Refusals::holdsBack(const Pass& pass, const fs::HeldSource& source) const {
    return holdsBack(pass, source.path(), source.snapshot());
}

bool Refusals::holdsBack(const Pass& pass, const QString& path, const fs::Snapshot& look) const {
    return m_failures.holdsBack(path, identityOf(look), pass.place, pass.destination, stateOf(pass),
                                m_clock.elapsed());
}

}  // namespace kw
