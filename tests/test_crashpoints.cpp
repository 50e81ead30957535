// The real program killed by strace at the N-th call of each writing system call of a move, then
// started again: no file lost, torn or doubled, no key twice in the register, the settings kept.
// CTest takes the first, middle and last call of each; KW_CRASH_SWEEP=all every one (bench/).
#include "core/files.h"
#include "core/folderpairs.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QSet>
#include <QStandardPaths>

#include <iostream>

using namespace kw;
using namespace kw::apptest;

namespace {

// Every call by which the program changes a file or its name; glibc's futimens is utimensat.
const QStringList kWritingCalls{"write",     "pwrite64",  "writev", "copy_file_range", "ftruncate",
                                "fsync",     "fdatasync", "syncfs", "rename",          "renameat",
                                "renameat2", "linkat",    "unlink", "unlinkat",        "fchmod",
                                "fchmodat",  "utimensat"};

struct Move {
    const char* name;
    bool acrossFileSystems;                // the destination on a tmpfs of its own
    QList<std::pair<QString, int>> files;  // name and size; each file's bytes its own
    // Files in the watched folder of a further pair with the same destination.
    QList<std::pair<QString, int>> secondPairFiles = {};
    friend void PrintTo(const Move& move, std::ostream* out) { *out << move.name; }
};

struct PlacedFile {
    QString watched, name;
    int size;
};

class CrashPoints : public ::testing::TestWithParam<Move> {
protected:
    void SetUp() override {
        ensureApplication();
        if (QStandardPaths::findExecutable("strace").isEmpty())
            KW_CANNOT_RUN("strace is not installed");
        if (GetParam().acrossFileSystems) {
            QString why;
            stick = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Tmpfs,
                                                  dir.path() + "/Stick", 64 << 20, &why);
            if (!stick)
                KW_CANNOT_RUN(why.toStdString());
        }
        destination = folderIn(dir, GetParam().acrossFileSystems ? "Stick/Ziel" : "Ziel");
    }

    static QByteArray bytesFor(const QString& name, int size) {
        return patternBytes(size, qHash(name));
    }
    QList<PlacedFile> placedFiles() const {
        QList<PlacedFile> placed;
        for (const auto& [name, size] : GetParam().files)
            placed.append({watched, name, size});
        for (const auto& [name, size] : GetParam().secondPairFiles)
            placed.append({watched2, name, size});
        return placed;
    }

    // A fresh start whose start-up tick is the move, and no second tick.
    void prepare() {
        for (const QString& folder : {program.folder, watched, watched2, destination})
            for (const QString& name : entriesOf(folder))
                if (name != "Kopierwart")
                    fs::removeFile(folder + name);
        for (const PlacedFile& file : placedFiles())
            writeBytes(file.watched + file.name, bytesFor(file.name, file.size));
        if (!GetParam().secondPairFiles.isEmpty())
            SaveFolderPairs({{watched2, destination}}, program.folder + "Kopierwart.Pairlst");
        program.setting("Source", watched);
        program.setting("Destination", destination);
        program.setting("Intervall", "60");
    }
    bool started() const { return logLines(program.log()).contains(kStartedLine); }

    // The program under strace -f into traceLog; killing the program ends strace too.
    void runTraced(const QStringList& options, const std::function<void(QProcess&)>& meanwhile) {
        QProcess strace;
        strace.setStandardOutputFile(QProcess::nullDevice());
        strace.setStandardErrorFile(QProcess::nullDevice());
        program.start(
            strace,
            {.wrapper = QStringList{"strace", "-f", "-q", "-o", traceLog(), "-e"} + options});
        meanwhile(strace);
        if (strace.state() == QProcess::NotRunning)
            return;
        if (const pid_t child = test::childOf(strace.processId()); child > 0)
            ::kill(child, SIGKILL);
        EXPECT_TRUE(strace.waitForFinished(30000));
    }
    QString traceLog() const { return dir.path() + "/strace.log"; }

    // True when the kill came before the start-up move was done.
    bool killedAt(const QString& call, int count) {
        runTraced(
            {"trace=" + call, "-e", QString("inject=%1:signal=KILL:when=%2").arg(call).arg(count)},
            [&](QProcess& strace) {
                EXPECT_TRUE(waitUntil(
                    [&] { return strace.state() == QProcess::NotRunning || started(); }, 60000))
                    << call.toStdString() << " " << count << ": no end, no start-up";
            });
        if (started())
            return false;
        EXPECT_TRUE(bytesOf(traceLog()).contains("+++ killed by SIGKILL +++"))
            << call.toStdString() << " " << count << ": the program ended by itself";
        return true;
    }

    // How often the busiest thread makes each writing call in a move (strace counts per thread).
    QMap<QString, int> callsOfAMove() {
        runTraced({"trace=" + kWritingCalls.join(',')},
                  [&](QProcess&) { EXPECT_TRUE(waitUntil([&] { return started(); }, 60000)); });
        static const QRegularExpression callLine("^(\\d+) +(\\w+)\\(");
        QMap<QString, int> calls, byThread;
        for (const QString& line : QString::fromUtf8(bytesOf(traceLog())).split('\n'))
            if (const auto match = callLine.match(line); match.hasMatch()) {
                const QString call = match.captured(2);
                calls[call] = qMax(calls[call], ++byThread[call + ' ' + match.captured(1)]);
            }
        return calls;
    }

    QString settingsProblem() const {
        return ReadIniValue(program.ini(), "Source", "Source") == watched &&
                       ReadIniValue(program.ini(), "Destination", "Destination") == destination
                   ? QString()
                   : "the settings no longer name both folders";
    }
    // Each file whole in the watched folder, the destination or both.
    QString lossAfterKill() const {
        for (const auto& [folder, name, size] : placedFiles()) {
            const bool in = fs::facts(folder + name).has_value(),
                       out = fs::facts(destination + name).has_value();
            if ((!in && !out) || (in && bytesOf(folder + name) != bytesFor(name, size)) ||
                (out && bytesOf(destination + name) != bytesFor(name, size)))
                return "'" + name + "' is gone or not whole";
        }
        return settingsProblem();
    }

    QString problemAfterRestart() {
        QProcess again;
        program.start(again);
        const bool done = waitUntil([&] { return started(); }, 60000);
        again.kill();
        again.waitForFinished(30000);
        if (!done)
            return "started again, the program did not finish its start-up";
        if (const QStringList left = entriesOf(watched) + entriesOf(watched2); !left.isEmpty())
            return "left in a watched folder: " + left.join(", ");
        QStringList expected;
        for (const auto& [folder, name, size] : placedFiles()) {
            expected.append(name);
            if (bytesOf(destination + name) != bytesFor(name, size))
                return "'" + name + "' in the destination is not whole";
        }
        expected.sort();
        if (const QStringList there = entriesOf(destination); there != expected)
            return "the destination holds: " + there.join(", ");
        const QStringList keys =
            LoadListFile(program.folder + "Kopierwart.Copy").value_or(QStringList());
        if (QSet<QString>(keys.begin(), keys.end()).size() != keys.size())
            return "a key twice in the register";
        return settingsProblem();
    }

    QTemporaryDir dir;
    const ProgramCopy program{folderIn(dir, "Programm")};
    const QString watched = folderIn(dir, "Upload");
    const QString watched2 = folderIn(dir, "Upload 2");
    std::unique_ptr<test::ScratchFileSystem> stick;
    QString destination;
};

TEST_P(CrashPoints, EveryFileIsOnceAndWholeAfterAKillAtAnyWritingCallAndARestart) {
    const bool everyPoint = qEnvironmentVariable("KW_CRASH_SWEEP") == "all";
    QMap<QString, int> calls;
    if (!everyPoint) {
        prepare();
        calls = callsOfAMove();
        ASSERT_FALSE(calls.isEmpty()) << "no writing call traced";
    }
    for (const QString& call : kWritingCalls) {
        const int calledTimes = calls.value(call);
        int tried = 0;
        for (int count = 1; everyPoint || count <= calledTimes; ++count) {
            if (!everyPoint && count != 1 && count != (calledTimes + 1) / 2 && count != calledTimes)
                continue;
            prepare();
            if (!killedAt(call, count)) {
                if (everyPoint)
                    break;
                continue;
            }
            ++tried;
            const std::string at =
                "killed at " + call.toStdString() + " call " + std::to_string(count);
            EXPECT_EQ(lossAfterKill(), "") << at;
            EXPECT_EQ(problemAfterRestart(), "") << at << ", started again";
            if (HasFailure())
                return;
        }
        if (tried > 0)
            std::cout << GetParam().name << ": " << call.toStdString() << ", " << tried
                      << " crash points\n";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moves, CrashPoints,
    ::testing::Values(
        Move{"CopyAcrossFileSystems", true, {{"Film 1.avi", 1'500'000}}},
        Move{"GroupOfCopies", true, {{"a.bin", 20'000}, {"b.bin", 30'000}, {"c.bin", 45'000}}},
        Move{"RenameOnOneFileSystem", false, {{"Film 1.avi", 1'500'000}}},
        Move{"TwoPairs", true, {{"a.bin", 20'000}}, {{"b.bin", 30'000}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
