// The installed program: where it finds what it ships with, where it keeps its data, and the
// copy sound its first start provides.

#include "app/datafolder.h"
#include "app/installeddata.h"
#include "platform/sound.h"
#include "tests/program_rig.h"

#include <gtest/gtest.h>

using namespace kw;
using namespace kw::apptest;

namespace {

// The sound the build ships, as the installed program finds it.
QString shippedSound() {
    return qEnvironmentVariable("KW_TEST_BINARY_DIR") + QLatin1String("/app/Copy.wav");
}

}  // namespace

TEST(Installation, InstalledProgramKeepsItsDataOutOfItsInstallationEvenWhereItMayWrite) {
    QTemporaryDir dir;
    const QString executable = dir.path() + "/usr/bin/Kopierwart";
    fs::makePath(dir.path() + "/usr/bin/");
    EXPECT_TRUE(installedDataFolder(executable).isEmpty());
    EXPECT_TRUE(prepareDataFolder(executable, QString(), dir.path() + "/home").besideExecutable);

    fs::makePath(dir.path() + "/usr/share/kopierwart/");
    EXPECT_EQ(installedDataFolder(executable), dir.path() + "/usr/share/kopierwart/");
    // usr/bin is writable here, as /usr/bin is for the superuser.
    const DataFolder data = prepareDataFolder(executable, QString(), dir.path() + "/home");
    EXPECT_FALSE(data.besideExecutable);
    EXPECT_EQ(data.path, dir.path() + "/home/.config/Kopierwart/");
}

TEST(Installation, ShippedSoundIsPlayableAndAFirstStartCopiesItWithoutReplacingTheUsersOwn) {
    ASSERT_TRUE(fs::isReadableFile(shippedSound())) << "build the Kopierwart target first";
    EXPECT_TRUE(CanPlaySoundFile(shippedSound()));

    ProgramRig first;
    first.shippedSound = shippedSound();
    first.start();
    const QString sound = first.dataFolder + "Copy.wav";
    EXPECT_EQ(ReadIniValue(first.ini(), "Sound", "Sound"), sound);
    EXPECT_EQ(bytesOf(sound), bytesOf(shippedSound()));
    EXPECT_TRUE(
        logLines(first.log()).contains("Copied the sound " + shippedSound() + " to " + sound));

    // A sound the user put there before the first start stays.
    ProgramRig own;
    own.shippedSound = shippedSound();
    fs::replaceAtomically(own.dataFolder + "Copy.wav", "mine");
    own.start();
    EXPECT_EQ(bytesOf(own.dataFolder + "Copy.wav"), "mine");

    // Only a first start provides it: a sound the user deleted later stays deleted.
    ProgramRig later;
    later.shippedSound = shippedSound();
    later.setting("Sound", later.dataFolder + "Copy.wav");
    later.start();
    EXPECT_FALSE(fs::facts(later.dataFolder + "Copy.wav"));

    ProgramRig missing;
    missing.shippedSound = missing.dir.path() + "/gone/Copy.wav";
    missing.start();
    EXPECT_TRUE(logLines(missing.log())
                    .contains("Could not copy the sound " + missing.shippedSound + " to " +
                              missing.dataFolder + "Copy.wav: " + fs::errorText(ENOENT)));
}
