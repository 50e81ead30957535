// Starting with the session: the entry in the user's autostart folder and the main window's
// check box that writes and removes it.

#include "core/autostart.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"
#include "ui/autostartbox.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace kw;

namespace {

// The main group's value of key, unescaped as a session reads a string value.
QString readValue(const QByteArray& entry, const QString& key) {
    for (const QString& line : QString::fromUtf8(entry).split(u'\n')) {
        if (!line.startsWith(key + u'='))
            continue;
        QString value;
        const QString raw = line.mid(key.size() + 1);
        for (qsizetype i = 0; i < raw.size(); ++i)
            value += raw[i] == u'\\' && i + 1 < raw.size() ? raw[++i] : raw[i];
        return value;
    }
    return {};
}

// The program an Exec value of one quoted argument runs, with its escapes and "%%" undone.
QString execProgram(const QString& exec) {
    if (exec.size() < 2 || !exec.startsWith(u'"') || !exec.endsWith(u'"'))
        return QStringLiteral("<not quoted>");
    QString program;
    for (qsizetype i = 1; i + 1 < exec.size(); ++i) {
        if ((exec[i] == u'\\' || exec.mid(i, 2) == u"%%") && i + 2 < exec.size())
            ++i;
        program += exec[i];
    }
    return program;
}

}  // namespace

TEST(AutostartEntry, StartsTheVeryProgramWhateverItsPathHoldsAndIsValid) {
    QTemporaryDir dir;
    // The folder is missing at first, as in a new user's home.
    const QString folder = autostartFolder("relative", dir.path());
    EXPECT_EQ(folder, dir.path() + "/.config/autostart/");
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        KW_CANNOT_RUN("needs desktop-file-validate (desktop-file-utils)");

    for (const QString& program :
         {QStringLiteral("/usr/bin/Kopierwart"),
          QStringLiteral("/opt/Mein \"Werk\"/$HOME `x` 100% \\ä/Kopierwart")}) {
        SCOPED_TRACE(program.toStdString());
        Autostart autostart(folder, program);
        ASSERT_EQ(autostart.enable(), 0);
        EXPECT_TRUE(autostart.enabled());
        const QByteArray entry = fs::readAll(autostart.entryPath()).value_or(QByteArray());
        EXPECT_EQ(execProgram(readValue(entry, "Exec")), program);
        EXPECT_EQ(readValue(entry, "TryExec"), program);
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {autostart.entryPath()});
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();

        ASSERT_EQ(autostart.disable(), 0);
        EXPECT_FALSE(fs::facts(autostart.entryPath()));
        EXPECT_FALSE(autostart.enabled());
        EXPECT_EQ(autostart.disable(), 0);
    }
}

TEST(AutostartEntry, PathThatNoEntryCanHoldIsRefusedAndWritesNothing) {
    QTemporaryDir dir;
    for (const QString& program : {decodeLocal("/opt/Kopier\xFFwart/Kopierwart"),
                                   QStringLiteral("/opt/a\x01z/Kopierwart")}) {
        Autostart autostart(dir.path() + "/", program);
        EXPECT_EQ(autostart.enable(), EILSEQ);
        EXPECT_FALSE(fs::facts(autostart.entryPath()));
    }
}

TEST(AutostartEntry, EntrySwitchedOffByTheSessionCountsAsOffAndIsSwitchedOnAgain) {
    QTemporaryDir dir;
    Autostart autostart(dir.path() + "/", "/usr/bin/Kopierwart");
    for (const char* switchedOff : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        fs::replaceAtomically(autostart.entryPath(),
                              QByteArray("[Desktop Entry]\nType=Application\nExec=Kopierwart\n") +
                                  switchedOff + '\n');
        EXPECT_FALSE(autostart.enabled()) << switchedOff;
        ASSERT_EQ(autostart.enable(), 0);
        EXPECT_TRUE(autostart.enabled()) << switchedOff;
    }
}

TEST(AutostartBox, TickingWritesTheEntryUntickingRemovesItAndAFailureIsShownAndUndone) {
    test::ensureApplication();
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const QString entryPath = dir.path() + "/autostart/kopierwart.desktop";
    EventLog log;
    test::RecordingDesktop desktop;
    QWidget window;
    const auto box = [&] { return makeAutostartBox(&window, {0, 0, 100, 18}, log, desktop); };

    box()->setChecked(true);
    EXPECT_TRUE(fs::facts(entryPath));
    // A new window shows what the folder holds.
    QCheckBox* later = box();
    EXPECT_TRUE(later->isChecked());
    later->setChecked(false);
    EXPECT_FALSE(fs::facts(entryPath));
    EXPECT_TRUE(desktop.messages.empty());

    // A file where the autostart folder should be: nothing can be written there.
    ::rmdir(QFile::encodeName(dir.path() + "/autostart").constData());
    fs::replaceAtomically(dir.path() + "/autostart", "not a folder");
    QCheckBox* failing = box();
    failing->setChecked(true);
    EXPECT_FALSE(failing->isChecked());
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages.front().text.contains("autostart/kopierwart.desktop"));
    qunsetenv("XDG_CONFIG_HOME");
}
