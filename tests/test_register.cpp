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

using namespace kw;

namespace {

const QChar kNul(u'\0');

QDateTime utc(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

}  // namespace

TEST(CopyKey, JoinsPathSizeAndGeneralDateTimeWithNul) {
    EXPECT_EQ(CopyKey("/in/a.avi", 1234, utc(2026, 12, 6, 14, 3, 5)),
              QString("/in/a.avi") + kNul + "1234" + kNul + "06.12.2026 14:03:05");
    EXPECT_EQ(CopyKey("/in/a", 0, utc(2026, 12, 6, 0, 0, 0)),
              QString("/in/a") + kNul + "0" + kNul + "06.12.2026");
    EXPECT_EQ(CopyKey("/in/a", -1, zeroDateTime()),
              QString("/in/a") + kNul + "-1" + kNul + "00:00:00");
    EXPECT_EQ(CopyKey("/in/big", 3221225472LL, utc(2026, 1, 2, 3, 4, 5)).section(kNul, 1, 1),
              "3221225472");
}

// The generic lookup ignores letter case unless asked; the register itself never does.
TEST(Arrays, FindInArrayIgnoresLetterCaseUnlessAskedTo) {
    const TextArray copied = QStringList{CopyKey("/In/Movie.AVI", 5, utc(2026, 1, 1, 1, 1, 1))};
    const QString other = CopyKey("/in/movie.avi", 5, utc(2026, 1, 1, 1, 1, 1));
    EXPECT_EQ(FindInArray(copied, other), 0);
    EXPECT_EQ(FindInArray(copied, other, -1, -1, true), -1);
    EXPECT_EQ(FindInArray(copied, CopyKey("/in/movie.avi", 6, utc(2026, 1, 1, 1, 1, 1))), -1);
    EXPECT_FALSE(CopyRegister(copied).contains(other));
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
    for (int i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(FindInArray(loaded, CopyKey(paths[i], 7, created)), i);
    }
}

TEST(Arrays, BoundsAndSearchesOfArraysWithoutElements) {
    TextArray never;
    EXPECT_EQ(FindInArray(never, "x"), -2);
    EXPECT_EQ(ArrayUpperBound(never), -1);
    AddArray(never, "first");
    EXPECT_EQ(never, TextArray(QStringList{"first"}));
    AddArray(never, "second");
    EXPECT_EQ(never, TextArray(QStringList{"first", "second"}));

    TextArray one = QStringList{"only"};
    EXPECT_EQ(RemoveArrayItem(one, 1), 9);
    EXPECT_EQ(RemoveArrayItem(one, 0), 0);
    EXPECT_FALSE(ArrayHasBounds(one));

    EXPECT_EQ(FindListEntry({}, "x"), -1);
    EXPECT_EQ(FindListEntry({"/out/A.avi", "/out/a.avi"}, "/OUT/a.AVI"), 0);
    EXPECT_EQ(FindListEntry({"/out/A.avi", "/out/a.avi"}, "/out/a.avi", true), 1);
}

class RegisterTest : public ::testing::Test {
protected:
    RegisterTest() : m_log([] { return QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0)); }) {
        m_my = fileSetFor(m_dir.path(), "Kopierwart");
        m_my.SavedFileCount = "0";
        m_my.SavedMegabytes = "0";
        m_log.setDebugWindow(&m_window);
    }
    QTemporaryDir m_dir;
    Settings m_my;
    test::RecordingDebugWindow m_window;
    EventLog m_log;
};

TEST_F(RegisterTest, DeleteSourceLogsOneLineForEachOutcome) {
    const QString file = m_dir.path() + "/a.avi";
    const QString written = m_dir.path() + "/b.avi";
    ASSERT_EQ(fs::append(file, "x"), 0);
    ASSERT_EQ(fs::append(written, "x"), 0);
    fs::HeldSource first, second, third;
    first.open(file);
    second.open(file);
    third.open(written);
    ASSERT_TRUE(QFile::setPermissions(written, QFile::ReadOwner));  // a change, as a write is

    DeleteSource(m_log, first, true);
    DeleteSource(m_log, second, false);
    DeleteSource(m_log, third, true);

    ASSERT_EQ(m_window.lines.size(), 3);
    EXPECT_TRUE(m_window.lines[0].endsWith("~~> Trying to Delete '" + file + "' .....Success"));
    EXPECT_TRUE(m_window.lines[1].endsWith("~~> Source allready exist - Trying to Delete '" + file +
                                           "' .....Source dont't exist."));
    EXPECT_TRUE(m_window.lines[2].endsWith("~~> Trying to Delete '" + written +
                                           "' .....Source changed, kept."));
    EXPECT_EQ(fs::readAll(written), "x");
}

TEST_F(RegisterTest, StatisticsCountFilesAndRoundedMegabytes) {
    EXPECT_EQ(AddToStatistics(m_my, 1048576), "1 Gesicherte Datei (1 MB)");
    EXPECT_EQ(AddToStatistics(m_my, 5000), "2 Gesicherte Dateien (1 MB)");
    EXPECT_EQ(AddToStatistics(m_my, 367002), "3 Gesicherte Dateien (1,35 MB)");  // 0.35000...
    EXPECT_EQ(ReadIniValue(m_my.INI, "MB", "MB"), "1,35");
    EXPECT_EQ(ReadIniValue(m_my.INI, "Fl", "Fl"), "3");
    EXPECT_EQ(m_my.SavedFileCount, "3");
    EXPECT_EQ(AddToStatistics(m_my, 5LL * 1024 * 1024 * 1024), "4 Gesicherte Dateien (5121,35 MB)");
}

TEST(Statistics, CaptionWordFollowsTheCountText) {
    EXPECT_EQ(StatisticsCaption("0", "0"), "0 Gesicherte Dateien (0 MB)");
    EXPECT_EQ(StatisticsCaption("1", "0,35"), "1 Gesicherte Datei (0,35 MB)");
    EXPECT_EQ(StatisticsCaption("2", "2,5"), "2 Gesicherte Dateien (2,5 MB)");
}

TEST(GermanNumbers, RoundHalvesToEvenAndReadOnlyWholeNumbers) {
    EXPECT_DOUBLE_EQ(roundHalfEven(0.125, 2), 0.12);
    EXPECT_DOUBLE_EQ(roundHalfEven(0.375, 2), 0.38);
    EXPECT_DOUBLE_EQ(roundHalfEven(0.0048, 2), 0.0);
    EXPECT_EQ(parseDecimal("12,57"), 12.57);
    EXPECT_FALSE(parseDecimal("abc"));
    EXPECT_FALSE(parseDecimal(""));
    EXPECT_FALSE(parseInteger("5,5"));
    EXPECT_EQ(parseInteger("-12582912"), -12582912);
    EXPECT_EQ(decimalText(0.1 + 0.2), "0,3");
}

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

    CopyRegister fresh;
    EXPECT_FALSE(fresh.contains(probes[0]));
    fresh.append(probes[5]);
    EXPECT_EQ(fresh.keys(), TextArray(QStringList{probes[5]}));
    EXPECT_TRUE(fresh.contains(probes[5]));
    EXPECT_FALSE(fresh.contains(CopyKey("/IN/NEW.avi", 1, created)));
}
