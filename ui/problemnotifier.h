#pragma once

#include "core/problems.h"

#include <QMap>
#include <QObject>

namespace kw {

class EventLog;
class Notifications;

// The user's words for a problem kind, as the tray and the notifications name it.
QString ProblemTitle(ProblemKind kind);
// What the problems of one kind mean for the user, naming their folder or files.
QString ProblemStartText(ProblemKind kind, const Problems& ofKind);
// That the kind has ended; ofKind are its problems as they were last.
QString ProblemEndTitle(ProblemKind kind);
QString ProblemEndText(ProblemKind kind, const Problems& ofKind);

// Gathers the problems that wait for the user from every part that finds some, and tells the
// user once when a kind of problem starts and once when it ends: a notification, never one per
// file. Without a notification service the tray and the log are all there is.
class ProblemNotifier : public QObject {
    Q_OBJECT

public:
    ProblemNotifier(Notifications& notifications, EventLog& log, QObject* parent = nullptr);

    // The whole set one source finds now; it replaces that source's earlier set.
    void setProblems(const QString& source, const Problems& problems);
    // Every source's problems, sources in the order of their names.
    const Problems& problems() const { return m_all; }

Q_SIGNALS:
    void problemsChanged(const kw::Problems& all);

private:
    void notify(const QString& summary, const QString& body);

    Notifications& m_notifications;
    EventLog& m_log;
    QMap<QString, Problems> m_bySource;
    Problems m_all;
};

}  // namespace kw
