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

TEST_F(LogTest, LogFileIsCutToItsCapFromTheOldestEndNeverSplittingACharacter) {
    const QString umlauts(1000, QChar(u'ä'));  // two bytes each
    for (int i = 0; i < 30; ++i) {
        m_log.WriteLog(umlauts);
        m_log.WriteLog("x");
        ASSERT_LE(logBytes().size(), kLogFileMaximum);
        ASSERT_TRUE(QByteArrayView(logBytes()).isValidUtf8()) << i;
    }
}

// Both outputs are stamped, each in its own form.
TEST_F(LogTest, DeleteLogsStartsAFreshLogAndTellsTheUser) {
    test::RecordingDesktop desktop;
    m_log.WriteLog("old line");
    ASSERT_EQ(fs::append(m_my.CopyListFile, "key\r\n"), 0);
    DeleteLogs(m_log, m_my, desktop);
    EXPECT_EQ(logBytes(), "06.12.2026/14:03:05 -> Deleted " + m_my.Log.toUtf8() +
                              "\r\n06.12.2026/14:03:05 -> Deleted " + m_my.CopyListFile.toUtf8() +
                              "\r\n\r\n");
    EXPECT_EQ(m_window.lines.last(), "06.12.2026 / 14:03:05 ~~> Deleted " + m_my.CopyListFile);
    EXPECT_FALSE(fs::facts(m_my.CopyListFile));
    EXPECT_EQ(desktop.messages.size(), 1u);
}
