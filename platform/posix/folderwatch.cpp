#include "platform/folderwatch.h"

#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <QSocketNotifier>

#include <sys/inotify.h>

#include <cerrno>

namespace kw {
namespace {

// A file closed after writing or put here by a rename; the queue overflowing means "anything".
constexpr uint32_t kArrivalEvents = IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr uint32_t kWatchGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

}  // namespace

struct FolderWatch::Watch {
    Fd inotify;
    int descriptor = -1;
    QString folder;
    std::unique_ptr<QSocketNotifier> notifier;

    // Reads every pending event; true when one of them may mean a file to move.
    bool readEvents() {
        bool arrived = false;
        alignas(inotify_event) char buffer[16 * 1024];
        ssize_t length;
        while ((length = ::read(inotify.get(), buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & (kArrivalEvents | IN_Q_OVERFLOW))
                    arrived = true;
                // The folder went away: the next watch() sets up a new watch.
                if (event->mask & kWatchGone)
                    descriptor = -1;
                at += ssize_t(sizeof(inotify_event)) + event->len;
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

bool FolderWatch::watch(const QString& folder) {
    if (watching() && m_watch->folder == folder)
        return true;
    m_watch.reset();
    if (folder.isEmpty())
        return false;
    auto watch = std::make_unique<Watch>();
    watch->inotify = Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!watch->inotify.valid())
        return false;
    // IN_ONLYDIR: a folder replaced by a file or a link to elsewhere is not watched by mistake.
    watch->descriptor = ::inotify_add_watch(watch->inotify.get(), encodeLocal(folder).constData(),
                                            kArrivalEvents | IN_ONLYDIR | IN_EXCL_UNLINK);
    if (watch->descriptor < 0)
        return false;
    watch->folder = folder;
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

}  // namespace kw
