#include "tests/support/scratchfs.h"

#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/teardown.h"

#include <sys/mount.h>
#include <unistd.h>

#include <QRandomGenerator>

namespace kw::test {

ScratchFileSystem::ScratchFileSystem(Type type, const QString& mountPoint, const QString& image,
                                     qint64 bytes)
    : m_type(type), m_mountPoint(mountPoint), m_image(image), m_bytes(bytes) {}

std::unique_ptr<ScratchFileSystem> ScratchFileSystem::make(Type type, const QString& mountPoint,
                                                           qint64 bytes, QString* why) {
    QString unused;
    why = why ? why : &unused;
    if (::geteuid() != 0) {
        *why = QStringLiteral("mounting needs root");
        return nullptr;
    }
    const QString folder = withoutTrailingSlash(mountPoint);
    if (const int error = fs::makePath(folder)) {
        *why = QLatin1String("cannot make the mount point: ") + fs::errorText(error);
        return nullptr;
    }
    QString image;
    if (type != Type::Tmpfs && type != Type::Ramfs) {
        image =
            folder + QStringLiteral(".%1.img").arg(QRandomGenerator::global()->generate(), 0, 16);
        *why = runProgram("truncate", {"-s", QString::number(bytes), image});
        if (why->isEmpty())
            *why = type == Type::Exfat  ? runProgram("mkfs.exfat", {image})
                   : type == Type::Ext4 ? runProgram("mkfs.ext4", {"-q", "-F", image})
                                        : runProgram("mkntfs", {"-F", "-Q", "-q", image});
        if (!why->isEmpty()) {
            fs::removeFile(image);
            return nullptr;
        }
    }
    std::unique_ptr<ScratchFileSystem> made(new ScratchFileSystem(type, folder, image, bytes));
    // A lazy unmount also ends the FUSE process, and with it the self-detaching loop device.
    QString undo = "umount -l " + shellQuoted(folder) + " 2>/dev/null";
    if (!image.isEmpty())
        undo += "; rm -f " + shellQuoted(image);
    made->m_atTestEnd = std::make_unique<AtTestEnd>(undo);
    *why = made->mountNow();
    if (!why->isEmpty())
        return nullptr;
    return made;
}

// Images go on loop devices that detach themselves when the FUSE process that holds them ends.
QString ScratchFileSystem::mountNow() {
    const QString why =
        m_type == Type::Tmpfs
            ? runProgram("mount", {"-t", "tmpfs", "-o", "size=" + QString::number(m_bytes), "tmpfs",
                                   m_mountPoint})
        : m_type == Type::Ramfs ? runProgram("mount", {"-t", "ramfs", "ramfs", m_mountPoint})
                                : runProgram("mount", {"-o", "loop", "-t",
                                                       m_type == Type::Exfat  ? "exfat-fuse"
                                                       : m_type == Type::Ext4 ? "ext4"
                                                                              : "ntfs-3g",
                                                       m_image, m_mountPoint});
    m_mounted = why.isEmpty();
    return why;
}

void ScratchFileSystem::unmount() {
    if (!m_mounted)
        return;
    const QByteArray target = encodeLocal(m_mountPoint);
    // A file still open there must not keep the test's file system mounted.
    if (::umount2(target.constData(), 0) != 0)
        ::umount2(target.constData(), MNT_DETACH);
    m_mounted = false;
}

bool ScratchFileSystem::mountAgain() {
    return !m_mounted && mountNow().isEmpty();
}

ScratchFileSystem::~ScratchFileSystem() {
    unmount();
}

}  // namespace kw::test
