// Where the program keeps its data, and the copy sound its first start provides.

#include "app/datafolder.h"
#include "app/installeddata.h"
#include "platform/sound.h"
#include "tests/program_rig.h"

#include <gtest/gtest.h>

using namespace kw;
using namespace kw::apptest;

TEST(DataFolder, IsBesideAWritableExecutableUnlessInstalledElseInTheUsersConfiguration) {
    QTemporaryDir dir;
    const QString executable = dir.path() + "/usr/bin/Kopierwart";
    fs::makePath(dir.path() + "/usr/bin/");
    EXPECT_EQ(prepareDataFolder(executable, QString(), "/nowhere").path, dir.path() + "/usr/bin/");
    // Installed, it keeps out of usr/bin although that is writable, as /usr/bin is for root.
    fs::makePath(dir.path() + "/usr/share/kopierwart/");
    const DataFolder installed = prepareDataFolder(executable, dir.path() + "/xdg", "/nowhere");
    EXPECT_EQ(installed.path, dir.path() + "/xdg/Kopierwart/");
    EXPECT_TRUE(fs::isDirectory(installed.path));
}

TEST(Installation, AFirstStartCopiesTheShippedSoundWithoutReplacingTheUsersOwn) {
    const QString shipped = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Copy.wav";
    ASSERT_TRUE(CanPlaySoundFile(shipped)) << "build the Kopierwart target first";
    ProgramRig first, own;
    fs::replaceAtomically(own.dataFolder + "Copy.wav", "mine");
    for (ProgramRig* rig : {&first, &own}) {
        rig->shippedSound = shipped;
        rig->start();
    }
    EXPECT_EQ(ReadIniValue(first.ini(), "Sound", "Sound"), first.dataFolder + "Copy.wav");
    EXPECT_EQ(bytesOf(first.dataFolder + "Copy.wav"), bytesOf(shipped));
    EXPECT_EQ(bytesOf(own.dataFolder + "Copy.wav"), "mine");
}
