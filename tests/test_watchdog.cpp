#include "core/files.h"
#include "platform/fs.h"
#include "platform/processes.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <memory>
#include <vector>

using namespace kw;
using namespace kw::test;

namespace {

bool isRunning(const QString& name) {
    QStringList names;
    QList<qint64> ids;
    EnumRunningProcesses(names, ids);
    return names.contains(name);
}

class Watchdog : public ::testing::Test {
protected:
    void SetUp() override {
        suffix = QString::number(QRandomGenerator::global()->generate(), 16);
        programs = rig.dir.path() + "/programs/";
        fs::makePath(programs);
    }

    void TearDown() override {
        for (const auto& process : running) {
            process->kill();
            process->waitForFinished();
        }
    }

    // A copy of a system program under a name no other process has.
    QString program(const QString& name, const QString& original) {
        const QString path = programs + name + "-" + suffix;
        writeBytes(path, readBytes(original));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    QString script(const QString& name) {
        const QString path = programs + name + "-" + suffix + ".sh";
        writeBytes(path, "#!/bin/sh\nwhile :; do sleep 1; done\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    // Starts path and waits until the process snapshot shows it under its file name.
    void start(const QString& path, const QStringList& arguments = {}) {
        auto process = std::make_unique<QProcess>();
        process->start(path, arguments);
        ASSERT_TRUE(process->waitForStarted());
        const QString name = path.mid(path.lastIndexOf('/') + 1);
        ASSERT_TRUE(waitFor([&] { return isRunning(name); }));
        running.push_back(std::move(process));
    }

    QStringList tick() {
        rig.engine.Timer_Timer();
        return rig.takeLog();
    }

    ScanRig rig;
    QString suffix;
    QString programs;
    std::vector<std::unique_ptr<QProcess>> running;  // killed when the test ends
};

TEST(ProcessSnapshot, KnowsThisProgramByItsNameAndId) {
    ensureCoreApplication();
    QStringList names;
    QList<qint64> ids;
    ASSERT_TRUE(EnumRunningProcesses(names, ids));
    ASSERT_EQ(names.size(), ids.size());
    const qsizetype own = names.indexOf("test_watchdog");
    ASSERT_GE(own, 0);
    EXPECT_TRUE(ids.contains(QCoreApplication::applicationPid()));
    EXPECT_EQ(ids[own], QCoreApplication::applicationPid());
}

TEST_F(Watchdog, ARunningTaskIsNotStartedAgainWhateverTheCaseOrFolderOfItsName) {
    const QString sleeper = program("kwsleep", "/bin/sleep");
    start(sleeper, {"30"});
    // Neither of these files exists: a task that counts as running is not looked at further.
    const QString shouted = programs + "KWSLEEP-" + suffix.toUpper();
    const QString elsewhere = rig.dir.path() + "/other/kwsleep-" + suffix;
    rig.data.TaskList = QStringList{sleeper, shouted, elsewhere};

    EXPECT_TRUE(tick().isEmpty());
    EXPECT_TRUE(rig.desktop.opened.isEmpty());
    EXPECT_EQ(rig.data.TaskList, TextArray(QStringList{sleeper, shouted, elsewhere}));
    EXPECT_TRUE(rig.engine.LBtask().contains("kwsleep-" + suffix));
}

TEST_F(Watchdog, AShellScriptTaskCountsAsRunningWhileItsInterpreterRunsIt) {
    const QString task = script("kwtask");
    start(task);
    rig.data.TaskList = QStringList{task};

    EXPECT_TRUE(tick().isEmpty());
    EXPECT_TRUE(tick().isEmpty());
    EXPECT_TRUE(rig.desktop.opened.isEmpty());
}

TEST_F(Watchdog, AMissingTaskIsStartedOnEveryTickUntilItRuns) {
    const QString idle = program("kwidle", "/bin/true");
    rig.data.TaskList = QStringList{idle};

    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(rig.desktop.opened, (QStringList{idle, idle}));
}

TEST_F(Watchdog, AVanishedSecondOfThreeTasksIsRemovedAndTheThirdWaitsForTheNextTick) {
    const QString sleeper = program("kwsleep", "/bin/sleep");
    start(sleeper, {"30"});
    const QString missing = programs + "gone-" + suffix;
    const QString idle = program("kwidle", "/bin/true");
    rig.data.TaskList = QStringList{sleeper, missing, idle};
    writeBytes(rig.data.My.TaskListFile, "stale contents\r\n");

    EXPECT_EQ(tick(), (QStringList{"Taskpath not exist '" + missing + "'", "Writing Tasklist..."}));
    EXPECT_EQ(rig.data.TaskList, TextArray(QStringList{sleeper, idle}));
    EXPECT_EQ(readBytes(rig.data.My.TaskListFile), (sleeper + "\r\n" + idle + "\r\n").toUtf8());
    EXPECT_TRUE(rig.desktop.opened.isEmpty());

    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(rig.desktop.opened, QStringList{idle});
}

TEST_F(Watchdog, RemovingTheOnlyTaskDeletesTheListFileAndEndsTheTickSilently) {
    const QString missing = programs + "gone-" + suffix;
    rig.data.TaskList = QStringList{missing};
    writeBytes(rig.data.My.TaskListFile, (missing + "\r\n").toUtf8());

    EXPECT_EQ(tick(), (QStringList{"Taskpath not exist '" + missing + "'", "Writing Tasklist..."}));
    EXPECT_FALSE(ArrayHasBounds(rig.data.TaskList));
    EXPECT_FALSE(fs::facts(rig.data.My.TaskListFile).has_value());
    EXPECT_TRUE(tick().isEmpty()) << "a list without bounds ends later ticks silently too";
}

}  // namespace
