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
    const QString home = dir.path() + "/home";
    const QString executable = dir.path() + "/usr/bin/Kopierwart";
    fs::makePath(dir.path() + "/usr/bin/");
    const DataFolder beside = prepareDataFolder(executable, QString(), home);
    EXPECT_EQ(beside.path, dir.path() + "/usr/bin/");
    EXPECT_TRUE(beside.besideExecutable);

    // Installed, it keeps out of usr/bin although that is writable, as /usr/bin is for root.
    fs::makePath(dir.path() + "/usr/share/kopierwart/");
    EXPECT_EQ(installedDataFolder(executable), dir.path() + "/usr/share/kopierwart/");
    const DataFolder installed = prepareDataFolder(executable, dir.path() + "/xdg", home);
    EXPECT_FALSE(installed.besideExecutable);
    EXPECT_EQ(installed.path, dir.path() + "/xdg/Kopierwart/");
    EXPECT_TRUE(fs::isDirectory(installed.path));

    // A folder that does not exist cannot be written, not even by root; a relative
    // XDG_CONFIG_HOME is not a valid setting and is ignored.
    const DataFolder fromHome =
        prepareDataFolder(dir.path() + "/missing/Kopierwart", "relative/xdg", home);
    EXPECT_EQ(fromHome.path, home + "/.config/Kopierwart/");
    EXPECT_TRUE(fs::isDirectory(fromHome.path));
}

TEST(Installation, ShippedSoundIsPlayableAndAFirstStartCopiesItWithoutReplacingTheUsersOwn) {
    const QString shipped = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Copy.wav";
    ASSERT_TRUE(CanPlaySoundFile(shipped)) << "build the Kopierwart target first";
    const auto startWith = [&](ProgramRig& rig, const QString& sound) {
        rig.shippedSound = sound;
        rig.start();
        return rig.dataFolder + "Copy.wav";
    };

    ProgramRig first;
    const QString sound = startWith(first, shipped);
    EXPECT_EQ(ReadIniValue(first.ini(), "Sound", "Sound"), sound);
    EXPECT_EQ(bytesOf(sound), bytesOf(shipped));

    // A sound the user put there before the first start stays.
    ProgramRig own;
    fs::replaceAtomically(own.dataFolder + "Copy.wav", "mine");
    EXPECT_EQ(bytesOf(startWith(own, shipped)), "mine");

    // Only a first start provides it: a sound the user deleted later stays deleted.
    ProgramRig later;
    later.setting("Sound", later.dataFolder + "Copy.wav");
    EXPECT_FALSE(fs::facts(startWith(later, shipped)));

    ProgramRig missing;
    const QString gone = missing.dir.path() + "/gone/Copy.wav";
    startWith(missing, gone);
    EXPECT_EQ(logLines(missing.log()).filter("Could not copy the sound " + gone).size(), 1);
}
