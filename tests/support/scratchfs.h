#pragma once

#include "tests/support/teardown.h"

#include <QString>

#include <memory>

namespace kw::test {

// A file system a test mounts (root only): tmpfs, ramfs (no extended attributes), or an ext4, exFAT
// or NTFS image; unmounted when the object goes, or by a watcher when the test process is killed.
class ScratchFileSystem {
public:
    enum class Type { Tmpfs, Exfat, Ntfs, Ramfs, Ext4 };

    // Mounted at mountPoint (made when missing); nullptr, with the reason in *why, where it cannot.
    static std::unique_ptr<ScratchFileSystem> make(Type type, const QString& mountPoint,
                                                   qint64 bytes, QString* why = nullptr);
    ~ScratchFileSystem();
    ScratchFileSystem(const ScratchFileSystem&) = delete;
    ScratchFileSystem& operator=(const ScratchFileSystem&) = delete;

    // Unmounts it as a pulled stick: the folder beneath is what the path names now.
    void unmount();
    // Plugs it in again under another device number (a tmpfs comes back empty).
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
