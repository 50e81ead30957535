#include "tests/support/writers.h"

#include "tests/support/launch.h"
#include "tests/support/qtapp.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>

#include <csignal>

namespace kw::test {

namespace {

std::vector<QThread*> fileWorkThreads;

bool setCapabilityOfThisThread(int capability, bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    __user_cap_data_struct& word = data[capability / 32];
    const unsigned bit = 1u << (capability % 32);
    if (on && !(word.permitted & bit))
        return false;
    word.effective = on ? word.effective | bit : word.effective & ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

void registerFileWorkThread(QThread* thread) {
    fileWorkThreads.push_back(thread);
}

void unregisterFileWorkThread(QThread* thread) {
    std::erase(fileWorkThreads, thread);
}

bool setCapability(int capability, bool on) {
    bool done = setCapabilityOfThisThread(capability, on);
    for (QThread* thread : fileWorkThreads) {
        auto* context = new QObject;
        context->moveToThread(thread);
        QMetaObject::invokeMethod(
            context, [&] { done = setCapabilityOfThisThread(capability, on) && done; },
            Qt::BlockingQueuedConnection);
        context->deleteLater();
    }
    return done;
}

// Appends size bytes n times to $0, held open, the pauses (seconds) taken in turn; says when.
constexpr char kWriterScript[] = R"(exec 3>>"$0" && echo opened || exit 1; n=$1 size=$2; shift 2
while [ $n -gt 0 ]; do head -c $size /dev/zero | tr '\0' a >&3 || exit 1
  n=$((n - 1)); [ $n -gt 0 ] && sleep $1 && set -- "$@" $1 && shift; done
exec 3>&- && echo closed)";

Writer::Writer(const QString& path, int pieces, qint64 bytes, const QList<int>& pausesMs) {
    QStringList command{
        "sh", "-c", kWriterScript, path, QString::number(pieces), QString::number(bytes)};
    for (const int pause : pausesMs)
        command.append(QString::number(pause / 1000.0));
    launch(m_process, {.command = command, .ownGroup = true});
}

Writer::~Writer() {
    endGroup(m_process);
}

bool Writer::waitOpened() {
    waitUntil([this] { return (m_output += m_process.readAllStandardOutput()).contains('\n'); },
              15000);
    return m_output.startsWith("opened\n");
}

bool Writer::waitClosed() {
    waitUntil([this] { return !running(); }, 30000);
    m_output += m_process.readAllStandardOutput();
    return !running() && m_process.exitCode() == 0 && m_output.contains("closed\n");
}

bool giveToAnotherUser(const QString& path) {
    return ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

}  // namespace kw::test
