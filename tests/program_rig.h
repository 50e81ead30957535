#pragma once

// Shared by the tests of the running program: a program over a fresh temporary folder, the real
// executable started as a process, and readers for the files they write.

#include "app/program.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "scan/engine.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"
#include "ui/mainwindow.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << "{\"" << texts.join(QLatin1String("\", \"")).toStdString() << "\"}";
}

namespace kw::apptest {

using test::ensureApplication;
using test::waitUntil;

inline QByteArray bytesOf(const QString& path) {
    return fs::readAll(path).value_or(QByteArray());
}

// The log file's lines without their stamps, up to the empty lines that end a session.
inline QStringList logLines(const QString& logFile) {
    static const QRegularExpression stamp(
        QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4}/\\d\\d:\\d\\d:\\d\\d -> "));
    QString text = QString::fromUtf8(bytesOf(logFile));
    for (int i = 0; i < 2 && text.endsWith(QLatin1String("\r\n")); ++i)
        text.chop(2);
    QStringList lines = text.split(QLatin1String("\r\n"));
    for (QString& line : lines)
        line.remove(stamp);
    return lines;
}

// A program whose executable and data live in a fresh temporary folder, with a recording
// desktop unless the test asks for the real one.
class ProgramRig {
public:
    ProgramRig() {
        ensureApplication();
        fs::makePath(dataFolder);
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
        program = std::make_unique<Program>(StartOptions{dataFolder + QLatin1String("Kopierwart"),
                                                         dataFolder, true, downloads, shippedSound},
                                            realDesktop ? nullptr : &desktop, [this] { ++ended; });
        program->Form_Load();
        return *program;
    }

    template <typename T>
    T* control(const QString& name) {
        return program->window().findChild<T*>(name);
    }

    QTemporaryDir dir;
    QString dataFolder = dir.path() + QLatin1String("/data/");
    QString downloads = dir.path() + QLatin1String("/Downloads");
    QString shippedSound;  // the installed sound a first start copies; none by default
    test::RecordingDesktop desktop;
    int ended = 0;
    std::unique_ptr<Program> program;
};

// The built program copied into a folder of its own, which then is its data folder.
class ProgramProcess {
public:
    explicit ProgramProcess(const QString& folder) : m_folder(folder) {
        QProcess::execute(
            QStringLiteral("cp"),
            {qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Kopierwart", m_folder});
    }

    bool available() const { return fs::isReadableFile(m_folder + QLatin1String("Kopierwart")); }
    QString log() const { return m_folder + QLatin1String("Kopierwart.Log"); }

    void start(QProcess& process) const {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(m_folder + QLatin1String("Kopierwart"), {});
    }

    // True once the log shows the start-up sequence complete the given number of times.
    bool started(int times = 1) const {
        return logLines(log()).count(QLatin1String("Starting P2Pfinder.....")) >= times;
    }

private:
    QString m_folder;
};

}  // namespace kw::apptest
