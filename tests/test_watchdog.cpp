#include "core/textarray.h"
#include "platform/processes.h"
#include "scan/listing.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

using namespace kw;
using namespace kw::test;

namespace {

class Watchdog : public ::testing::Test, public ScanRig {};

// A running task is left alone, a missing one started on every tick, a vanished one dropped
// from the list and its file.
TEST_F(Watchdog, StartsOnlyTasksThatDoNotRunAndDropsVanishedOnes) {
    const QString suffix = QString::number(QRandomGenerator::global()->generate(), 16);
    const QString sleeper = dir.path() + "/kwsleep" + suffix;
    const QString idle = dir.path() + "/kwidle" + suffix;
    const QString missing = dir.path() + "/gone" + suffix;
    ASSERT_TRUE(QFile::copy("/bin/sleep", sleeper) && QFile::copy("/bin/true", idle));
    QProcess running;
    running.start(sleeper, {"30"});
    ASSERT_TRUE(waitUntil([&] {
        QStringList names;
        QList<qint64> ids;
        return EnumRunningProcesses(names, ids) && names.contains(FileNameOf(sleeper));
    }));
    data.TaskList = QStringList{sleeper, missing, idle};

    EXPECT_EQ(tick(), (QStringList{"Taskpath not exist '" + missing + "'", "Writing Tasklist..."}));
    EXPECT_EQ(bytesOf(data.My.TaskListFile), (sleeper + "\r\n" + idle + "\r\n").toUtf8());
    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(desktop.opened, (QStringList{idle, idle}));
    running.kill();
    running.waitForFinished();
}

}  // namespace
