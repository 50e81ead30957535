#include "core/textarray.h"
#include "platform/processes.h"
#include "scan/listing.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <memory>
#include <vector>

using namespace kw;
using namespace kw::test;

namespace {

class Watchdog : public ::testing::Test, public ScanRig {
protected:
    ~Watchdog() override {
        for (const auto& process : running) {
            process->kill();
            process->waitForFinished();
        }
    }

    // An executable under a name no other process has: a copy of original, or without one a
    // shell script that runs until it is killed.
    QString program(const QString& name, const QString& original = {}) {
        const QString path = dir.path() + "/" + name + suffix + (original.isEmpty() ? ".sh" : "");
        writeBytes(path, original.isEmpty() ? "#!/bin/sh\nwhile :; do sleep 1; done\n"
                                            : readBytes(original));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    // Starts path and waits until the process snapshot shows it under its file name.
    void start(const QString& path, const QStringList& arguments = {}) {
        running.push_back(std::make_unique<QProcess>());
        running.back()->start(path, arguments);
        ASSERT_TRUE(waitUntil([&] {
            QStringList names;
            QList<qint64> ids;
            return EnumRunningProcesses(names, ids) && names.contains(FileNameOf(path));
        }));
    }

    const QString suffix = "-" + QString::number(QRandomGenerator::global()->generate(), 16);
    std::vector<std::unique_ptr<QProcess>> running;
};

TEST_F(Watchdog, RunningTasksAreNotStartedAgainWhateverTheCaseOrFolderOfTheirNames) {
    const QString sleeper = program("kwsleep", "/bin/sleep");
    const QString script = program("kwtask");  // runs as "sh script": counts under its own name
    start(sleeper, {"30"});
    start(script);
    // Neither of these files exists: a task that counts as running is not looked at further.
    const QString shouted = dir.path() + "/KWSLEEP" + suffix.toUpper();
    const QString elsewhere = dir.path() + "/other/kwsleep" + suffix;
    data.TaskList = QStringList{sleeper, shouted, elsewhere, script};

    EXPECT_TRUE(tick().isEmpty());
    EXPECT_TRUE(tick().isEmpty());
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_EQ(data.TaskList, TextArray(QStringList{sleeper, shouted, elsewhere, script}));
}

TEST_F(Watchdog, VanishedTasksAreDroppedAndMissingOnesStartedOnEveryTick) {
    const QString missing = dir.path() + "/gone" + suffix;
    const QString idle = program("kwidle", "/bin/true");
    data.TaskList = QStringList{missing, idle};
    writeBytes(data.My.TaskListFile, "stale contents\r\n");

    EXPECT_EQ(tick(), (QStringList{"Taskpath not exist '" + missing + "'", "Writing Tasklist..."}));
    EXPECT_EQ(data.TaskList, TextArray(QStringList{idle}));
    EXPECT_EQ(readBytes(data.My.TaskListFile), (idle + "\r\n").toUtf8());
    EXPECT_TRUE(desktop.opened.isEmpty()) << "the shortened list waits for the next tick";

    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(desktop.opened, (QStringList{idle, idle}));

    // Without its last task the list loses its bounds and its file; later ticks end silently.
    fs::removeFile(idle);
    EXPECT_EQ(tick(), (QStringList{"Taskpath not exist '" + idle + "'", "Writing Tasklist..."}));
    EXPECT_FALSE(ArrayHasBounds(data.TaskList));
    EXPECT_FALSE(fs::facts(data.My.TaskListFile).has_value());
    EXPECT_TRUE(tick().isEmpty());
}

}  // namespace
