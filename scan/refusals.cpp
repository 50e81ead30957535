#include "scan/refusals.h"

#include "core/eventlog.h"
#include "platform/filemove.h"
#include "scan/failure.h"

namespace kw {

Refusals::Refusals(EventLog& log) : m_log(log) {
    m_clock.start();
}

bool Refusals::rememberError(const Pass& pass, const fs::HeldSource& source, int error) {
    const std::optional<Refusal> refusal = refusalOf(error);
    return refusal && remember(pass, source, *refusal);
}

bool Refusals::remember(const Pass& pass, const fs::HeldSource& source, Refusal refusal) {
    if (!m_failures.remember(source.path(), identityOf(source), pass.place, refusal,
                             m_clock.elapsed()))
        return true;
    // The one failure the cycle has always reported in its own words.
    if (refusal == Refusal::NoFreeNumber) {
        WriteTimerError(m_log,
                        {kInvalidArgument, QLatin1String("No free number from 001 to 999 for '") +
                                               source.name() + QLatin1String("' in '") +
                                               pass.destination.path() + QLatin1Char('\'')});
        return true;
    }
    m_log.WriteLog(QLatin1String("Not moved: '") + source.path() + QLatin1String("', ") +
                   refusalText(refusal) +
                   QLatin1String("; tried again when the file or the destination changes, or in ") +
                   QString::number(RepeatFailures::kBackOffMs / 60'000) +
                   QLatin1String(" minutes"));
    return true;
}

bool Refusals::holdsBack(const Pass& pass, const fs::HeldSource& source) const {
    return holdsBack(pass, source.path(), source.snapshot());
}

bool Refusals::holdsBack(const Pass& pass, const QString& path, const fs::Snapshot& look) const {
    return m_failures.holdsBack(path, identityOf(look), pass.place, pass.destination,
                                m_clock.elapsed());
}

}  // namespace kw
