#pragma once

// Shared by the tests of the running program: an application object, waiting with a deadline,
// a program over a fresh temporary folder, and the real executable started as a process.

#include "app/program.h"
#include "core/files.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "tests/support/recording.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '{';
    for (const QString& text : texts) {
        PrintTo(text, out);
        *out << ", ";
    }
    *out << '}';
}

namespace kw::apptest {

inline void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kopierwart-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
}

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

inline QByteArray bytesOf(const QString& path) {
    return fs::readAll(path).value_or(QByteArray());
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    fs::replaceAtomically(path, bytes);
}

// The log file's lines without their stamps; empty lines stay empty.
inline QStringList logLines(const QString& logFile) {
    static const QRegularExpression stamp(
        QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4}/\\d\\d:\\d\\d:\\d\\d -> "));
    QString text = QString::fromUtf8(bytesOf(logFile));
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    QStringList lines = text.split(QLatin1String("\r\n"));
    for (QString& line : lines)
        line.remove(stamp);
    return lines;
}

// The "[Section]" names of a settings file in file order.
inline QStringList sectionsOf(const QString& iniFile) {
    QStringList sections;
    for (const QString& line : QString::fromUtf8(bytesOf(iniFile)).split(QLatin1String("\r\n"))) {
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            sections.append(line.mid(1, line.size() - 2));
    }
    return sections;
}

// A program whose executable and data live in a fresh temporary folder, with a recording
// desktop unless the test asks for the real one.
class ProgramRig {
public:
    ProgramRig() {
        ensureApplication();
        dataFolder = dir.path() + QLatin1String("/data/");
        fs::makePath(dataFolder);
        downloads = dir.path() + QLatin1String("/Downloads");
    }
    ~ProgramRig() {
        // A tick still running holds the engine; let it end first.
        if (program)
            waitUntil([this] { return !program->engine().ScanBusy(); });
    }

    QString ini() const { return dataFolder + QLatin1String("Kopierwart.ini"); }
    QString log() const { return dataFolder + QLatin1String("Kopierwart.Log"); }
    QString folder(const QString& name) const {
        const QString path = dir.path() + QLatin1Char('/') + name + QLatin1Char('/');
        fs::makePath(path);
        return path;
    }
    void setting(const QString& key, const QString& value) {
        WriteIniValue(ini(), key, key, value);
    }

    Program& start(bool realDesktop = false) {
        program = std::make_unique<Program>(
            StartOptions{dataFolder + QLatin1String("Kopierwart"), dataFolder, true, downloads},
            realDesktop ? nullptr : &desktop, [this] { ++ended; });
        program->Form_Load();
        return *program;
    }

    template <typename T>
    T* control(const QString& name) {
        return program->window().findChild<T*>(name);
    }

    QTemporaryDir dir;
    QString dataFolder;
    QString downloads;
    test::RecordingDesktop desktop;
    int ended = 0;
    std::unique_ptr<Program> program;
};

// The built program copied into a folder of its own, which then is its data folder.
class ProgramProcess {
public:
    explicit ProgramProcess(const QString& folder) : m_folder(folder) {
        const QString built =
            qEnvironmentVariable("KW_TEST_BINARY_DIR") + QLatin1String("/app/Kopierwart");
        executable = folder + QLatin1String("Kopierwart");
        if (!fs::facts(executable))
            QProcess::execute(QStringLiteral("cp"), {built, executable});
    }

    bool available() const { return fs::isReadableFile(executable); }
    QString log() const { return m_folder + QLatin1String("Kopierwart.Log"); }

    void start(QProcess& process, const QProcessEnvironment& environment =
                                      QProcessEnvironment::systemEnvironment()) const {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(executable, {});
    }

    // True once the log shows the start-up sequence complete the given number of times.
    bool started(int times = 1) const {
        return logLines(log()).count(QLatin1String("Starting P2Pfinder.....")) >= times;
    }

    QString executable;

private:
    QString m_folder;
};

}  // namespace kw::apptest
