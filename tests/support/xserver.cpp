#include "tests/support/xserver.h"

#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <sys/prctl.h>
#include <csignal>

namespace kw::test {

std::unique_ptr<QProcess> startHelper(const QString& program, const QStringList& arguments,
                                      const QProcessEnvironment& environment) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start(program, arguments);
    return process;
}

XvfbServer::~XvfbServer() {
    if (!m_process)
        return;
    m_process->terminate();
    m_process->waitForFinished(5000);
}

QString XvfbServer::start() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return QStringLiteral("needs Xvfb");
    // Xvfb picks a free display and names it on its output once it accepts clients. Without
    // -noreset it would reset whenever its last client leaves, refusing clients meanwhile.
    m_process = startHelper(
        xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    // The number and its line end may arrive in two pieces.
    while (!m_process->canReadLine()) {
        if (!m_process->waitForReadyRead(15000))
            return QStringLiteral("Xvfb did not start");
    }
    m_display = ':' + m_process->readLine().trimmed();
    return {};
}

QString TestWindows::start(const QByteArray& display) {
    const QString helper = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/tests/kw_xwindows";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    m_process = startHelper(helper, {}, environment);
    if (!m_process->waitForStarted(5000))
        return QStringLiteral("the window helper %1 did not start").arg(helper);
    return {};
}

TestWindows::~TestWindows() {
    if (!m_process)
        return;
    m_process->closeWriteChannel();
    if (!m_process->waitForFinished(5000))
        m_process->kill();
    m_process->waitForFinished(5000);
}

QByteArray TestWindows::command(const QStringList& fields) {
    m_process->write(fields.join(QLatin1Char('\t')).toUtf8() + '\n');
    while (!m_process->canReadLine()) {
        if (!m_process->waitForReadyRead(10000))
            return {};
    }
    const QByteArray answer = m_process->readLine().trimmed();
    return answer.startsWith("ok") ? answer.mid(3) : QByteArray();
}

WindowId TestWindows::window(const QString& className, const QString& instanceName, bool mapped,
                             const QString& netWmName, const QString& wmName) {
    return command({"window", className, instanceName, mapped ? "1" : "0", netWmName, wmName})
        .toUInt();
}

WindowId TestWindows::framed(const QString& className, const QString& caption) {
    return command({"framed", className, caption}).toUInt();
}

WindowId TestWindows::child(WindowId parent, const QString& className) {
    return command({"child", QString::number(parent), className}).toUInt();
}

void TestWindows::startStorm() {
    m_process->write("storm\n");
    m_process->waitForBytesWritten(5000);
}

unsigned long TestWindows::stopStorm() {
    return command({"stop"}).toULong();
}

void XSuite::startSuite(Toolkit toolkit) {
    s_xvfb = new XvfbServer;
    s_whyNot = s_xvfb->start();
    if (!s_whyNot.isEmpty() || toolkit == Toolkit::Offscreen) {
        ensureApplication();
        return;
    }
    qputenv("DISPLAY", s_xvfb->display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    ensureApplication();
    s_toolkitOnDisplay = true;
    if (toolkit != Toolkit::OnDisplayWithTray)
        return;
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (trayer.isEmpty()) {
        s_whyNot = QStringLiteral("needs trayer");
        return;
    }
    s_trayer =
        startHelper(trayer, {"--edge", "bottom", "--align", "right", "--height", "24"}).release();
    if (!waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        s_whyNot = QStringLiteral("trayer did not become the notification area");
}

void XSuite::TearDownTestSuite() {
    // The application goes before its X server, or losing the connection would end us.
    if (s_toolkitOnDisplay)
        delete QCoreApplication::instance();
    if (s_trayer) {
        s_trayer->terminate();
        s_trayer->waitForFinished(5000);
    }
    delete s_trayer;
    delete s_xvfb;
    s_trayer = nullptr;
    s_xvfb = nullptr;
}

void XSuite::SetUp() {
    if (!s_whyNot.isEmpty())
        KW_CANNOT_RUN(s_whyNot.toStdString());
    const QString whyNot = windows.start(s_xvfb->display());
    if (!whyNot.isEmpty())
        KW_CANNOT_RUN(whyNot.toStdString());
}

}  // namespace kw::test
