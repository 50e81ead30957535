// The small units under the file work whose results a user meets as they are: list and settings
// files byte for byte, the register's case rules, German numbers and dates, the log, and the
// access lists a copy carries.
#include "core/copyregister.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/inifile.h"
#include "core/logactions.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/register.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <cstring>
#include <thread>

using namespace kw;
using namespace kw::test;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(14, 3, 5));
const QDateTime kCreated(QDate(2026, 12, 6), QTime(14, 3, 5), Qt::UTC);

// The lists and settings other programs of this kind read: line ends, empty entries and NULs,
// sections and keys found without regard to case and replaced where they stand.
TEST(DataFiles, ListsAndSettingsKeepTheirLayoutByteForByte) {
    QTemporaryDir dir;
    const QString list = dir.path() + "/list.cfg", ini = dir.path() + "/Kopierwart.ini";
    const TextArray entries = QStringList{"x", "", QString("Overnet") + QChar(u'\0') + "Overnet"};
    EXPECT_EQ(SaveListFile(entries, list), 0);
    EXPECT_EQ(bytesOf(list), QByteArray("x\r\n\r\nOvernet\0Overnet\r\n", 22));
    EXPECT_EQ(LoadListFile(list), entries);
    EXPECT_EQ(ReadTextFile(list), "x\r\n\r\n" + entries->at(2)) << "one line end less";
    EXPECT_EQ(SaveListFile(TextArray(), dir.path() + "/none.cfg"), 0);  // no bounds: no file
    EXPECT_FALSE(fs::facts(dir.path() + "/none.cfg"));

    const QString longFolder = "/" + QString(300, QLatin1Char('d')) + "/";
    ASSERT_EQ(fs::replaceAtomically(ini, "; comment\r\n[Color]\r\nColor=1\r\n\r\n[Other]\r\n"), 0);
    WriteIniValue(ini, "color", "COLOR", "255");
    WriteIniValue(ini, "Color", "Sound", longFolder);
    EXPECT_EQ(bytesOf(ini), "; comment\r\n[Color]\r\nColor=255\r\nSound=" + longFolder.toUtf8() +
                                "\r\n\r\n[Other]\r\n");
    EXPECT_EQ(ReadIniValue(ini, "COLOR", "sound"), longFolder);
}

// A name that starts with a byte-order mark keeps it, which Qt's own decoders drop.
TEST(Names, ALeadingByteOrderMarkSurvivesDecoding) {
    EXPECT_EQ(encodeLocal(decodeLocal("\xEF\xBB\xBFname.txt")), "\xEF\xBB\xBFname.txt");
}

// Path, size and date joined by NUL; names with line breaks stay one line of the register and
// match again after a restart; the register never ignores letter case, for loaded keys and for
// keys added while it runs.
TEST(CopyRegister, KeysSurviveTheRegisterFileAndMatchWithTheirLetterCaseOnly) {
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

    CopyRegister index(QStringList{CopyKey("/in/Straße.avi", 1, kCreated)});
    index.append(CopyKey("/in/Neu.avi", 2, kCreated));
    EXPECT_TRUE(index.contains(CopyKey("/in/Straße.avi", 1, kCreated)));
    EXPECT_TRUE(index.contains(CopyKey("/in/Neu.avi", 2, kCreated)));
    EXPECT_FALSE(index.contains(CopyKey("/in/straße.avi", 1, kCreated)));
    EXPECT_FALSE(index.contains(CopyKey("/in/neu.avi", 2, kCreated)));
    EXPECT_FALSE(index.contains(CopyKey("/in/Straße.avi", 3, kCreated)));
}

// Megabytes round half to even to two places and are written with a decimal comma.
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

class LogTest : public ::testing::Test {
protected:
    LogTest() : m_log([] { return kNow; }) {
        m_my = fileSetFor(m_dir.path(), "Kopierwart");
        m_log.setLogFile(m_my.Log);
        m_log.setDebugWindow(&m_window);
    }
    QTemporaryDir m_dir;
    Settings m_my;
    RecordingDebugWindow m_window;
    EventLog m_log;
};

// Lines a running tick still holds, and those its file work wrote in its own thread, belong to
// the old log: the new one starts with the deletion.
TEST_F(LogTest, DeleteLogsStartsAFreshLogAndTellsTheUser) {
    ensureApplication();
    RecordingDesktop desktop;
    m_log.WriteLog("old line");
    m_log.holdFileLines();
    m_log.WriteLog("held line");
    std::thread([this] { m_log.WriteLog("line of the file work"); }).join();
    ASSERT_EQ(fs::append(m_my.CopyListFile, "key\r\n"), 0);
    DeleteLogs(m_log, m_my, desktop);
    m_log.releaseFileLines();
    EXPECT_EQ(bytesOf(m_my.Log), "06.12.2026/14:03:05 -> Deleted " + m_my.Log.toUtf8() +
                                     "\r\n06.12.2026/14:03:05 -> Deleted " +
                                     m_my.CopyListFile.toUtf8() + "\r\n\r\n");
    EXPECT_EQ(m_window.lines.mid(2),
              (QStringList{"06.12.2026 / 14:03:05 ~~> line of the file work",
                           "06.12.2026 / 14:03:05 ~~> Deleted " + m_my.Log,
                           "06.12.2026 / 14:03:05 ~~> Deleted " + m_my.CopyListFile}));
    EXPECT_FALSE(fs::facts(m_my.CopyListFile));
    EXPECT_EQ(desktop.messages.size(), 1u);
}

// A name holding a line break must neither split its line nor forge one of the program's own.
TEST_F(LogTest, ControlCharactersAndBackslashesAreWrittenEscapedToBothOutputs) {
    m_log.WriteLog(
        "Copy " + QString::fromUtf8("/in/a.txt\r\n06.12.2026/14:03:05 -> Deleted /x\t\\n\x01\x7f"));
    const QString escaped =
        "Copy /in/a.txt\\r\\n06.12.2026/14:03:05 -> Deleted /x\\t\\\\n\\x01\\x7F";
    EXPECT_EQ(bytesOf(m_my.Log), "06.12.2026/14:03:05 -> " + escaped.toUtf8() + "\r\n\r\n");
    EXPECT_EQ(m_window.lines, QStringList{"06.12.2026 / 14:03:05 ~~> " + escaped});
    EXPECT_EQ(
        EscapedLogText(QString::fromUtf8("Grüße ") + QChar(0xDCFF)),
        QString::fromUtf8("Grüße ") + QChar(0xDCFF));  // names that are no UTF-8 keep their bytes
}

// Access lists go with a staged copy, as a move makes it; where they cannot (a ramfs keeps modes
// but no extended attributes), the mode grants nobody more than the list did.
TEST(AccessCopy, TheListAndUserAttributesGoAlongOrTheModeIsNoWiderThanTheList) {
    QTemporaryDir dir;
    QString why;
    const auto mount = [&](ScratchFileSystem::Type type, const QString& name) {
        return ScratchFileSystem::make(type, dir.path() + name, 4 << 20, &why);
    };
    const auto from = mount(ScratchFileSystem::Type::Tmpfs, "/from");
    const auto acl = mount(ScratchFileSystem::Type::Tmpfs, "/acl");
    const auto noAcl = mount(ScratchFileSystem::Type::Ramfs, "/noacl");
    if (!from || !acl || !noAcl)
        KW_CANNOT_RUN(why.toStdString());
    struct Row {
        const char* name;
        unsigned mode;
        QStringList setfacl;  // through the tool a user would take: the kernel's own list
        unsigned shown;       // the mode the source shows with its list
        unsigned expected;    // the copy's mode on the ramfs
    };
    const Row rows[] = {
        {"group shut out", 0640, {"-m", "u:nobody:r,g::---"}, 0640, 0600},
        {"named user shut out", 0644, {"-m", "u:nobody:---"}, 0644, 0600},
        {"named group shut out", 0644, {"-m", "g:nogroup:---"}, 0644, 0640},
        {"named user may write", 0644, {"-m", "u:nobody:rw"}, 0664, 0644},
        {"mask shuts out all", 0644, {"-n", "-m", "u:nobody:rwx,m::---"}, 0604, 0600},
        {"no list", 0644, {}, 0644, 0644},
    };
    const auto attribute = [](const QString& path, const char* name) {
        char value[4096];
        const ssize_t n = ::getxattr(encodeLocal(path).constData(), name, value, sizeof value);
        return n < 0 ? std::string("<none>") : std::string(value, size_t(n));
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString file = from->mountPoint() + "/" + row.name;
        makeFile(file, "download", row.mode);
        if (!row.setfacl.isEmpty()) {
            ASSERT_EQ(runToEnd(QStringList{"setfacl"} + row.setfacl + QStringList{file}), 0);
        }
        ASSERT_EQ(statOf(file).st_mode & 07777, row.shown);
        for (const char* name : {"user.xdg.origin.url", "trusted.kopierwart-test"})
            ASSERT_EQ(
                ::setxattr(encodeLocal(file).constData(), name, row.name, strlen(row.name), 0), 0);
        for (const ScratchFileSystem* onto : {acl.get(), noAcl.get()}) {
            fs::StagedCopy staged;
            EXPECT_TRUE(staged.begin(file, onto->mountPoint()).ok() &&
                        staged.copy(staged.sourceSize()).ok() && staged.commit(row.name).ok());
            const QString copy = onto->mountPoint() + "/" + row.name;
            if (onto == acl.get()) {
                EXPECT_EQ(staged.access(), fs::AccessCopy::Kept);
                EXPECT_EQ(attribute(copy, "system.posix_acl_access"),
                          attribute(file, "system.posix_acl_access"));
                EXPECT_EQ(statOf(copy).st_mode & 07777, row.shown);
                EXPECT_EQ(attribute(copy, "user.xdg.origin.url"), row.name);
                EXPECT_EQ(attribute(copy, "trusted.kopierwart-test"), "<none>");
            } else {
                EXPECT_EQ(staged.access(), row.setfacl.isEmpty()
                                               ? fs::AccessCopy::AttributesDropped
                                               : fs::AccessCopy::AclReplacedByMode);
                EXPECT_EQ(statOf(copy).st_mode & 07777, row.expected);
            }
        }
    }
}

}  // namespace
