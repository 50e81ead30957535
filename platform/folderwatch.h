#pragma once

#include <QByteArray>
#include <QSet>

#include <functional>
#include <memory>

namespace kw {

namespace fs {
class HeldFolder;
}

// Tells, in the event loop of the thread that made it, when a file in one folder may be ready to
// move: a file there was closed after writing, or was moved in. It also keeps what changed in the
// folder meanwhile, for whoever wants to know whether the folder must be looked at again, and
// what it heard of each file's writers, whatever their user. The news is a hint, never a list: a
// watch can overflow and some file systems (network shares, FUSE) report nothing, so whoever
// listens keeps a timer of its own as well.
class FolderWatch {
public:
    explicit FolderWatch(std::function<void()> onArrival);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the very folder held open from now on, in place of the one before. Cheap when it is
    // already watched. False when it cannot be watched. Not to be called from onArrival.
    bool watch(const fs::HeldFolder& folder);
    // Watches nothing from now on.
    void stop();
    bool watching() const;
    // True while this very folder (device and inode) is watched.
    bool watches(const fs::HeldFolder& folder) const;

    // What happened in the folder since the last call.
    struct Changes {
        // The queue overflowed, the watch was made or lost, or the folder itself changed:
        // anything in it may have changed.
        bool everything = false;
        // Names of entries created, closed after writing, moved in or out, deleted, or whose
        // attributes changed.
        QSet<QByteArray> names;
    };
    // Reads what is pending first, so that nothing that happened before the call is left out.
    Changes takeChanges();

    // What the watch heard of the writers of one file since it was made.
    struct History {
        enum class State {
            Unknown,  // it was there before the watch, or the watch lost track (an overflow)
            Arrived,  // renamed into the folder, and nobody has written it since
            Written,  // written here, by whoever, and every writer has closed it since
            Open,     // written or created here, and not closed after writing since
        };
        State state = State::Unknown;
        // Created here and neither written nor closed since: a new name of a file made elsewhere
        // (a hard link) looks the same, so the caller tells the two apart by the file's links.
        bool createdOnly = false;
        // The monotonic milliseconds (monotonicMs) when the watch last heard a write or a writer's
        // close; 0 for an arrival.
        qint64 lastWrittenMs = 0;
    };
    // Reads what is pending first. name: the file's bytes in the watched folder.
    History historyOf(const QByteArray& name);

private:
    struct Watch;
    std::unique_ptr<Watch> m_watch;
    std::function<void()> m_onArrival;
};

}  // namespace kw
