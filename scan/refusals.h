#pragma once

#include "scan/pass.h"
#include "scan/repeatfailures.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

namespace kw {

class EventLog;

// The failures of this run that will repeat, each said once in the log and not tried again until
// the file or the destination changes.
class Refusals {
public:
    explicit Refusals(EventLog& log);

    // Remembers a failure of this file that will repeat and says why, once; a refusal of the whole
    // destination (quota, file entries) once for all the files it keeps back. False when the
    // failure is not one that repeats.
    bool remember(const Pass& pass, const fs::HeldSource& source, Refusal refusal);
    bool rememberError(const Pass& pass, const fs::HeldSource& source, int error);
    // True when remembering this failure would say nothing new: the file failed so before, or
    // the destination's refusal was already said. Its copy's error line is then left out too.
    bool alreadySaid(const Pass& pass, const fs::HeldSource& source, int error) const;
    // A file was moved into the pass's destination: what waits for it is tried again.
    void movedInto(const Pass& pass);
    // True while a remembered failure of this file still holds.
    bool holdsBack(const Pass& pass, const fs::HeldSource& source) const;
    // The same for the file at path as look shows it, without opening it.
    bool holdsBack(const Pass& pass, const QString& path, const fs::Snapshot& look) const;
    void keepOnly(const QStringList& paths) { m_failures.keepOnly(paths); }
    Problems problems() const { return m_failures.problems(); }

private:
    std::optional<Refusal> refusalOf(const Pass& pass, int error) const;
    DestinationState stateOf(const Pass& pass) const;

    EventLog& m_log;
    RepeatFailures m_failures;
    QElapsedTimer m_clock;
    QHash<DestinationPlace, quint64> m_movedInto;
    // Refusals of whole destinations said since a file last moved there.
    QSet<std::pair<QString, int>> m_saidFor;
};

}  // namespace kw
