#pragma once

#include "scan/pass.h"
#include "scan/repeatfailures.h"

#include <QElapsedTimer>

namespace kw {

class EventLog;

// The failures of this run that will repeat, each said once in the log and not tried again until
// the file or the destination changes.
class Refusals {
public:
    explicit Refusals(EventLog& log);

    // Remembers a failure of this file that will repeat and says why, once. False when the
    // failure is not one that repeats.
    bool remember(const Pass& pass, const fs::HeldSource& source, Refusal refusal);
    bool rememberError(const Pass& pass, const fs::HeldSource& source, int error);
    // True while a remembered failure of this file still holds.
    bool holdsBack(const Pass& pass, const fs::HeldSource& source) const;
    // The same for the file at path as look shows it, without opening it.
    bool holdsBack(const Pass& pass, const QString& path, const fs::Snapshot& look) const;
    void keepOnly(const QStringList& paths) { m_failures.keepOnly(paths); }
    Problems problems() const { return m_failures.problems(); }

private:
    EventLog& m_log;
    RepeatFailures m_failures;
    QElapsedTimer m_clock;
};

}  // namespace kw
