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
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

using kw::test::waitUntil;
namespace fs = kw::fs;

namespace {

struct Result {
    int exitCode = -1;
    QString output;
};

Result run(const QString& program, const QStringList& arguments, int timeoutMs = 120000) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);  // else killed as it goes
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {finished ? exitCode : -1, QString::fromUtf8(process.readAll())};
}

bool packageInstalled() {
    return run("dpkg-query", {"-W", "-f=${Status}", "kopierwart"}).output.contains("ok installed");
}

// The lines of a checker's output that report errors.
std::string errorLines(const QString& output) {
    return output.split(u'\n').filter(QRegularExpression("^E: ")).join(u'\n').toStdString();
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
        QProcess repack;
        repack.setWorkingDirectory(saved);
        repack.start("dpkg-repack", {"kopierwart"});
        ASSERT_TRUE(repack.waitForFinished(120000) && repack.exitCode() == 0)
            << repack.readAllStandardError().toStdString();
        const QFileInfoList debs = QDir(saved).entryInfoList({"*.deb"}, QDir::Files);
        ASSERT_EQ(debs.size(), 1);
        before = debs[0].filePath();
        // Gone first, or apt would keep an installed package of the same version as it is.
        ASSERT_EQ(run("dpkg", {"--purge", "kopierwart"}).exitCode, 0);
    }
    const auto restore = qScopeGuard([&before] {
        run("dpkg", {"--purge", "kopierwart"});
        if (!before.isEmpty())
            run("apt-get", {"install", "-y", "--allow-downgrades", before});
    });

    // The package of this build, as `cpack -G DEB` makes it.
    const QString config = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/CPackConfig.cmake";
    const Result packed = run(
        KW_CPACK_COMMAND, {"-G", "DEB", "--config", config, "-B", dir.path() + "/package"}, 300000);
    ASSERT_EQ(packed.exitCode, 0) << packed.output.toStdString();
    const QFileInfoList debs = QDir(dir.path() + "/package").entryInfoList({"*.deb"}, QDir::Files);
    ASSERT_EQ(debs.size(), 1);
    EXPECT_TRUE(run("dpkg-deb", {"-f", debs[0].filePath(), "Depends"})
                    .output.contains("libqt6widgets6 (>= "));

    // Tags that misread German words are in the package's lintian overrides.
    const Result lintian = run("lintian", {"--pedantic", "--fail-on", "error", debs[0].filePath()});
    EXPECT_EQ(errorLines(lintian.output), "") << lintian.output.toStdString();
    EXPECT_EQ(lintian.exitCode, 0) << lintian.output.toStdString();
    EXPECT_TRUE(
        run("dpkg-deb", {"-f", debs[0].filePath(), "Recommends"}).output.contains("xdg-utils"));

    const Result installed = run("apt-get", {"install", "-y", debs[0].filePath()});
    ASSERT_EQ(installed.exitCode, 0) << installed.output.toStdString();
    const QStringList files = run("dpkg", {"-L", "kopierwart"}).output.split(u'\n');
    const QString share = "/usr/share/";
    EXPECT_EQ(run("desktop-file-validate", {share + "applications/" KW_APP_ID ".desktop"}).exitCode,
              0);
    const Result appstream = run(
        "appstreamcli", {"validate", "--no-net", share + "metainfo/" KW_APP_ID ".metainfo.xml"});
    EXPECT_EQ(errorLines(appstream.output), "") << appstream.output.toStdString();
    EXPECT_TRUE(fs::isReadableFile(share + "icons/hicolor/scalable/apps/kopierwart.svg"));
    EXPECT_TRUE(kw::CanPlaySoundFile(share + "kopierwart/Copy.wav"));

    // Started from the menu by an unprivileged user with a new home.
    const QString home = dir.path() + "/home";
    fs::makePath(home);
    ASSERT_EQ(run("chown", {"nobody:nogroup", home}).exitCode, 0);
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
    EXPECT_EQ(run("stat", {"-c", "%U", dataFolder + "Kopierwart.ini"}).output.trimmed(), "nobody");
    program->terminate();
    EXPECT_TRUE(program->waitForFinished(10000) && logged("*** Closing Kopierwart ***"));

    // Nothing of the package is left; the user's data stays.
    EXPECT_EQ(run("apt-get", {"purge", "-y", "kopierwart"}).exitCode, 0);
    EXPECT_FALSE(packageInstalled());
    for (const QString& left : files)
        EXPECT_TRUE(left.isEmpty() || fs::isDirectory(left) || !fs::facts(left));
    EXPECT_FALSE(fs::facts(share + "kopierwart"));
    EXPECT_TRUE(fs::isReadableFile(dataFolder + "Kopierwart.ini"));
}
