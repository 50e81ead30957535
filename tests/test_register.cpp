#include "core/copyregister.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/germanformat.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "platform/filemove.h"
#include "platform/fs.h"
#include "scan/register.h"
#include "tests/support/recording.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <tuple>

using namespace kw;

namespace {

const QChar kNul(u'\0');

QDateTime utc(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

}  // namespace

// Path, size and the date in its general form (no time at midnight, no date on the zero day).
TEST(CopyKey, JoinsPathSizeAndGeneralDateTimeWithNul) {
    const std::tuple<qint64, QDateTime, QString> cases[] = {
        {1234, utc(2026, 12, 6, 14, 3, 5), "06.12.2026 14:03:05"},
        {0, utc(2026, 12, 6, 0, 0, 0), "06.12.2026"},
        {-1, zeroDateTime(), "00:00:00"},
        {3221225472LL, utc(2026, 1, 2, 3, 4, 5), "02.01.2026 03:04:05"},
    };
    for (const auto& [size, date, dateText] : cases)
        EXPECT_EQ(CopyKey("/in/a.avi", size, date),
                  QString("/in/a.avi") + kNul + QString::number(size) + kNul + dateText);
}

TEST(CopyKey, NamesWithLineBreaksStayOneLineAndMatchAfterARestart) {
    QTemporaryDir dir;
    const QString registerFile = dir.path() + "/Kopierwart.Copy";
    const QDateTime created = utc(2026, 5, 4, 3, 2, 1);
    const QStringList paths = {"/in/two\nlines.txt", "/in/two\\nlines.txt", "/in/cr\r.txt"};
    for (const QString& path : paths)
        ASSERT_TRUE(AppendToFile(registerFile, CopyKey(path, 7, created)));

    const TextArray loaded = LoadListFile(registerFile);
    ASSERT_EQ(ArrayUpperBound(loaded), 2);
    for (int i = 0; i < paths.size(); ++i)
        EXPECT_EQ(FindInArray(loaded, CopyKey(paths[i], 7, created)), i);
}

TEST(Arrays, BoundsAndSearchesOfArraysWithoutElements) {
    TextArray never;
    EXPECT_EQ(FindInArray(never, "x"), -2);
    EXPECT_EQ(ArrayUpperBound(never), -1);
    AddArray(never, "first");
    AddArray(never, "second");
    EXPECT_EQ(never, TextArray(QStringList{"first", "second"}));

    EXPECT_EQ(FindListEntry({}, "x"), -1);
    EXPECT_EQ(FindListEntry({"/out/A.avi", "/out/a.avi"}, "/OUT/a.AVI"), 0);
    EXPECT_EQ(FindListEntry({"/out/A.avi", "/out/a.avi"}, "/out/a.avi", true), 1);
}

// The generic lookup ignores letter case unless asked; the register itself never does.
TEST(CopyRegister, FindsKeysWithTheirLetterCaseOnly) {
    const QDateTime created = utc(2026, 1, 2, 3, 4, 5);
    const TextArray keys =
        QStringList{CopyKey("/in/Straße.avi", 1, created), CopyKey("/in/B.avi", 2, created)};
    const CopyRegister index(keys);
    const QStringList probes = {
        CopyKey("/in/Straße.avi", 1, created), CopyKey("/IN/STRASSE.AVI", 1, created),
        CopyKey("/in/straße.avi", 1, created), CopyKey("/in/b.avi", 2, created),
        CopyKey("/in/B.avi", 3, created),      CopyKey("/in/new.avi", 1, created)};
    for (const QString& probe : probes)
        EXPECT_EQ(index.contains(probe), FindInArray(keys, probe, -1, -1, true) >= 0)
            << probe.toStdString();
    EXPECT_TRUE(index.contains(probes[0]));
    EXPECT_EQ(FindInArray(keys, probes[2]), 0) << "the generic lookup ignores case";

    CopyRegister fresh;
    EXPECT_FALSE(fresh.contains(probes[0]));
    fresh.append(probes[5]);
    EXPECT_EQ(fresh.keys(), TextArray(QStringList{probes[5]}));
    EXPECT_TRUE(fresh.contains(probes[5]));
    EXPECT_FALSE(fresh.contains(CopyKey("/IN/NEW.avi", 1, created)));
}

TEST(RegisterTest, DeleteSourceLogsOneLineForEachOutcome) {
    QTemporaryDir dir;
    test::RecordingDebugWindow window;
    EventLog log;
    log.setDebugWindow(&window);
    const QString file = dir.path() + "/a.avi";
    const QString written = dir.path() + "/b.avi";
    ASSERT_EQ(fs::append(file, "x"), 0);
    ASSERT_EQ(fs::append(written, "x"), 0);
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
    EXPECT_TRUE(window.lines[1].endsWith("~~> Source allready exist - Trying to Delete '" + file +
                                         "' .....Source dont't exist."));
    EXPECT_TRUE(window.lines[2].endsWith("~~> Trying to Delete '" + written +
                                         "' .....Source changed, kept."));
    EXPECT_EQ(fs::readAll(written), "x");
}

// Files and megabytes add up in the settings file; megabytes round half to even to two places
// and are written with a decimal comma.
TEST(Statistics, CountFilesAndRoundedMegabytesInGermanForm) {
    QTemporaryDir dir;
    Settings my = fileSetFor(dir.path(), "Kopierwart");
    my.SavedFileCount = my.SavedMegabytes = "0";
    const std::pair<qint64, const char*> additions[] = {
        {1048576, "1 Gesicherte Datei (1 MB)"},
        {5000, "2 Gesicherte Dateien (1 MB)"},
        {367002, "3 Gesicherte Dateien (1,35 MB)"},  // 0.35000...
        {5LL << 30, "4 Gesicherte Dateien (5121,35 MB)"},
    };
    for (const auto& [size, caption] : additions)
        EXPECT_EQ(AddToStatistics(my, size), caption);
    EXPECT_EQ(ReadIniValue(my.INI, "MB", "MB"), "5121,35");
    EXPECT_EQ(ReadIniValue(my.INI, "Fl", "Fl"), "4");
    EXPECT_EQ(StatisticsCaption("0", "0"), "0 Gesicherte Dateien (0 MB)");

    EXPECT_DOUBLE_EQ(roundHalfEven(0.125, 2), 0.12);
    EXPECT_DOUBLE_EQ(roundHalfEven(0.375, 2), 0.38);
    EXPECT_DOUBLE_EQ(roundHalfEven(0.0048, 2), 0.0);
    EXPECT_EQ(decimalText(0.1 + 0.2), "0,3");
    EXPECT_EQ(parseDecimal("12,57"), 12.57);
    EXPECT_EQ(parseInteger("-12582912"), -12582912);
    for (const char* refused : {"abc", ""})
        EXPECT_FALSE(parseDecimal(refused));
    EXPECT_FALSE(parseInteger("5,5"));
}
