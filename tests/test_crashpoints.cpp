// The real program killed at each step of a move that changes a file: every call of a writing
// system call, counted from the start, gets a SIGKILL in turn (strace's injection), until a run
// finishes its start-up move before the count is reached. After each kill the program is started
// again; then every file is once and whole, nothing else is in the destination, the settings
// still name both folders and the register holds no key twice.
//
// CTest takes a sample of the crash points (the first, middle and last call of each writing call
// a move makes); KW_CRASH_SWEEP=all takes every one of them (bench/crash_sweep.sh).
#include "core/files.h"
#include "core/folderpairs.h"
#include "core/inifile.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <csignal>
#include <iostream>

using namespace kw;
using namespace kw::apptest;
using kw::test::ScratchFileSystem;

namespace {

// Every call by which the program changes a file or its name; glibc's futimens is utimensat.
const QStringList kWritingCalls{"write",     "pwrite64",  "writev", "copy_file_range", "ftruncate",
                                "fsync",     "fdatasync", "syncfs", "rename",          "renameat",
                                "renameat2", "linkat",    "unlink", "unlinkat",        "fchmod",
                                "fchmodat",  "utimensat"};

// The line the program logs once its start-up, the first move included, is done.
const QString kStartedLine = QStringLiteral("Starting P2Pfinder.....");

struct MovedFile {
    QString name;
    int size;
    // In the watched folder of a further pair, whose destination is the same.
    bool inSecondPair = false;
};

struct Move {
    const char* name;
    bool acrossFileSystems;
    QList<MovedFile> files;
};

void PrintTo(const Move& move, std::ostream* out) {
    *out << move.name;
}

// Each file holds bytes of its own, so one that arrived as another shows.
QByteArray bytesFor(const MovedFile& file) {
    QByteArray bytes(file.size, Qt::Uninitialized);
    quint32 state = qHash(file.name) | 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 23);
    }
    return bytes;
}

void emptyFolder(const QString& folder, const QString& keep = QString()) {
    for (const QString& name : test::entriesOf(folder)) {
        if (name != keep)
            fs::removeFile(folder + name);
    }
}

struct CallSweep {
    int tried = 0;     // crash points at which the program was killed
    int lastKill = 0;  // the highest count that killed it
};

class CrashPoints : public ::testing::TestWithParam<Move> {
protected:
    void SetUp() override {
        test::ensureApplication();
        if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
            KW_CANNOT_RUN("strace is not installed");
        program = std::make_unique<ProgramProcess>(folder(QStringLiteral("Programm")));
        if (!fs::facts(program->program()))
            KW_CANNOT_RUN("the program is not built");
        watched = folder(QStringLiteral("Upload"));
        watched2 = folder(QStringLiteral("Upload 2"));
        if (GetParam().acrossFileSystems) {
            QString why;
            stick = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs,
                                            dir.path() + QLatin1String("/Stick"), 64 << 20, &why);
            if (!stick)
                KW_CANNOT_RUN(why.toStdString());
            destination = folder(QStringLiteral("Stick/Ziel"));
        } else {
            destination = folder(QStringLiteral("Ziel"));
        }
    }

    QString folder(const QString& name) const { return folderIn(dir, name); }
    QString data(const char* name) const { return program->folder + QLatin1String(name); }
    QString watchedOf(const MovedFile& file) const {
        return file.inSecondPair ? watched2 : watched;
    }

    // A fresh start: the files in the watched folder, settings that name both folders, nothing
    // else beside the program.
    void prepare() {
        emptyFolder(program->folder, QStringLiteral("Kopierwart"));
        emptyFolder(watched);
        emptyFolder(watched2);
        emptyFolder(destination);
        for (const MovedFile& file : GetParam().files) {
            ASSERT_EQ(fs::replaceAtomically(watchedOf(file) + file.name, bytesFor(file)), 0);
            if (file.inSecondPair)
                SaveFolderPairs({{watched2, destination}}, data("Kopierwart.Pairlst"));
        }
        const QString ini = data("Kopierwart.ini");
        WriteIniValue(ini, "Source", "Source", watched);
        WriteIniValue(ini, "Destination", "Destination", destination);
        // No second tick inside a run: the start-up tick is the move.
        WriteIniValue(ini, "Intervall", "Intervall", QStringLiteral("60"));
    }

    int startedRuns() const { return logLines(program->log()).count(kStartedLine); }

    // The program under strace, which writes the calls it traces with the given options into
    // traceLog.
    void startTraced(QProcess& strace, const QString& traceLog, const QStringList& options) {
        strace.setWorkingDirectory(program->folder);
        // The offscreen platform's complaints would bury the sweep's own lines.
        strace.setStandardOutputFile(QProcess::nullDevice());
        strace.setStandardErrorFile(QProcess::nullDevice());
        strace.start(QStringLiteral("strace"), QStringList{"-f", "-q", "-o", traceLog, "-e"} +
                                                   options + QStringList{"./Kopierwart"});
        EXPECT_TRUE(strace.waitForStarted());
    }
    // Kills the program strace runs, which ends strace too.
    static void endTraced(QProcess& strace) {
        if (const pid_t child = childOf(strace.processId()); child > 0)
            ::kill(child, SIGKILL);
        EXPECT_TRUE(strace.waitForFinished(30000));
    }

    // Runs the program with a SIGKILL at the count-th call of call; true when that killed it
    // before its start-up move was done.
    bool killedAt(const QString& call, int count) {
        const QString traceLog = dir.path() + QLatin1String("/strace.log");
        QProcess strace;
        startTraced(strace, traceLog,
                    {"trace=" + call, "-e",
                     QStringLiteral("inject=%1:signal=KILL:when=%2").arg(call).arg(count)});
        const bool ended = test::waitUntil(
            [&] { return strace.state() == QProcess::NotRunning || startedRuns() > 0; }, 60000);
        EXPECT_TRUE(ended) << call.toStdString() << " " << count << ": no end, no start-up";
        if (startedRuns() > 0) {
            // Done before the count was reached: this run is not a crash point.
            endTraced(strace);
            return false;
        }
        EXPECT_TRUE(bytesOf(traceLog).contains("+++ killed by SIGKILL +++"))
            << call.toStdString() << " " << count << ": the program ended by itself";
        return true;
    }

    // How often each writing call is made in a run without injection until its start-up move is
    // done, by the thread that makes it most often (strace counts the calls of each thread).
    QMap<QString, int> callsOfAMove() {
        const QString traceLog = dir.path() + QLatin1String("/count.log");
        QProcess strace;
        startTraced(strace, traceLog, {"trace=" + kWritingCalls.join(',')});
        EXPECT_TRUE(test::waitUntil([&] { return startedRuns() > 0; }, 60000));
        endTraced(strace);
        static const QRegularExpression callLine(QStringLiteral("^(\\d+) +(\\w+)\\("));
        QMap<QString, QMap<QString, int>> perThread;
        for (const QString& line : QString::fromUtf8(bytesOf(traceLog)).split('\n')) {
            const QRegularExpressionMatch match = callLine.match(line);
            if (match.hasMatch())
                ++perThread[match.captured(2)][match.captured(1)];
        }
        QMap<QString, int> calls;
        for (auto it = perThread.cbegin(); it != perThread.cend(); ++it) {
            for (const int count : it.value())
                calls[it.key()] = qMax(calls.value(it.key()), count);
        }
        return calls;
    }

    // What a kill may leave: each file whole under its name in the watched folder, the
    // destination or both; the settings naming both folders.
    QString lossAfterKill() const {
        for (const MovedFile& file : GetParam().files) {
            const bool in = fs::facts(watchedOf(file) + file.name).has_value();
            const bool out = fs::facts(destination + file.name).has_value();
            if (!in && !out)
                return "'" + file.name + "' is gone";
            if (in && bytesOf(watchedOf(file) + file.name) != bytesFor(file))
                return "'" + file.name + "' in the watched folder is not whole";
            if (out && bytesOf(destination + file.name) != bytesFor(file))
                return "'" + file.name + "' in the destination is not whole";
        }
        return settingsProblem();
    }

    QString settingsProblem() const {
        const QString ini = data("Kopierwart.ini");
        if (ReadIniValue(ini, "Source", "Source") != watched)
            return "the settings no longer name the watched folder";
        if (ReadIniValue(ini, "Destination", "Destination") != destination)
            return "the settings no longer name the destination";
        return {};
    }

    // Started again without injection: once its start-up is done every file is in the
    // destination, whole and once, nothing else there, each key once in the register.
    QString problemAfterRestart() {
        QProcess again;
        program->start(again);
        if (!again.waitForStarted())
            return QStringLiteral("the program does not start again");
        const bool started = test::waitUntil([&] { return startedRuns() > 0; }, 60000);
        again.kill();
        again.waitForFinished(30000);
        if (!started)
            return QStringLiteral("started again, the program did not finish its start-up");
        if (const QStringList left = test::entriesOf(watched) + test::entriesOf(watched2);
            !left.isEmpty())
            return "left in the watched folder: " + left.join(", ");
        QStringList expected;
        for (const MovedFile& file : GetParam().files) {
            expected.append(file.name);
            if (bytesOf(destination + file.name) != bytesFor(file))
                return "'" + file.name + "' in the destination is not whole";
        }
        expected.sort();
        if (const QStringList there = test::entriesOf(destination); there != expected)
            return "the destination holds: " + there.join(", ");
        const QStringList keys = LoadListFile(data("Kopierwart.Copy")).value_or(QStringList());
        if (QSet<QString>(keys.begin(), keys.end()).size() != keys.size())
            return QStringLiteral("a key twice in the register");
        return settingsProblem();
    }

    QTemporaryDir dir;
    std::unique_ptr<ProgramProcess> program;
    std::unique_ptr<ScratchFileSystem> stick;
    QString watched;
    QString watched2;
    QString destination;
};

TEST_P(CrashPoints, EveryFileIsOnceAndWholeAfterAKillAtAnyWritingCallAndARestart) {
    const bool everyPoint = qEnvironmentVariable("KW_CRASH_SWEEP") == QLatin1String("all");
    QElapsedTimer clock;
    clock.start();
    // The sample: the first, the middle and the last call of each writing call the move makes.
    QMap<QString, int> calls;
    if (!everyPoint) {
        prepare();
        calls = callsOfAMove();
        ASSERT_FALSE(calls.isEmpty()) << "no writing call traced";
    }
    int total = 0;
    for (const QString& call : kWritingCalls) {
        QList<int> points;
        if (!everyPoint) {
            const int last = calls.value(call);
            for (const int count : {1, (last + 1) / 2, last}) {
                if (count > 0 && !points.contains(count))
                    points.append(count);
            }
        }
        int tried = 0;
        int lastKill = 0;
        for (qsizetype i = 0; everyPoint || i < points.size(); ++i) {
            const int count = everyPoint ? int(i) + 1 : points[i];
            prepare();
            if (!killedAt(call, count)) {
                if (everyPoint)
                    break;
                continue;
            }
            ++tried;
            lastKill = count;
            if (const QString loss = lossAfterKill(); !loss.isEmpty())
                ADD_FAILURE() << "killed at " << call.toStdString() << " call " << count << ": "
                              << loss.toStdString();
            if (const QString problem = problemAfterRestart(); !problem.isEmpty())
                ADD_FAILURE() << "killed at " << call.toStdString() << " call " << count
                              << ", started again: " << problem.toStdString();
            if (HasFailure())
                return;
        }
        total += tried;
        if (tried > 0)
            std::cout << GetParam().name << ": " << call.toStdString() << ", " << tried
                      << " crash points (calls up to " << lastKill << ")" << std::endl;
    }
    std::cout << GetParam().name << ": " << total << " crash points, all held, in "
              << clock.elapsed() / 1000 << " s" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(
    Moves, CrashPoints,
    ::testing::Values(
        Move{"CopyAcrossFileSystems", true, {{"Film 1.avi", 1'500'000}}},
        Move{"GroupOfCopies", true, {{"a.bin", 20'000}, {"b.bin", 30'000}, {"c.bin", 45'000}}},
        Move{"RenameOnOneFileSystem", false, {{"Film 1.avi", 1'500'000}}},
        Move{"TwoPairs", true, {{"a.bin", 20'000}, {"b.bin", 30'000, true}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
