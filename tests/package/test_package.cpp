// The Debian package as a user meets it: built by CPack, checked by lintian and appstreamcli,
// installed with apt, started from the menu's command on Xvfb with trayer, removed. A kopierwart
// installed before is repacked first and reinstalled at the end, whatever the outcome.

#include "platform/fs.h"
#include "platform/sound.h"
#include "tests/support/cannotrun.h"
#include "tests/support/launch.h"
#include "tests/support/qtapp.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

using kw::test::outputOf;
using kw::test::runProgram;
using kw::test::waitUntil;
namespace fs = kw::fs;

namespace {

bool packageInstalled() {
    return outputOf("dpkg-query", {"-W", "-f=${Status}", "kopierwart"}).contains("ok installed");
}

}  // namespace

TEST(Package, InstallsStartsAsAUserWouldAndLeavesNothingBehindWhenRemoved) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("installing a package needs root");
    for (const char* tool : {"apt-get", "dpkg-shlibdeps", "desktop-file-validate", "Xvfb", "trayer",
                             "lintian", "appstreamcli", "dpkg-repack"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            KW_CANNOT_RUN(std::string("needs ") + tool);
    kw::test::ensureApplication();
    qputenv("DEBIAN_FRONTEND", "noninteractive");
    QTemporaryDir dir;

    QString before;
    if (packageInstalled()) {
        const QString saved = dir.path() + "/installed-before";
        fs::makePath(saved);
        ASSERT_EQ(runProgram("sh", {"-c", "cd \"$0\" && dpkg-repack kopierwart", saved}, 120'000),
                  "");
        const QFileInfoList debs = QDir(saved).entryInfoList({"*.deb"}, QDir::Files);
        ASSERT_EQ(debs.size(), 1);
        before = debs[0].filePath();
        // Gone first, or apt would keep an installed package of the same version as it is.
        ASSERT_EQ(runProgram("dpkg", {"--purge", "kopierwart"}), "");
    }
    const auto restore = qScopeGuard([&before] {
        runProgram("dpkg", {"--purge", "kopierwart"});
        if (!before.isEmpty())
            runProgram("apt-get", {"install", "-y", "--allow-downgrades", before}, 120'000);
    });

    // The package of this build, as `cpack -G DEB` makes it.
    const QString config = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/CPackConfig.cmake";
    ASSERT_EQ(runProgram(KW_CPACK_COMMAND,
                         {"-G", "DEB", "--config", config, "-B", dir.path() + "/package"}, 300'000),
              "");
    const QFileInfoList debs = QDir(dir.path() + "/package").entryInfoList({"*.deb"}, QDir::Files);
    ASSERT_EQ(debs.size(), 1);
    const QString deb = debs[0].filePath();
    EXPECT_TRUE(outputOf("dpkg-deb", {"-f", deb, "Depends"}).contains("libqt6widgets6 (>= "));
    EXPECT_TRUE(outputOf("dpkg-deb", {"-f", deb, "Recommends"}).contains("xdg-utils"));
    // Tags that misread German words are in the package's lintian overrides.
    EXPECT_EQ(runProgram("lintian", {"--pedantic", "--fail-on", "error", deb}, 120'000), "");

    ASSERT_EQ(runProgram("apt-get", {"install", "-y", deb}, 120'000), "");
    const QStringList files = outputOf("dpkg", {"-L", "kopierwart"}).split(u'\n');
    const QString share = "/usr/share/";
    EXPECT_EQ(runProgram("desktop-file-validate", {share + "applications/" KW_APP_ID ".desktop"}),
              "");
    const QString appstream = outputOf(
        "appstreamcli", {"validate", "--no-net", share + "metainfo/" KW_APP_ID ".metainfo.xml"});
    EXPECT_FALSE(
        appstream.contains(QRegularExpression("^E: ", QRegularExpression::MultilineOption)))
        << appstream.toStdString();
    EXPECT_TRUE(fs::isReadableFile(share + "icons/hicolor/scalable/apps/kopierwart.svg"));
    EXPECT_TRUE(kw::CanPlaySoundFile(share + "kopierwart/Copy.wav"));

    // Started from the menu by an unprivileged user with a new home.
    const QString home = dir.path() + "/home";
    fs::makePath(home);
    ASSERT_EQ(runProgram("chown", {"nobody:nogroup", home}), "");
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    kw::test::XvfbServer xvfb;
    ASSERT_EQ(xvfb.start(true), QString());
    QProcessEnvironment session;
    for (const auto& [key, value] : {std::pair{"DISPLAY", QString(xvfb.display)},
                                     {"HOME", home},
                                     {"LANG", "C.UTF-8"},
                                     {"PATH", "/usr/local/bin:/usr/bin:/bin"}})
        session.insert(key, value);
    const auto program = kw::test::launched({.command = {"Kopierwart"},
                                             .environment = session,
                                             .user = kw::test::Account::ensure("nobody")});
    const QString dataFolder = home + "/.config/Kopierwart/";
    const auto logged = [&](const char* line) {
        return fs::readAll(dataFolder + "Kopierwart.Log").value_or("").contains(line);
    };
    ASSERT_TRUE(waitUntil([&] { return logged("Starting P2Pfinder"); }, 30000));
    EXPECT_EQ(fs::readAll(dataFolder + "Copy.wav"), fs::readAll(share + "kopierwart/Copy.wav"));
    EXPECT_EQ(outputOf("stat", {"-c", "%U", dataFolder + "Kopierwart.ini"}).trimmed(), "nobody");
    program->terminate();
    EXPECT_TRUE(program->waitForFinished(10000) && logged("*** Closing Kopierwart ***"));

    // Nothing of the package is left; the user's data stays.
    EXPECT_EQ(runProgram("apt-get", {"purge", "-y", "kopierwart"}, 120'000), "");
    EXPECT_FALSE(packageInstalled());
    for (const QString& left : files)
        EXPECT_TRUE(left.isEmpty() || fs::isDirectory(left) || !fs::facts(left));
    EXPECT_FALSE(fs::facts(share + "kopierwart"));
    EXPECT_TRUE(fs::isReadableFile(dataFolder + "Kopierwart.ini"));
}
