#include "tests/support/writers.h"

#include "tests/support/qtapp.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>

namespace kw::test {
namespace {

bool setLeaseCapability(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_LEASE;
    if (on)
        data[0].effective |= data[0].permitted & bit;
    else
        data[0].effective &= ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

Writer::Writer(const QString& path, int pieces, qint64 bytes, int pauseMs) {
    m_process.start(
        QStringLiteral(KW_TEST_WRITER),
        {path, QString::number(pieces), QString::number(bytes), QString::number(pauseMs)});
}

Writer::~Writer() {
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Writer::waitOpened(int timeoutMs) {
    return waitUntil(
               [this] {
                   m_output += m_process.readAllStandardOutput();
                   return m_output.contains('\n') || !running();
               },
               timeoutMs) &&
           m_output.startsWith("opened\n");
}

bool Writer::waitClosed(int timeoutMs) {
    if (!waitUntil([this] { return !running(); }, timeoutMs))
        return false;
    m_output += m_process.readAllStandardOutput();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0 &&
           m_output.contains("closed\n");
}

WithoutLeaseCapability::WithoutLeaseCapability() : m_active(setLeaseCapability(false)) {}

WithoutLeaseCapability::~WithoutLeaseCapability() {
    if (m_active)
        setLeaseCapability(true);
}

bool giveToAnotherUser(const QString& path) {
    return ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

QByteArray runAsOrdinaryUser(const QString& filter) {
    QProcess child;
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                 QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                 QStringLiteral("--gtest_filter=") + filter});
    child.waitForFinished(180000);
    return child.readAllStandardOutput();
}

}  // namespace kw::test
