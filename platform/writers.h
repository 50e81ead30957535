#pragma once

#include <QPair>
#include <QSet>
#include <QtGlobal>

// Which files programs hold open for writing, as /proc shows it: where a lease proves nothing (a
// network or FUSE file system) or cannot be had, this is how a download still being written is
// told from one that is finished. It sees writers on this machine only.
namespace kw::fs {

class WritersSnapshot {
public:
    // Walks every process this user may look into; some milliseconds for some hundred
    // processes, so take one per pass, not one per file.
    static WritersSnapshot take();

    // True when some process held the file (device and inode, as stat gives them) open for
    // writing or reading and writing.
    bool written(quint64 device, quint64 inode) const {
        return m_written.contains(qMakePair(device, inode));
    }
    // The same for the file open as fd here.
    bool writtenAt(int fd) const;
    // False when some process's open files could not be seen (another user's, without root):
    // a file missing from the snapshot may still be written by that process.
    bool sawEveryProcess() const { return m_sawEveryProcess; }
    int processes() const { return m_processes; }

private:
    QSet<QPair<quint64, quint64>> m_written;
    bool m_sawEveryProcess = true;
    int m_processes = 0;
};

}  // namespace kw::fs
