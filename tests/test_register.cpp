#include "core/copyregister.h"
#include "core/files.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "platform/filemove.h"
#include "platform/fs.h"
#include "scan/register.h"
#include "tests/support/recording.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace kw;

namespace {

const QDateTime kCreated(QDate(2026, 12, 6), QTime(14, 3, 5), Qt::UTC);

}  // namespace

// Path, size and date joined by NUL; names with line breaks stay one
// line of the register and match again after a restart.
TEST(CopyKey, JoinsPathSizeAndDateAndSurvivesTheRegisterFile) {
    const QChar nul(u'\0');
    EXPECT_EQ(CopyKey("/in/a.avi", 3221225472LL, kCreated),
              QString("/in/a.avi") + nul + "3221225472" + nul + "06.12.2026 14:03:05");

    QTemporaryDir dir;
    const QString registerFile = dir.path() + "/Kopierwart.Copy";
    const QStringList paths = {"/in/two\nlines.txt", "/in/two\\nlines.txt", "/in/cr\r.txt"};
    for (const QString& path : paths)
        ASSERT_TRUE(AppendToFile(registerFile, CopyKey(path, 7, kCreated)));
    const TextArray loaded = LoadListFile(registerFile);
    ASSERT_EQ(ArrayUpperBound(loaded), 2);
    for (int i = 0; i < paths.size(); ++i)
        EXPECT_EQ(FindInArray(loaded, CopyKey(paths[i], 7, kCreated)), i);
}

// The register never ignores letter case, for loaded keys and for keys added while it runs.
TEST(CopyRegister, FindsKeysWithTheirLetterCaseOnly) {
    const TextArray keys = QStringList{CopyKey("/in/Straße.avi", 1, kCreated)};
    CopyRegister index(keys);
    index.append(CopyKey("/in/Neu.avi", 2, kCreated));
    EXPECT_TRUE(index.contains(keys->at(0)));
    EXPECT_TRUE(index.contains(CopyKey("/in/Neu.avi", 2, kCreated)));
    EXPECT_FALSE(index.contains(CopyKey("/in/straße.avi", 1, kCreated)));
    EXPECT_FALSE(index.contains(CopyKey("/in/neu.avi", 2, kCreated)));
    EXPECT_FALSE(index.contains(CopyKey("/in/Straße.avi", 3, kCreated)));
}

TEST(RegisterTest, DeleteSourceLogsOneLineForEachOutcome) {
    QTemporaryDir dir;
    test::RecordingDebugWindow window;
    EventLog log;
    log.setDebugWindow(&window);
    const QString file = dir.path() + "/a.avi";
    const QString written = dir.path() + "/b.avi";
    fs::append(file, "x");
    fs::append(written, "x");
    fs::HeldSource first, second, third;
    first.open(file);
    second.open(file);
    third.open(written);
    ASSERT_TRUE(QFile::setPermissions(written, QFile::ReadOwner));  // a change, as a write is

    DeleteSource(log, first, true);
    DeleteSource(log, second, false);
    DeleteSource(log, third, true);

    ASSERT_EQ(window.lines.size(), 3);
    EXPECT_TRUE(window.lines[0].endsWith("~~> Trying to Delete '" + file + "' .....Success"));
    EXPECT_TRUE(window.lines[1].endsWith("' .....Source dont't exist."));
    EXPECT_TRUE(window.lines[2].endsWith("' .....Source changed, kept."));
    EXPECT_EQ(fs::readAll(written), "x");
}

// Files and megabytes add up in the settings file; megabytes round half to even to two places
// and are written with a decimal comma.
TEST(Statistics, CountFilesAndRoundedMegabytesInGermanForm) {
    QTemporaryDir dir;
    Settings my = fileSetFor(dir.path(), "Kopierwart");
    SettingsStore store(my);
    const auto add = [&](qint64 size) {
        store.countSavedFile(size);
        store.storeStatistics();
        return StatisticsCaption(my.SavedFileCount, my.SavedMegabytes);
    };
    EXPECT_EQ(add(1048576), "1 Gesicherte Datei (1 MB)");
    EXPECT_EQ(add(367002), "2 Gesicherte Dateien (1,35 MB)");  // 0.35000...
    EXPECT_EQ(add(5LL << 30), "3 Gesicherte Dateien (5121,35 MB)");
    EXPECT_EQ(ReadIniValue(my.INI, "MB", "MB"), "5121,35");
    EXPECT_EQ(ReadIniValue(my.INI, "Fl", "Fl"), "3");
}
