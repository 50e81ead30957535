#pragma once

#include "tests/support/teardown.h"

#include <QString>

#include <memory>

namespace kw::test {

// A file system made by a test and mounted on a folder of the test's own: a tmpfs of a given
// size, a ramfs (which keeps modes but no extended attributes, so no access lists), or an ext4,
// exFAT (through exfat-fuse) or NTFS (through ntfs-3g) image on a loop device. It is unmounted and its
// loop device detached when the object goes, also when the test fails; a watcher process does the
// same when the test process is killed. Needs root.
class ScratchFileSystem {
public:
    enum class Type { Tmpfs, Exfat, Ntfs, Ramfs, Ext4 };

    // Makes the file system and mounts it at mountPoint (created when missing). nullptr when
    // that cannot be done here, with the reason in *why when why is given.
    static std::unique_ptr<ScratchFileSystem> make(Type type, const QString& mountPoint,
                                                   qint64 bytes, QString* why = nullptr);
    ~ScratchFileSystem();
    ScratchFileSystem(const ScratchFileSystem&) = delete;
    ScratchFileSystem& operator=(const ScratchFileSystem&) = delete;

    // Unmounts it as a pulled stick: the folder beneath is what the path names now.
    void unmount();
    // Plugs it in again: the same image (a tmpfs comes back empty), possibly on another loop
    // device and always under another device number. False on failure.
    bool mountAgain();
    const QString& mountPoint() const { return m_mountPoint; }

private:
    ScratchFileSystem(Type type, const QString& mountPoint, const QString& image, qint64 bytes);
    QString mountNow();

    Type m_type;
    QString m_mountPoint;
    QString m_image;  // empty for a tmpfs and a ramfs
    qint64 m_bytes;
    bool m_mounted = false;
    // Unmounts and removes the image once the object goes, or the test process is killed.
    std::unique_ptr<AtTestEnd> m_atTestEnd;
};

}  // namespace kw::test
