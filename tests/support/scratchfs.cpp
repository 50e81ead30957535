#include "tests/support/scratchfs.h"

#include "platform/fs.h"
#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

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

// Attaches image to a free loop device that detaches itself when its last user closes it, so
// that it goes with the FUSE process that mounted it. The device stays open in *device until
// the mount has opened it too.
QString attachLoop(const QString& image, Fd* device, QString* name) {
    Fd control(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    Fd backing(::open(encodeLocal(image).constData(), O_RDWR | O_CLOEXEC));
    if (!control.valid() || !backing.valid())
        return QLatin1String("no loop devices: ") + fs::errorText(errno);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int number = ::ioctl(control.get(), LOOP_CTL_GET_FREE);
        if (number < 0)
            return QLatin1String("no free loop device: ") + fs::errorText(errno);
        *name = QStringLiteral("/dev/loop%1").arg(number);
        *device = Fd(::open(encodeLocal(*name).constData(), O_RDWR | O_CLOEXEC));
        if (!device->valid())
            return *name + QLatin1String(": ") + fs::errorText(errno);
        // Another process may take the same free device first.
        if (::ioctl(device->get(), LOOP_SET_FD, backing.get()) != 0) {
            if (errno == EBUSY)
                continue;
            return QLatin1String("cannot attach a loop device: ") + fs::errorText(errno);
        }
        loop_info64 info{};
        info.lo_flags = LO_FLAGS_AUTOCLEAR;
        if (::ioctl(device->get(), LOOP_SET_STATUS64, &info) != 0) {
            const QString why = fs::errorText(errno);
            ::ioctl(device->get(), LOOP_CLR_FD, 0);
            return QLatin1String("cannot set up the loop device: ") + why;
        }
        return {};
    }
    return QStringLiteral("every free loop device was taken meanwhile");
}

}  // namespace

ScratchFileSystem::ScratchFileSystem(Type type, const QString& mountPoint, const QString& image,
                                     qint64 bytes)
    : m_type(type), m_mountPoint(mountPoint), m_image(image), m_bytes(bytes) {}

std::unique_ptr<ScratchFileSystem> ScratchFileSystem::make(Type type, const QString& mountPoint,
                                                           qint64 bytes, QString* why) {
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
    if (type != Type::Tmpfs) {
        image =
            folder + QStringLiteral(".%1.img").arg(QRandomGenerator::global()->generate(), 0, 16);
        Fd file(
            ::open(encodeLocal(image).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!file.valid() || ::ftruncate(file.get(), bytes) != 0) {
            *why = QLatin1String("cannot make the image: ") + fs::errorText(errno);
            return nullptr;
        }
        *why = type == Type::Exfat
                   ? run(QStringLiteral("mkfs.exfat"), {image})
                   : run(QStringLiteral("mkntfs"),
                         {QStringLiteral("-F"), QStringLiteral("-Q"), QStringLiteral("-q"), image});
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

QString ScratchFileSystem::mountNow() {
    const QByteArray target = encodeLocal(m_mountPoint);
    if (m_type == Type::Tmpfs) {
        const QByteArray options = "size=" + QByteArray::number(m_bytes);
        if (::mount("tmpfs", target.constData(), "tmpfs", 0, options.constData()) != 0)
            return QLatin1String("cannot mount a tmpfs: ") + fs::errorText(errno);
        m_mounted = true;
        return {};
    }
    Fd device;
    QString deviceName;
    if (QString why = attachLoop(m_image, &device, &deviceName); !why.isEmpty())
        return why;
    const QString why = m_type == Type::Exfat
                            ? run(QStringLiteral("mount.exfat-fuse"), {deviceName, m_mountPoint})
                            : run(QStringLiteral("ntfs-3g"), {deviceName, m_mountPoint});
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
