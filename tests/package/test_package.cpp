// The Debian package as a user meets it: built with CPack from this build, installed with apt,
// started from the menu's command under a real X server with a notification area, and removed
// again. It installs software on the machine, so it needs root; it removes the package in every
// outcome, and a run that was killed half-way is cleaned up by the next one.

#include "platform/fs.h"
#include "platform/sound.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

using kw::test::waitUntil;
namespace fs = kw::fs;

namespace {

constexpr char kPackage[] = "kopierwart";
// Written before the package is installed, removed after it is purged: a package found
// installed with this file present was left behind by a killed run of this test.
constexpr char kMarker[] = "/var/tmp/kopierwart-package-test";

struct Result {
    int exitCode = -1;
    QString output;
};

Result run(const QString& program, const QStringList& arguments, int timeoutMs = 120000) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QStringLiteral("timed out: ") + program};
    }
    const QString output = QString::fromUtf8(process.readAll());
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, output};
}

bool packageInstalled() {
    return run(QStringLiteral("dpkg-query"), {"-W", "-f=${Status}", kPackage})
        .output.contains(QLatin1String("install ok installed"));
}

void purgePackage() {
    if (packageInstalled())
        run(QStringLiteral("dpkg"), {"--purge", kPackage});
    if (!packageInstalled())
        fs::removeFile(QLatin1String(kMarker));
}

// Removes the package however the test ends.
struct InstalledPackage {
    ~InstalledPackage() { purgePackage(); }
};

// Whether trayer, the notification area on display, holds a window of the program: its icon.
bool iconInTray(const QString& display) {
    static const QRegularExpression panel(
        QStringLiteral("^\\s*(0x[0-9a-f]+) .*\\(\"panel\" \"trayer\"\\)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = panel.match(
        run(QStringLiteral("xwininfo"), {"-display", display, "-root", "-tree"}).output);
    return match.hasMatch() &&
           run(QStringLiteral("xwininfo"), {"-display", display, "-tree", "-id", match.captured(1)})
               .output.contains(QLatin1String("(\"Kopierwart\" \"Kopierwart\")"));
}

}  // namespace

TEST(Package, InstallsStartsAsAUserWouldAndLeavesNothingBehindWhenRemoved) {
    kw::test::ensureApplication();
    if (::geteuid() != 0)
        KW_CANNOT_RUN("installing a package needs root");
    for (const char* tool : {"apt-get", "dpkg", "dpkg-shlibdeps", "desktop-file-validate", "Xvfb",
                             "trayer", "xwininfo", "setpriv"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            KW_CANNOT_RUN(std::string("needs ") + tool);
    }
    if (packageInstalled()) {
        if (!fs::facts(QLatin1String(kMarker)))
            KW_CANNOT_RUN("kopierwart is installed on this machine; the test will not remove it");
        purgePackage();  // left behind by a killed run
    }
    QTemporaryDir dir;

    // The package of this build, as `cpack -G DEB` makes it.
    const Result packed = run(
        QStringLiteral(KW_CPACK_COMMAND),
        {"-G", "DEB", "--config", qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/CPackConfig.cmake",
         "-B", dir.path() + "/package"},
        300000);
    ASSERT_EQ(packed.exitCode, 0) << packed.output.toStdString();
    const QStringList debs = QDir(dir.path() + "/package").entryList({"*.deb"}, QDir::Files);
    ASSERT_EQ(debs.size(), 1) << packed.output.toStdString();
    const QString deb = dir.path() + "/package/" + debs.front();
    // Computed from the binary: the Qt libraries it links.
    const QString depends = run("dpkg-deb", {"-f", deb, "Depends"}).output;
    EXPECT_TRUE(depends.contains(QRegularExpression("libqt6widgets6 \\(>= ")))
        << depends.toStdString();

    fs::replaceAtomically(QLatin1String(kMarker), "installed by the package test\n");
    InstalledPackage cleanup;
    const Result installed = run(QStringLiteral("apt-get"), {"install", "-y", deb});
    ASSERT_EQ(installed.exitCode, 0) << installed.output.toStdString();
    const QStringList files = run(QStringLiteral("dpkg"), {"-L", kPackage}).output.split(u'\n');

    // The menu entry, its icon in the theme and the sound.
    const Result valid = run(QStringLiteral("desktop-file-validate"),
                             {"/usr/share/applications/kopierwart.desktop"});
    EXPECT_EQ(valid.exitCode, 0) << valid.output.toStdString();
    EXPECT_TRUE(fs::isReadableFile("/usr/share/icons/hicolor/scalable/apps/kopierwart.svg"));
    EXPECT_TRUE(kw::CanPlaySoundFile("/usr/share/kopierwart/Copy.wav"));

    // A user starts it from the menu: an unprivileged account with a new home, an X display
    // with a notification area.
    const QString home = dir.path() + "/home";
    fs::makePath(home);
    ASSERT_EQ(run("chown", {"nobody:nogroup", home}).exitCode, 0);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    kw::test::XvfbServer xvfb;
    const QString whyNot = xvfb.start();
    ASSERT_TRUE(whyNot.isEmpty()) << whyNot.toStdString();
    const QString display = QString::fromLatin1(xvfb.display);
    QProcessEnvironment session;
    session.insert("DISPLAY", display);
    session.insert("HOME", home);
    session.insert("PATH", "/usr/local/bin:/usr/bin:/bin");
    session.insert("LANG", "C.UTF-8");
    const auto trayer = kw::test::startHelper(
        "trayer", {"--edge", "bottom", "--align", "right", "--height", "24"}, session);
    const QString dataFolder = home + "/.config/Kopierwart/";
    const QString log = dataFolder + "Kopierwart.Log";
    const auto program =
        kw::test::startHelper("setpriv",
                              {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                               // Changing the user clears the parent-death signal: set it again.
                               "--pdeathsig=TERM", "--", "Kopierwart"},
                              session);
    ASSERT_TRUE(waitUntil(
        [&] { return fs::readAll(log).value_or(QByteArray()).contains("Starting P2Pfinder"); },
        30000))
        << "the installed program did not start: " << program->readAllStandardError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return iconInTray(display); })) << "no icon in the tray";
    // Its data is the user's, in the user's folder, with the sound the package ships.
    EXPECT_EQ(fs::readAll(dataFolder + "Copy.wav"), fs::readAll("/usr/share/kopierwart/Copy.wav"));
    EXPECT_EQ(run("stat", {"-c", "%U", dataFolder + "Kopierwart.ini"}).output.trimmed(), "nobody");
    program->terminate();
    EXPECT_TRUE(program->waitForFinished(10000));
    EXPECT_TRUE(fs::readAll(log).value_or(QByteArray()).contains("*** Closing Kopierwart ***"));

    // Removed, nothing of the package is left; the user's data stays theirs.
    const Result purged = run(QStringLiteral("apt-get"), {"purge", "-y", kPackage});
    EXPECT_EQ(purged.exitCode, 0) << purged.output.toStdString();
    EXPECT_FALSE(packageInstalled());
    for (const QString& file : files) {
        if (file.isEmpty() || fs::isDirectory(file))
            continue;
        EXPECT_FALSE(fs::facts(file)) << "left behind: " << file.toStdString();
    }
    EXPECT_FALSE(fs::facts("/usr/share/kopierwart")) << "left behind: /usr/share/kopierwart";
    EXPECT_TRUE(fs::isReadableFile(dataFolder + "Kopierwart.ini"));
}
