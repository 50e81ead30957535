#include "platform/folderwatch.h"

#include "platform/heldfolder.h"
#include "platform/monotonic.h"
#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <QHash>
#include <QSocketNotifier>

#include <sys/inotify.h>

#include <cerrno>
#include <utility>

namespace kw {
namespace {

// A file closed after writing or put here by a rename; the queue overflowing means "anything".
constexpr uint32_t kArrivalEvents = IN_CLOSE_WRITE | IN_MOVED_TO;
// Changes that may alter what becomes of a file that stays, or that bring a file nobody closed.
constexpr uint32_t kChangeEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_ATTRIB;
// A write by anybody: the file is open for writing until its writer's close. Readers (IN_OPEN,
// IN_ACCESS, IN_CLOSE_NOWRITE: a P2P program seeding the file) are not listened to at all.
constexpr uint32_t kWriteEvents = IN_MODIFY;
constexpr uint32_t kWatchGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
// More names than this between two looks are no cheaper to check one by one than all at once.
constexpr qsizetype kNamesKept = 4096;
// Files whose writers are followed; a name beyond them is as one the watch never heard of.
constexpr qsizetype kHistoriesKept = 1 << 18;

}  // namespace

struct FolderWatch::Watch {
    Fd inotify;
    int descriptor = -1;
    quint64 device = 0;
    quint64 inode = 0;
    // Made through the held folder's descriptor, so it is on that very folder.
    bool exact = false;
    std::unique_ptr<QSocketNotifier> notifier;
    // A new watch knows nothing of what happened before it.
    Changes changes{true, {}};
    QHash<QByteArray, History> histories;
    // The history of the file renamed away last: the kernel queues a rename's two halves one
    // after the other, so a new name in the folder with its cookie is that file's.
    uint32_t renamedAwayCookie = 0;
    History renamedAway;

    void follow(const inotify_event& event, const QByteArray& name, qint64 nowMs) {
        if (event.mask & IN_ISDIR)
            return;
        if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            const History gone = histories.take(name);
            if (event.mask & IN_MOVED_FROM) {
                renamedAwayCookie = event.cookie;
                renamedAway = gone;
            }
            return;
        }
        const auto found = histories.find(name);
        if (found == histories.end() && histories.size() >= kHistoriesKept)
            return;
        History& history = found != histories.end() ? *found : histories[name];
        if (event.mask & IN_MOVED_TO) {
            // A rename inside the folder keeps what was heard of the file; one from outside
            // brings a file whole.
            const bool inside =
                event.cookie == renamedAwayCookie && renamedAway.state != History::State::Unknown;
            history = inside ? renamedAway : History{History::State::Arrived, false, 0};
            renamedAway = {};
        } else if (event.mask & IN_CREATE) {
            history = {History::State::Open, true, nowMs};
        } else if (event.mask & kWriteEvents) {
            history = {History::State::Open, false, nowMs};
        } else if (event.mask & IN_CLOSE_WRITE) {
            // Closed by one writer; another one that still holds it is heard at its next write.
            history = {History::State::Written, false, nowMs};
        }
    }

    // Reads every pending event; true when one of them may mean a file to move.
    bool readEvents() {
        bool arrived = false;
        alignas(inotify_event) char buffer[16 * 1024];
        ssize_t length;
        const qint64 nowMs = monotonicMs();
        while ((length = ::read(inotify.get(), buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event)) + event->len;
                if (event->mask & (kArrivalEvents | IN_Q_OVERFLOW))
                    arrived = true;
                // Events were lost: what the watch knew of each file's writers may be stale.
                if (event->mask & IN_Q_OVERFLOW) {
                    histories.clear();
                    renamedAway = {};
                }
                // The folder went away: the next watch() sets up a new watch.
                if (event->mask & kWatchGone)
                    descriptor = -1;
                if (event->len == 0) {
                    changes.everything = true;
                    continue;
                }
                const QByteArray name(event->name);
                follow(*event, name, nowMs);
                // A write alters no decision a look at the file would not see changed.
                if (event->mask == kWriteEvents)
                    continue;
                if (changes.names.size() < kNamesKept)
                    changes.names.insert(name);
                else
                    changes.everything = true;
            }
        }
        if (descriptor < 0)
            notifier->setEnabled(false);
        return arrived;
    }
};

FolderWatch::FolderWatch(std::function<void()> onArrival) : m_onArrival(std::move(onArrival)) {}

FolderWatch::~FolderWatch() = default;

bool FolderWatch::watching() const {
    return m_watch && m_watch->descriptor >= 0;
}

bool FolderWatch::watches(const fs::HeldFolder& folder) const {
    return watching() && m_watch->exact && folder.isOpen() && m_watch->device == folder.device() &&
           m_watch->inode == folder.inode();
}

void FolderWatch::stop() {
    m_watch.reset();
}

bool FolderWatch::watch(const fs::HeldFolder& folder) {
    if (watching() && m_watch->device == folder.device() && m_watch->inode == folder.inode())
        return true;
    m_watch.reset();
    if (!folder.isOpen())
        return false;
    auto watch = std::make_unique<Watch>();
    watch->inotify = Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!watch->inotify.valid())
        return false;
    // IN_ONLYDIR: a folder replaced by a file or a link to elsewhere is not watched by mistake.
    constexpr uint32_t mask =
        kArrivalEvents | kChangeEvents | kWriteEvents | IN_ONLYDIR | IN_EXCL_UNLINK;
    const QByteArray held = "/proc/self/fd/" + QByteArray::number(folder.fd());
    watch->descriptor = ::inotify_add_watch(watch->inotify.get(), held.constData(), mask);
    watch->exact = watch->descriptor >= 0;
    // Without /proc the path is watched, which may lead elsewhere by now: good for arrivals only.
    if (!watch->exact)
        watch->descriptor =
            ::inotify_add_watch(watch->inotify.get(), encodeLocal(folder.path()).constData(), mask);
    if (watch->descriptor < 0)
        return false;
    watch->device = folder.device();
    watch->inode = folder.inode();
    watch->notifier =
        std::make_unique<QSocketNotifier>(watch->inotify.get(), QSocketNotifier::Read);
    Watch* raw = watch.get();
    QObject::connect(watch->notifier.get(), &QSocketNotifier::activated, watch->notifier.get(),
                     [this, raw] {
                         if (raw->readEvents() && m_onArrival)
                             m_onArrival();
                     });
    m_watch = std::move(watch);
    return true;
}

FolderWatch::Changes FolderWatch::takeChanges() {
    if (!watching())
        return {true, {}};
    m_watch->readEvents();
    return std::exchange(m_watch->changes, {});
}

FolderWatch::History FolderWatch::historyOf(const QByteArray& name) {
    if (!watching())
        return {};
    // Read on the way: a close heard here still brings the tick that moves the file.
    if (m_watch->readEvents() && m_onArrival)
        m_onArrival();
    return watching() ? m_watch->histories.value(name) : History();
}

}  // namespace kw
