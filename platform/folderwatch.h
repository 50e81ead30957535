#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace kw {

// Tells, in the event loop of the thread that made it, when a file in one folder may be ready to
// move: a file there was closed after writing, or was moved in. The news is a hint, never a list:
// a watch can overflow and some file systems (network shares, FUSE) report nothing, so whoever
// listens keeps a timer of its own as well.
class FolderWatch {
public:
    explicit FolderWatch(std::function<void()> onArrival);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches folder from now on, in place of the one before; the empty text watches nothing.
    // Cheap when folder is already watched. False when the folder cannot be watched. Not to be
    // called from onArrival.
    bool watch(const QString& folder);
    bool watching() const;

private:
    struct Watch;
    std::unique_ptr<Watch> m_watch;
    std::function<void()> m_onArrival;
};

}  // namespace kw
