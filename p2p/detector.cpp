#include "p2p/detector.h"

#include "core/settings.h"
#include "core/textarray.h"

#include <algorithm>

namespace kw {
namespace {

bool sortsBefore(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

// The executable names of the user's processes, case-folded; none when /proc cannot be read.
QSet<QString> runningProcessNames(UserProcessLister& lister) {
    QSet<QString> names;
    if (const auto processes = lister.List()) {
        for (const UserProcess& process : *processes)
            names.insert(process.name.toCaseFolded());
    }
    return names;
}

}  // namespace

WindowId FindTopWindow(const std::vector<TopWindow>& windows, const QString& windowClass) {
    for (const TopWindow& window : windows) {
        if (windowClass.isEmpty() ||
            window.className.compare(windowClass, Qt::CaseInsensitive) == 0 ||
            window.instanceName.compare(windowClass, Qt::CaseInsensitive) == 0)
            return window.id;
    }
    return 0;
}

P2PDetector::P2PDetector(const AppData& data, WindowSearch& search)
    : m_data(data), m_search(search) {}

void P2PDetector::Timer_CheckP2P() {
    const QStringList before = m_LBp2p;
    const std::vector<TopWindow> windows = m_search.ListTopWindows();
    const QSet<QString> processNames = runningProcessNames(m_processes);
    for (const P2PEntry& entry : BuiltInP2PEntries())
        check(entry, windows, processNames);
    if (m_data.UserP2PList) {
        for (const QString& line : *m_data.UserP2PList) {
            if (const std::optional<P2PEntry> entry = ParseUserP2PEntry(line))
                check(*entry, windows, processNames);
        }
    }
    if (m_LBp2p != before)
        Q_EMIT LBp2pChanged(m_LBp2p);
}

void P2PDetector::check(const P2PEntry& entry, const std::vector<TopWindow>& windows,
                        const QSet<QString>& processNames) {
    const int index = FindListEntry(m_LBp2p, entry.DisplayName);
    const bool running = FindTopWindow(windows, entry.WindowClass) != 0 ||
                         processNames.contains(entry.WindowClass.toCaseFolded());
    if (!running && index >= 0)
        m_LBp2p.removeAt(index);
    else if (running && index == -1)
        m_LBp2p.insert(
            std::lower_bound(m_LBp2p.begin(), m_LBp2p.end(), entry.DisplayName, sortsBefore),
            entry.DisplayName);
}

}  // namespace kw
