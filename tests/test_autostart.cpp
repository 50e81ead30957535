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
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace kw;

namespace {

// The program the entry's Exec line runs: its one quoted argument, unescaped twice (as a string
// value, then as a quoted argument), with "%%" undone.
QString execProgram(const QByteArray& entry) {
    static const QRegularExpression exec(QStringLiteral("(?m)^Exec=\"(.*)\"$"));
    static const QRegularExpression escape(QStringLiteral("\\\\(.)"));
    QString program = exec.match(QString::fromUtf8(entry)).captured(1);
    return program.replace(escape, "\\1").replace(escape, "\\1").replace("%%", "%");
}

}  // namespace

TEST(AutostartEntry, StartsTheVeryProgramWhateverItsPathHoldsOrRefusesAPathNoEntryCanHold) {
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
        KW_CANNOT_RUN("needs desktop-file-validate (desktop-file-utils)");
    QTemporaryDir dir;
    // The folder is missing at first, as in a new user's home.
    const QString program = "/opt/Mein \"Werk\"/$HOME `x` 100% \\ä/Kopierwart";
    Autostart autostart(autostartFolder("relative", dir.path()), program);
    ASSERT_EQ(autostart.enable(), 0);
    EXPECT_EQ(execProgram(fs::readAll(autostart.entryPath()).value_or("")), program);
    EXPECT_EQ(QProcess::execute("desktop-file-validate", {autostart.entryPath()}), 0);

    Autostart unnamable(dir.path() + "/", decodeLocal("/opt/Kopier\xFFwart/Kopierwart"));
    EXPECT_EQ(unnamable.enable(), EILSEQ);
    EXPECT_FALSE(fs::facts(unnamable.entryPath()));
}

TEST(AutostartBox, TickingWritesTheEntryUntickingRemovesItAndAFailureIsShownAndUndone) {
    test::ensureApplication();
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EventLog log;
    test::RecordingDesktop desktop;
    QWidget window;
    const auto box = [&] { return makeAutostartBox(&window, {0, 0, 100, 18}, log, desktop); };
    box()->setChecked(true);
    QCheckBox* later = box();  // a new window shows what the folder holds
    EXPECT_TRUE(later->isChecked());
    later->setChecked(false);
    EXPECT_FALSE(fs::facts(dir.path() + "/autostart/kopierwart.desktop"));

    // A device file where the configuration folder should be: nothing can be written there.
    qputenv("XDG_CONFIG_HOME", "/dev/null");
    QCheckBox* failing = box();
    failing->setChecked(true);
    EXPECT_FALSE(failing->isChecked());
    EXPECT_EQ(desktop.messages.size(), 1u);
    qunsetenv("XDG_CONFIG_HOME");
}
