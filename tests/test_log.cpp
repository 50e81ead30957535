#include "core/eventlog.h"
#include "core/logactions.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <thread>

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

// Both outputs are stamped, each in its own form. Lines a running tick still holds, and those its
// file work wrote in its own thread, belong to the old log, so the new one starts with the
// deletion, also then.
TEST_F(LogTest, DeleteLogsStartsAFreshLogAndTellsTheUser) {
    test::ensureApplication();
    test::RecordingDesktop desktop;
    m_log.WriteLog("old line");
    m_log.holdFileLines();
    m_log.WriteLog("held line");
    std::thread([this] { m_log.WriteLog("line of the file work"); }).join();
    ASSERT_EQ(fs::append(m_my.CopyListFile, "key\r\n"), 0);
    DeleteLogs(m_log, m_my, desktop);
    m_log.releaseFileLines();
    EXPECT_EQ(logBytes(), "06.12.2026/14:03:05 -> Deleted " + m_my.Log.toUtf8() +
                              "\r\n06.12.2026/14:03:05 -> Deleted " + m_my.CopyListFile.toUtf8() +
                              "\r\n\r\n");
    EXPECT_EQ(m_window.lines.mid(2),
              (QStringList{"06.12.2026 / 14:03:05 ~~> line of the file work",
                           "06.12.2026 / 14:03:05 ~~> Deleted " + m_my.Log,
                           "06.12.2026 / 14:03:05 ~~> Deleted " + m_my.CopyListFile}));
    EXPECT_FALSE(fs::facts(m_my.CopyListFile));
    EXPECT_EQ(desktop.messages.size(), 1u);
}

// A file name holding a line break must not split its line, nor forge one that looks like the
// program's own.
TEST_F(LogTest, ControlCharactersAndBackslashesAreWrittenEscapedToBothOutputs) {
    const QString name =
        QString::fromUtf8("/in/a.txt\r\n06.12.2026/14:03:05 -> Deleted /x\t\\n\x01\x7f");
    m_log.WriteLog("Copy " + name);
    const QString escaped =
        "Copy /in/a.txt\\r\\n06.12.2026/14:03:05 -> Deleted /x\\t\\\\n\\x01\\x7F";
    EXPECT_EQ(logBytes(), "06.12.2026/14:03:05 -> " + escaped.toUtf8() + "\r\n\r\n");
    EXPECT_EQ(m_window.lines, QStringList{"06.12.2026 / 14:03:05 ~~> " + escaped});
    // Names that are no UTF-8 keep their bytes.
    EXPECT_EQ(EscapedLogText(QString::fromUtf8("Grüße ") + QChar(0xDCFF)),
              QString::fromUtf8("Grüße ") + QChar(0xDCFF));
}

// The log's folder goes away (a data folder on a pulled stick) and comes back.
TEST_F(LogTest, ALogThatCannotBeWrittenIsSaidOnceInTheDebugWindowAndCatchesUpLater) {
    const QString folder = m_dir.path() + "/gone/";
    m_log.setLogFile(folder + "Kopierwart.Log");
    m_log.WriteLog("first");
    m_log.WriteLog("second");
    const QStringList failing = m_window.lines.filter("Cannot write the log file '");
    ASSERT_EQ(failing.size(), 1);
    EXPECT_TRUE(failing[0].endsWith(" - trying again with the next line"));
    EXPECT_EQ(m_window.lines.size(), 3);

    ASSERT_EQ(fs::makePath(folder), 0);
    m_log.WriteLog("third");
    EXPECT_EQ(fs::readAll(folder + "Kopierwart.Log").value_or("<missing>"),
              "06.12.2026/14:03:05 -> first\r\n06.12.2026/14:03:05 -> second\r\n"
              "06.12.2026/14:03:05 -> third\r\n\r\n");
    EXPECT_TRUE(m_window.lines.last().endsWith("The log file '" + folder +
                                               "Kopierwart.Log' takes lines again"));
    m_log.WriteLog("fourth");
    EXPECT_EQ(m_window.lines.filter("log file").size(), 2);
}
