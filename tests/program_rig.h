#pragma once

// Shared by the tests of the running program: a program over a fresh temporary folder, the real
// executable started as a process, and readers for the files they write.

#include "app/program.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/engine.h"
#include "tests/support/files.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"
#include "ui/mainwindow.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace kw::apptest {

using namespace kw::test;


// The folder name in dir, made with its parents; with a slash at its end, as the settings hold
// folders.
inline QString folderIn(const QTemporaryDir& dir, const QString& name) {
    const QString path = dir.path() + QLatin1Char('/') + name + QLatin1Char('/');
    fs::makePath(path);
    return path;
}

// The first child of a process, as a wrapper (strace) started it; -1 when it has none.
inline pid_t childOf(qint64 process) {
    const QByteArray children =
        bytesOf(QStringLiteral("/proc/%1/task/%1/children").arg(process)).trimmed();
    return children.isEmpty() ? -1 : pid_t(children.split(' ').first().toInt());
}

// The log file's lines without their stamps, up to the empty lines that end a session.
inline QStringList logLines(const QString& logFile) {
    static const QRegularExpression stamp(QStringLiteral("^[\\d./:]{19} -> "));
    static const QRegularExpression sessionEnd(QStringLiteral("(\r\n){0,2}\\z"));
    const QString text = QString::fromUtf8(bytesOf(logFile)).remove(sessionEnd);
    return text.split(QLatin1String("\r\n")).replaceInStrings(stamp, QString());
}

// Every entry of folder with its size, time and a hash of its bytes; the log and its spare only
// when withLog, as a running instance may go on writing them.
inline QStringList folderSnapshot(const QString& folder, bool withLog) {
    QStringList entries;
    for (const QString& name : fs::namesStartingWith(folder, QString())) {
        const auto facts = fs::facts(folder + name);
        if (!facts || (!withLog && name.contains(QLatin1String("Kopierwart.Log"))))
            continue;
        entries.append(name + QLatin1Char(' ') + QString::number(facts->size) + QLatin1Char(' ') +
                       QString::number(facts->modifiedNs) + QLatin1Char(' ') +
                       QString::number(qHash(bytesOf(folder + name))));
    }
    entries.sort();
    return entries;
}

// A program whose executable and data live in a fresh temporary folder, with a recording
// desktop unless the test asks for the real one.
struct ProgramRig {
    ProgramRig() { ensureApplication(); }
    ~ProgramRig() {
        // A tick still running holds the engine; let it end first.
        if (program)
            waitUntil([this] { return !program->engine().ScanBusy(); });
    }

    QString ini() const { return dataFolder + QLatin1String("Kopierwart.ini"); }
    QString log() const { return dataFolder + QLatin1String("Kopierwart.Log"); }
    QString folder(const QString& name) const { return folderIn(dir, name); }
    void setting(const QString& key, const QString& to) { WriteIniValue(ini(), key, key, to); }
    template <typename T>
    T* control(const QString& name) {
        return program->window().findChild<T*>(name);
    }

    // beforeLoad runs once the program, with its engine, is made and before it starts up.
    Program& start(bool realDesktop = false, const std::function<void()>& beforeLoad = {}) {
        program = std::make_unique<Program>(StartOptions{dataFolder + QLatin1String("Kopierwart"),
                                                         dataFolder, true, downloads, shippedSound},
                                            realDesktop ? nullptr : &desktop, [this] { ++ended; });
        if (beforeLoad)
            beforeLoad();
        program->Form_Load();
        // The start-up sequence goes on while events run: the file work checks the folders and
        // makes the first scan meanwhile.
        waitUntil([this] { return program->started() || program->closing(); }, 60'000);
        return *program;
    }

    QTemporaryDir dir;
    QString dataFolder = folder(QStringLiteral("data"));
    QString downloads = dir.path() + QLatin1String("/Downloads");
    QString shippedSound;  // the installed sound a first start copies; none by default
    test::RecordingDesktop desktop;
    int ended = 0;
    std::unique_ptr<Program> program;
};

// A program whose two folders are set and usable, with the given files waiting in the watched
// folder when it starts.
struct FoldersRig : ProgramRig {
    explicit FoldersRig(const QStringList& waiting = {}) {
        setting(QStringLiteral("Source"), source);
        setting(QStringLiteral("Destination"), destination);
        for (const QString& name : waiting)
            fs::replaceAtomically(source + name, "content of " + name.toUtf8());
    }
    QString source = folder(QStringLiteral("watched"));
    QString destination = folder(QStringLiteral("moved"));
};

// The built program copied into a folder of its own, which then is its data folder. The folder's
// name may be one Qt cannot spell: the child goes there by its bytes and starts "./Kopierwart".
struct ProgramProcess {
    explicit ProgramProcess(const QString& folder) : folder(folder) {
        fs::replaceAtomically(program(), bytesOf(qEnvironmentVariable("KW_TEST_BINARY_DIR") +
                                                 QLatin1String("/app/Kopierwart")));
        ::chmod(encodeLocal(program()).constData(), 0755);
    }
    QString program() const { return folder + QLatin1String("Kopierwart"); }
    QString log() const { return folder + QLatin1String("Kopierwart.Log"); }

    void start(QProcess& process) const {
        process.setChildProcessModifier([bytes = encodeLocal(folder)] {
            if (::chdir(bytes.constData()) != 0)
                ::_exit(127);
        });
        process.start(QStringLiteral("./Kopierwart"), {});
    }

    const QString folder;
};

}  // namespace kw::apptest
