#include "tests/support/scratchfs.h"

#include "platform/fs.h"
#include "platform/textcodec.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QRandomGenerator>

#include <cerrno>

namespace kw::test {
namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60'000))
        return program + QLatin1String(" did not run: ") + process.errorString();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QLatin1String(" failed: ") + QString::fromLocal8Bit(process.readAll());
    return {};
}

}  // namespace

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
    QString folder = mountPoint;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (const int error = fs::makePath(folder)) {
        *why = QLatin1String("cannot make the mount point: ") + fs::errorText(error);
        return nullptr;
    }
    QString image;
    if (type != Type::Tmpfs && type != Type::Ramfs) {
        image =
            folder + QStringLiteral(".%1.img").arg(QRandomGenerator::global()->generate(), 0, 16);
        *why = run("truncate", {"-s", QString::number(bytes), image});
        if (why->isEmpty())
            *why = type == Type::Exfat ? run("mkfs.exfat", {image})
                                       : run("mkntfs", {"-F", "-Q", "-q", image});
        if (!why->isEmpty()) {
            fs::removeFile(image);
            return nullptr;
        }
    }
    std::unique_ptr<ScratchFileSystem> made(new ScratchFileSystem(type, folder, image, bytes));
    made->startWatcher();
    *why = made->mountNow();
    if (!why->isEmpty())
        return nullptr;
    return made;
}

void ScratchFileSystem::startWatcher() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    // Prepared before the fork: the child may only make async-signal-safe calls.
    const QByteArray mountPoint = encodeLocal(m_mountPoint);
    const QByteArray image = encodeLocal(m_image);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[0], 0);
        // Holding no other descriptor, it learns of the test's end whichever way it ends.
        ::close_range(3, ~0U, 0);
        char byte;
        while (::read(0, &byte, 1) != 0 && errno == EINTR) {
        }
        // A lazy unmount also ends the FUSE process, and with it the self-detaching loop device.
        ::umount2(mountPoint.constData(), MNT_DETACH);
        if (!image.isEmpty())
            ::unlink(image.constData());
        ::_exit(0);
    }
    ::close(ends[0]);
    if (pid < 0) {
        ::close(ends[1]);
        return;
    }
    m_watcher = pid;
    m_watcherPipe = ends[1];
}

// Images go on loop devices that mount sets up to detach themselves when the FUSE process that
// holds them ends.
QString ScratchFileSystem::mountNow() {
    const QString why =
        m_type == Type::Tmpfs
            ? run("mount",
                  {"-t", "tmpfs", "-o", "size=" + QString::number(m_bytes), "tmpfs", m_mountPoint})
        : m_type == Type::Ramfs
            ? run("mount", {"-t", "ramfs", "ramfs", m_mountPoint})
            : run("mount", {"-o", "loop", "-t", m_type == Type::Exfat ? "exfat-fuse" : "ntfs-3g",
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
    if (m_watcherPipe >= 0)
        ::close(m_watcherPipe);
    if (m_watcher > 0)
        ::waitpid(m_watcher, nullptr, 0);
    if (!m_image.isEmpty())
        fs::removeFile(m_image);
}

}  // namespace kw::test
