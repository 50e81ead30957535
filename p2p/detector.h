#pragma once

#include "p2p/entries.h"
#include "platform/processes.h"
#include "platform/windowsearch.h"

#include <QObject>
#include <QSet>
#include <QStringList>

namespace kw {

struct AppData;

// The first window whose class or instance name equals windowClass without regard to case; any
// window for the empty class. 0 when none matches.
WindowId FindTopWindow(const std::vector<TopWindow>& windows, const QString& windowClass);

// Keeps LBp2p, the sorted names of the P2P programs that run: the built-in entries, then the
// user's, each adding its name when its program is there and removing it when not, so of two
// entries with one name the later one decides. A program is there when a window of its class
// exists or a process of the user runs an executable of that name (letter case ignored either
// way), so programs are found without an X display too.
class P2PDetector : public QObject {
    Q_OBJECT

public:
    P2PDetector(const AppData& data, WindowSearch& search);

    // One detection pass over one snapshot of the desktop's windows and of the user's processes.
    void Timer_CheckP2P();

    // Sorted without regard to case; one line per name, names compared without regard to case.
    const QStringList& LBp2p() const { return m_LBp2p; }

Q_SIGNALS:
    // After a pass that changed the list.
    void LBp2pChanged(const QStringList& lines);

private:
    void check(const P2PEntry& entry, const std::vector<TopWindow>& windows,
               const QSet<QString>& processNames);

    const AppData& m_data;
    WindowSearch& m_search;
    UserProcessLister m_processes;
    QStringList m_LBp2p;
};

}  // namespace kw
