#include "tests/support/writers.h"

#include "tests/support/qtapp.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>

namespace kw::test {

bool setLeaseCapability(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_LEASE;
    data[0].effective =
        on ? data[0].effective | (data[0].permitted & bit) : data[0].effective & ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

Writer::Writer(const QString& path, int pieces, qint64 bytes, int pauseMs) {
    m_process.start(KW_TEST_WRITER, {path, QString::number(pieces), QString::number(bytes),
                                     QString::number(pauseMs)});
}

Writer::Writer(const QString& path, int pieces, qint64 bytes, const QList<int>& pausesMs) {
    QStringList pauses;
    for (const int pause : pausesMs)
        pauses.append(QString::number(pause));
    m_process.start(KW_TEST_WRITER, {path, QString::number(pieces), QString::number(bytes),
                                     pauses.join(QLatin1Char(','))});
}

Writer::~Writer() {
    m_process.kill();
    m_process.waitForFinished(5000);
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
