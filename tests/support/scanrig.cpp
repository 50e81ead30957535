#include "tests/support/scanrig.h"

#include "core/files.h"
#include "platform/fs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>

namespace kw::test {

void ensureCoreApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "kopierwart-test";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

QByteArray readBytes(const QString& path) {
    return fs::readAll(path).value_or(QByteArray());
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    fs::removeFile(path);
    fs::append(path, bytes);
}

void appendBytes(const QString& path, const QByteArray& bytes) {
    fs::append(path, bytes);
}

QStringList entriesOf(const QString& folder) {
    QStringList names = fs::namesStartingWith(folder, QString());
    names.removeAll(QStringLiteral("."));
    names.removeAll(QStringLiteral(".."));
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray patternBytes(qint64 count, int seed) {
    QByteArray bytes(count, Qt::Uninitialized);
    quint32 state = 2463534242u + quint32(seed);
    for (qint64 i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state);
    }
    return bytes;
}

TmpfsMount::TmpfsMount(const QString& folder, const QString& size) : m_folder(folder) {
    fs::makePath(folder);
    QProcess mount;
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=") + size, QStringLiteral("tmpfs"), folder});
    m_mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit &&
                mount.exitCode() == 0;
}

TmpfsMount::~TmpfsMount() {
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder});
}

ScanRig::ScanRig() : engine(data, log, desktop) {
    const QString root = dir.path() + QLatin1Char('/');
    source = root + QStringLiteral("in/");
    destination = root + QStringLiteral("out/");
    fs::makePath(source);
    fs::makePath(destination);
    fs::makePath(root + QStringLiteral("data/"));
    data.My = fileSetFor(root + QStringLiteral("data/"), QStringLiteral("Kopierwart"));
    data.My.Source = source;
    data.My.Destination = destination;
    data.My.ScanInterval = 5;
    data.My.SavedFileCount = QStringLiteral("0");
    data.My.SavedMegabytes = QStringLiteral("0");
    data.BlockedExtensions = QStringList();
    data.TaskList = QStringList();
    data.CopiedFiles = QStringList();
    data.UserP2PList = QStringList();
    log.setLogFile(data.My.Log);
    log.setDebugWindow(&window);
}

ScanRig::~ScanRig() {
    for (const QString& folder : {source, destination}) {
        for (const QString& name : entriesOf(folder))
            fs::removeFile(folder + name);
    }
}

QStringList ScanRig::takeLog() {
    QStringList texts;
    for (qsizetype i = m_taken; i < window.lines.size(); ++i) {
        const QString& line = window.lines[i];
        const qsizetype arrow = line.indexOf(QLatin1String(" ~~> "));
        texts.append(arrow < 0 ? line : line.mid(arrow + 5));
    }
    m_taken = window.lines.size();
    return texts;
}

}  // namespace kw::test
