// The small units under the file work, on bytes and real files: list and settings files, names
// that are not UTF-8, the listing, path names, the register and statistics, the log, the wave
// parser, the copy and the access lists it carries, and the task watchdog.
#include "core/copyregister.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/inifile.h"
#include "core/logactions.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "platform/accesscopy.h"
#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "platform/fs.h"
#include "platform/pathname.h"
#include "platform/processes.h"
#include "platform/textcodec.h"
#include "platform/wave.h"
#include "scan/bincopy.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <thread>

using namespace kw;
using namespace kw::test;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(14, 3, 5));
const QDateTime kCreated(QDate(2026, 12, 6), QTime(14, 3, 5), Qt::UTC);

class FilesTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_dir;
};

TEST_F(FilesTest, ListFilesKeepTheirLayoutAndEmptyEntries) {
    const TextArray entries = QStringList{"x", "", QString("Overnet") + QChar(u'\0') + "Overnet"};
    EXPECT_EQ(SaveListFile(entries, path("list.cfg")), 0);
    EXPECT_EQ(bytesOf(path("list.cfg")), QByteArray("x\r\n\r\nOvernet\0Overnet\r\n", 22));
    EXPECT_EQ(LoadListFile(path("list.cfg")), entries);
    EXPECT_EQ(ReadTextFile(path("list.cfg")), "x\r\n\r\n" + entries->at(2)) << "one line end less";
    EXPECT_EQ(SaveListFile(TextArray(), path("none.cfg")), 0);  // no bounds: no file
    EXPECT_FALSE(fs::facts(path("none.cfg")));
}

TEST_F(FilesTest, FileNamesThatAreNotUtf8SurviveWritingListingAndDeleting) {
    const QByteArray rawName = QByteArray("caf\xe9 \xff.txt");
    const QString name = decodeLocal(rawName);
    const QByteArray rawPath = encodeLocal(m_dir.path()) + '/' + rawName;
    ::close(::open(rawPath.constData(), O_CREAT | O_WRONLY, 0644));
    EXPECT_TRUE(FileExists(path(name)));
    EXPECT_EQ(WriteTextFile(path(name), name, true), 0);
    EXPECT_EQ(bytesOf(path(name)), rawName + "\r\n");
    EXPECT_EQ(DeleteFileForced(path(name)), 0);
    EXPECT_NE(::access(rawPath.constData(), F_OK), 0);

    // Hidden, read-only and not-UTF-8 names are listed; folders, FIFOs and links are not.
    const QString root = path("list/");
    const QByteArray raw = "\xff\xfe name.bin";
    for (const QString& name : {QString("movie.avi"), QString(".hidden"), QString("readonly.txt"),
                                QString("sub/inner.txt"), decodeLocal(raw)}) {
        fs::makePath(ParentFolder(root + name));
        ASSERT_EQ(fs::append(root + name, "data"), 0);
    }
    ::chmod(encodeLocal(root + "readonly.txt").constData(), 0444);
    ASSERT_EQ(::mkfifo(encodeLocal(root + "fifo").constData(), 0644), 0);
    ASSERT_EQ(::symlink("movie.avi", encodeLocal(root + "link.avi").constData()), 0);
    TextArray names = ListFolderFiles(root);
    ASSERT_TRUE(ArrayHasBounds(names));
    names->sort();
    EXPECT_EQ(encodeLocal(names->join('|')), ".hidden|movie.avi|readonly.txt|" + raw);
    EXPECT_EQ(FileLength(root + decodeLocal(raw)), 4);
    EXPECT_FALSE(ArrayHasBounds(ListFolderFiles(root + "missing/")));
    ASSERT_EQ(::truncate(encodeLocal(root + "movie.avi").constData(), 3LL * 1024 * 1024 * 1024 + 7),
              0);
    EXPECT_EQ(FileLength(root + "movie.avi"), 3LL * 1024 * 1024 * 1024 + 7);
}

TEST(TextCodec, EveryByteOfANameSurvivesALeadingByteOrderMarkIncluded) {
    QByteArray everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte.append(char(b));
    const QByteArray bom("\xEF\xBB\xBF");
    // U+10080, a stray byte and an umlaut: real characters stay characters beside the escapes.
    const QByteArray mixed("\xf0\x90\x82\x80-\x80-\xc3\xa4");
    for (const QByteArray& bytes : {bom + "name.txt", bom + bom + "x", bom + "caf\xe9", "a" + bom,
                                    everyByte, bom + everyByte, mixed})
        EXPECT_EQ(encodeLocal(decodeLocal(bytes)), bytes) << bytes.toHex().constData();
}

TEST_F(FilesTest,
       IniValuesAreFoundWithoutRegardToCaseAndReplacedInPlaceAndAFailedRewriteKeepsThem) {
    const QString ini = path("Kopierwart.ini");
    const QString longFolder = "/" + QString(300, QLatin1Char('d')) + "/";
    ASSERT_EQ(fs::replaceAtomically(ini, "; comment\r\n[Color]\r\nColor=1\r\n\r\n[Other]\r\n"), 0);
    WriteIniValue(ini, "color", "COLOR", "255");
    WriteIniValue(ini, "Color", "Sound", longFolder);
    EXPECT_EQ(bytesOf(ini), "; comment\r\n[Color]\r\nColor=255\r\nSound=" + longFolder.toUtf8() +
                                "\r\n\r\n[Other]\r\n");
    EXPECT_EQ(ReadIniValue(ini, "COLOR", "sound"), longFolder);

    QString why;
    const auto disk =
        ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, path("small"), 64 << 10, &why);
    if (!disk)
        KW_CANNOT_RUN(why.toStdString());
    const QString settings = path("small/k.ini");
    WriteIniValue(settings, "Source", "Source", "/in/");
    fs::append(path("small/filler"), QByteArray(60 << 10, 'x'));  // fills it as far as it goes
    EXPECT_FALSE(WriteIniValue(settings, "Big", "Big", QString(8192, QLatin1Char('v'))));
    EXPECT_EQ(ReadIniValue(settings, "Source", "Source"), "/in/");
    EXPECT_EQ(fs::namesStartingWith(path("small"), "k.").size(), 1) << "no temporary file left";
}

PathName pathOf(const char* path) {
    return PathName::fromNative(path);
}

TEST(PathName, CutsAtTheBytesSlashAndDotAndJoinsWithOneSlash) {
    // path, file name, parent folder, folder, extension, base name
    const std::array<const char*, 6> rows[] = {
        {"/in/movie.part.avi", "movie.part.avi", "/in/", "/in", "avi", "movie.part"},
        {"/in/README", "README", "/in/", "/in", "", "README"},
        {"/my.dir/README", "README", "/my.dir/", "/my.dir", "dir/README", "README"},
        {"/in/name.", "name.", "/in/", "/in", "", "name"},
        {"/in/.hidden", ".hidden", "/in/", "/in", "hidden", ".hidden"},
        {"/out/", "", "/out/", "/out", "", ""},
        {"/", "", "/", "/", "", ""},
        {"/root.txt", "root.txt", "/", "/", "txt", "root"},
        {"a.avi", "a.avi", "", "", "avi", "a"},
        {"", "", "", "", "", ""},
        {"/\xff\xfe.d/n\xe9.\xc3", "n\xe9.\xc3", "/\xff\xfe.d/", "/\xff\xfe.d", "\xc3", "n\xe9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        const PathName path = pathOf(row[0]);
        EXPECT_EQ(path.fileName(), pathOf(row[1]));
        EXPECT_EQ(path.parentFolder(), pathOf(row[2]));
        EXPECT_EQ(path.folder(), pathOf(row[3]));
        EXPECT_EQ(path.extension(), pathOf(row[4]));
        EXPECT_EQ(path.baseName(), pathOf(row[5]));
        EXPECT_EQ(PathName(path.text()), path);
    }
    EXPECT_EQ(pathOf("/out").joined(pathOf("a\xff")), pathOf("/out/a\xff"));
    EXPECT_EQ(pathOf("/out/").joined(pathOf("a")), pathOf("/out/a"));
    EXPECT_EQ(pathOf("").asFolder(), pathOf("/"));
    EXPECT_EQ(pathOf("/out/log").sibling(pathOf(".log.spare")), pathOf("/out/.log.spare"));
    EXPECT_EQ(pathOf("log").sibling(pathOf(".log.spare")), pathOf(".log.spare"));
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

TEST(RegisterTest, DeleteSourceLogsOneLineForEachOutcome) {
    QTemporaryDir dir;
    RecordingDebugWindow window;
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

TEST_F(LogTest, LogFileIsCutToItsCapFromTheOldestEndNeverSplittingACharacter) {
    const QString umlauts(1000, QChar(u'ä'));  // two bytes each
    for (int i = 0; i < 30; ++i) {
        m_log.WriteLog(umlauts);
        m_log.WriteLog("x");
        ASSERT_LE(bytesOf(m_my.Log).size(), kLogFileMaximum);
        ASSERT_TRUE(QByteArrayView(bytesOf(m_my.Log)).isValidUtf8()) << i;
    }
}

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
    EXPECT_EQ(bytesOf(folder + "Kopierwart.Log"),
              "06.12.2026/14:03:05 -> first\r\n06.12.2026/14:03:05 -> second\r\n"
              "06.12.2026/14:03:05 -> third\r\n\r\n");
    EXPECT_TRUE(m_window.lines.last().endsWith("The log file '" + folder +
                                               "Kopierwart.Log' takes lines again"));
    m_log.WriteLog("fourth");
    EXPECT_EQ(m_window.lines.filter("log file").size(), 2);
}

template <typename T>
QByteArray littleEndian(T value) {
    value = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

QByteArray riffChunk(const QByteArray& id, const QByteArray& body) {  // padded to an even length
    return id + littleEndian(quint32(body.size())) + body + QByteArray(body.size() % 2, '\0');
}

struct WaveShape {
    quint16 format = 1;  // 1 PCM, 3 float, anything else compressed
    quint16 channels = 1;
    quint16 bits = 16;
    QByteArray samples = QByteArray(1600, '\x10');
};

QByteArray waveFile(const WaveShape& shape = {}) {
    const quint16 align = quint16(shape.channels * (shape.bits / 8));
    const QByteArray fmt = littleEndian(shape.format) + littleEndian(shape.channels) +
                           littleEndian(8000u) + littleEndian(8000u * align) + littleEndian(align) +
                           littleEndian(shape.bits);
    const QByteArray body = "WAVE" + riffChunk("fmt ", fmt) + riffChunk("data", shape.samples);
    return "RIFF" + littleEndian(quint32(body.size())) + body;
}

TEST(Wave, PlayableFormatsAreRecognisedSamplesCutAtTheFileEndAnd24BitsWidened) {
    EXPECT_EQ(ParseWave(waveFile({.bits = 8})).value().format, SampleFormat::UInt8);
    EXPECT_EQ(ParseWave(waveFile({.format = 3, .bits = 32})).value().format, SampleFormat::Float);
    for (const WaveShape& refused : {WaveShape{.format = 0x55}, WaveShape{.format = 3, .bits = 16},
                                     WaveShape{.bits = 12}, WaveShape{.channels = 0}})
        EXPECT_FALSE(ParseWave(waveFile(refused)));
    EXPECT_FALSE(ParseWave(waveFile().left(30)));
    EXPECT_FALSE(ParseWave(waveFile().left(waveFile().indexOf("data"))));
    // The header promises 1600 bytes; the file ends after 100 of them.
    EXPECT_EQ(DecodeWave(waveFile().chopped(1500)).value().samples, QByteArray(100, '\x10'));
    // Two 24-bit samples (plus a stray byte) become two 32-bit samples with a low zero byte.
    const auto wide = DecodeWave(waveFile({.bits = 24, .samples = "\x01\x02\x03\x04\x05\x06\x07"}));
    EXPECT_EQ(wide.value().format, SampleFormat::Int32);
    EXPECT_EQ(wide.value().samples, QByteArray("\x00\x01\x02\x03\x00\x04\x05\x06", 8));
}

// A copy goes chunk by chunk, never replaces a name, and fails, leaving nothing, when its source
// is replaced meanwhile (a download renaming its finished file over the old one).
TEST(BinCopyTest, CopiesChunkByChunkNeverReplacesAndFailsWhenTheSourceIsReplaced) {
    ScanRig r;
    const auto copy = [&](const QString& name) {
        return BinCopy(r.desktop, r.in(name), r.destination, true, "Neue Datei kopieren").problem;
    };
    const QByteArray bytes = patternBytes(2'500'000);
    writeBytes(r.in("a.bin"), bytes);
    ASSERT_EQ(copy("a.bin"), fs::CopyProblem::None);
    EXPECT_EQ(bytesOf(r.out("a.bin")), bytes);
    EXPECT_EQ(bytesOf(r.in("a.bin")), bytes) << "the source is left to the caller";
    EXPECT_EQ(r.desktop.progress.back().values,
              (std::vector<qint64>{1'024'000, 2'048'000, 2'500'000}));
    writeBytes(r.in("a.bin"), "new");
    EXPECT_EQ(copy("a.bin"), fs::CopyProblem::NameTaken);
    EXPECT_EQ(bytesOf(r.out("a.bin")), bytes);

    writeBytes(r.in("replaced.bin"), patternBytes(3'000'000));
    r.duringNextCopy([&] { saveOver(r.in("replaced.bin"), "the finished download"); });
    EXPECT_EQ(copy("replaced.bin"), fs::CopyProblem::SourceChanged);
    EXPECT_EQ(entriesOf(r.destination), QStringList{"a.bin"});
    EXPECT_EQ(bytesOf(r.in("replaced.bin")), "the finished download");
}

// Access lists go with a copy; where they cannot (a ramfs keeps modes but no extended
// attributes), the mode grants nobody more than the list did. Sources on a tmpfs.
TEST(AccessCopy, TheListAndUserAttributesGoAlongOrTheModeIsNoWiderThanTheList) {
    QTemporaryDir dir;
    QString why;
    const auto from = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, dir.path() + "/from",
                                              4 << 20, &why);
    const auto acl =
        ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, dir.path() + "/acl", 4 << 20, &why);
    const auto noAcl = ScratchFileSystem::make(ScratchFileSystem::Type::Ramfs,
                                               dir.path() + "/noacl", 4 << 20, &why);
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
        ASSERT_EQ(::setxattr(encodeLocal(file).constData(), "user.xdg.origin.url", row.name,
                             strlen(row.name), 0),
                  0);
        ASSERT_EQ(::setxattr(encodeLocal(file).constData(), "trusted.kopierwart-test", "x", 1, 0),
                  0);
        // Through a staged copy, as a move does, onto a file system that keeps lists.
        fs::StagedCopy staged;
        EXPECT_TRUE(staged.begin(file, acl->mountPoint()).ok());
        EXPECT_TRUE(staged.copy(staged.sourceSize()).ok());
        EXPECT_TRUE(staged.commit(row.name).ok());
        EXPECT_EQ(staged.access(), fs::AccessCopy::Kept);
        const QString kept = acl->mountPoint() + "/" + row.name;
        EXPECT_EQ(attribute(kept, "system.posix_acl_access"),
                  attribute(file, "system.posix_acl_access"));
        EXPECT_EQ(statOf(kept).st_mode & 07777, row.shown);
        EXPECT_EQ(attribute(kept, "user.xdg.origin.url"), row.name);
        EXPECT_EQ(attribute(kept, "trusted.kopierwart-test"), "<none>");
        // Onto one that keeps none.
        const QString copy = noAcl->mountPoint() + "/" + row.name;
        const int in = ::open(encodeLocal(file).constData(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(encodeLocal(copy).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        int error = -1;
        const fs::AccessCopy result = fs::copyAccess(in, out, row.shown, &error);
        ::close(in);
        ::close(out);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(result, row.setfacl.isEmpty() ? fs::AccessCopy::AttributesDropped
                                                : fs::AccessCopy::AclReplacedByMode);
        EXPECT_EQ(statOf(copy).st_mode & 07777, row.expected);
    }
}

// A running task is left alone, a missing one started on every tick, a vanished one dropped
// from the list and its file.
TEST(Watchdog, StartsOnlyTasksThatDoNotRunAndDropsVanishedOnes) {
    ScanRig r;
    const QString suffix = QString::number(QRandomGenerator::global()->generate(), 16);
    const QString sleeper = r.dir.path() + "/kwsleep" + suffix;
    const QString idle = r.dir.path() + "/kwidle" + suffix;
    const QString missing = r.dir.path() + "/gone" + suffix;
    ASSERT_TRUE(QFile::copy("/bin/sleep", sleeper) && QFile::copy("/bin/true", idle));
    QProcess running;
    running.start(sleeper, {"30"});
    ASSERT_TRUE(waitUntil([&] {
        QStringList names;
        QList<qint64> ids;
        return EnumRunningProcesses(names, ids) && names.contains(FileNameOf(sleeper));
    }));
    r.data.TaskList = QStringList{sleeper, missing, idle};
    EXPECT_EQ(r.tick(),
              (QStringList{"Taskpath not exist '" + missing + "'", "Writing Tasklist..."}));
    EXPECT_EQ(bytesOf(r.data.My.TaskListFile), (sleeper + "\r\n" + idle + "\r\n").toUtf8());
    EXPECT_EQ(r.tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(r.tick(), QStringList{"Executing '" + idle + "'"});
    EXPECT_EQ(r.desktop.opened, (QStringList{idle, idle}));
    running.kill();
    running.waitForFinished();
}

}  // namespace
