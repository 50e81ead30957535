#include "core/eventlog.h"
#include "core/logactions.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "tests/support/recording.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace kw;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(14, 3, 5));

class LogTest : public ::testing::Test {
protected:
    LogTest() : m_log([] { return kNow; }) {
        m_my = fileSetFor(m_dir.path(), "Kopierwart");
        m_log.setLogFile(m_my.Log);
        m_log.setDebugWindow(&m_window);
    }
    QByteArray logBytes() const { return fs::readAll(m_my.Log).value_or("<missing>"); }

    QTemporaryDir m_dir;
    Settings m_my;
    test::RecordingDebugWindow m_window;
    EventLog m_log;
};

}  // namespace

TEST_F(LogTest, StampsEachOutputInItsOwnForm) {
    m_log.setDebugWindow(nullptr);
    m_log.WriteLog("early");  // before the debug window exists: the file still gets it
    m_log.setDebugWindow(&m_window);
    m_log.WriteLog("Reading Config...");
    m_log.WriteLog("");
    m_log.WriteLog("Set My.Source = ");
    // A line end after each line, an empty line for the empty text, one more at the end.
    EXPECT_EQ(logBytes(),
              "06.12.2026/14:03:05 -> early\r\n"
              "06.12.2026/14:03:05 -> Reading Config...\r\n\r\n"
              "06.12.2026/14:03:05 -> Set My.Source = \r\n\r\n");
    EXPECT_EQ(m_window.lines, (QStringList{"06.12.2026 / 14:03:05 ~~> Reading Config...", "",
                                           "06.12.2026 / 14:03:05 ~~> Set My.Source = "}));
    EXPECT_EQ(m_window.selected, 2);
}

TEST_F(LogTest, LogFileIsCutToItsCapFromTheOldestEndNeverSplittingACharacter) {
    const QString line(100, QLatin1Char('a'));
    for (int i = 0; i < 600; ++i)
        m_log.WriteLog(line + QString::number(i));
    EXPECT_EQ(logBytes().size(), kLogFileMaximum);
    EXPECT_TRUE(logBytes().endsWith(line.toUtf8() + "599\r\n\r\n"));

    const QString umlauts(1000, QChar(u'ä'));  // two bytes each
    for (int i = 0; i < 30; ++i) {
        m_log.WriteLog(umlauts);
        m_log.WriteLog("x");
        const QByteArray bytes = logBytes();
        ASSERT_LE(bytes.size(), kLogFileMaximum);
        ASSERT_TRUE(QByteArrayView(bytes).isValidUtf8()) << "after line " << i;
    }
}

TEST_F(LogTest, DebugWindowDropsItsOldestLinesAtCapacityAndClearsToItsOwnLine) {
    m_log.setLogFile({});
    for (int i = 0; i < kDebugWindowCapacity + 2; ++i)
        m_log.WriteLog(QString::number(i));
    EXPECT_EQ(m_window.lines.size(), kDebugWindowCapacity);
    EXPECT_TRUE(m_window.lines.first().endsWith("~~> 2"));
    EXPECT_TRUE(m_window.lines.last().endsWith(QString::number(kDebugWindowCapacity + 1)));

    ClearDebugWindow(m_log, m_window);
    ASSERT_EQ(m_window.lines.size(), 1);
    EXPECT_TRUE(m_window.lines[0].endsWith("Clearing DebugWindow"));
}

TEST_F(LogTest, DeleteLogsStartsAFreshLogAndTellsTheUser) {
    test::RecordingDesktop desktop;
    m_log.WriteLog("old line");
    ASSERT_EQ(fs::append(m_my.CopyListFile, "key\r\n"), 0);
    DeleteLogs(m_log, m_my, desktop);
    EXPECT_EQ(logBytes(), "06.12.2026/14:03:05 -> Deleted " + m_my.Log.toUtf8() +
                              "\r\n06.12.2026/14:03:05 -> Deleted " + m_my.CopyListFile.toUtf8() +
                              "\r\n\r\n");
    EXPECT_FALSE(fs::facts(m_my.CopyListFile));
    EXPECT_EQ(desktop.messages.size(), 1u);
    for (const QString& name : fs::namesStartingWith(m_dir.path(), ""))
        EXPECT_FALSE(fs::readAll(m_dir.path() + "/" + name).value_or("").contains("old line"))
            << name.toStdString();

    DeleteLogs(m_log, m_my, desktop);
    EXPECT_TRUE(logBytes().contains("File not found " + m_my.CopyListFile.toUtf8()));
}
