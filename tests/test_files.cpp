#include "core/files.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kw;

namespace {

QByteArray bytesOf(const QString& path) {
    return fs::readAll(path).value_or("<missing>");
}

void writeBytes(const QString& path, QByteArrayView bytes) {
    ASSERT_EQ(fs::replaceAtomically(path, bytes), 0);
}

class FilesTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_dir;
};

}  // namespace

TEST(AddBackslash, AppendsSeparatorOnlyWhenMissing) {
    EXPECT_EQ(AddBackslash("/home/a/Downloads"), "/home/a/Downloads/");
    EXPECT_EQ(AddBackslash("/home/a/Downloads/"), "/home/a/Downloads/");
    EXPECT_EQ(AddBackslash(""), "/");
}

TEST_F(FilesTest, ReadTextFileRemovesOneTrailingLineEndAndNeverCreatesTheFile) {
    writeBytes(path("a"), "x\r\ny\r\n");
    writeBytes(path("b"), "x\r\n\r\n");
    EXPECT_EQ(ReadTextFile(path("a")), "x\r\ny");
    EXPECT_EQ(ReadTextFile(path("b")), "x\r\n");
    EXPECT_EQ(ReadTextFile(path("missing")), "");
    EXPECT_FALSE(fs::facts(path("missing")));
}

TEST_F(FilesTest, ListFilesRoundTripWithEmptyEntries) {
    const QString nulEntry = QStringLiteral("Overnet") + QChar(u'\0') + QStringLiteral("Overnet");
    const TextArray entries = QStringList{"x", "", nulEntry};
    EXPECT_EQ(SaveListFile(entries, path("list.cfg")), 0);
    EXPECT_EQ(bytesOf(path("list.cfg")), QByteArray("x\r\n\r\nOvernet\0Overnet\r\n", 22));
    EXPECT_EQ(LoadListFile(path("list.cfg")), entries);

    EXPECT_EQ(SaveListFile(QStringList{""}, path("one.cfg")), 0);
    EXPECT_EQ(bytesOf(path("one.cfg")), "\r\n");
    const TextArray loaded = LoadListFile(path("one.cfg"));
    ASSERT_TRUE(ArrayHasBounds(loaded));
    EXPECT_TRUE(loaded->isEmpty());

    const TextArray missing = LoadListFile(path("missing.cfg"));
    ASSERT_TRUE(ArrayHasBounds(missing));
    EXPECT_EQ(ArrayUpperBound(missing), -1);
}

TEST_F(FilesTest, EmptyEditorListLeavesNoFile) {
    TextArray entries = QStringList{"avi"};
    EXPECT_NE(ListBoxToArray({}, entries), 0);
    EXPECT_FALSE(ArrayHasBounds(entries));
    EXPECT_EQ(SaveListFile(entries, path("none.cfg")), 0);
    EXPECT_FALSE(fs::facts(path("none.cfg")));

    EXPECT_EQ(ListBoxToArray({"avi", "mp3"}, entries), 0);
    EXPECT_EQ(entries, TextArray(QStringList{"avi", "mp3"}));
}

TEST_F(FilesTest, WriteTextFileHonoursOverwriteAndReplacesReadOnlyFiles) {
    writeBytes(path("t"), "old\r\n");
    EXPECT_EQ(WriteTextFile(path("t"), "new", false), 0);
    EXPECT_EQ(bytesOf(path("t")), "old\r\n");

    ::chmod(encodeLocal(path("t")).constData(), 0444);
    EXPECT_EQ(WriteTextFile(path("t"), "new", true), 0);
    EXPECT_EQ(bytesOf(path("t")), "new\r\n");
    EXPECT_EQ(fs::namesStartingWith(m_dir.path(), "t.").size(), 0) << "no temporary file left";
}

TEST_F(FilesTest, DeleteFileForcedAnswersMinusOneForWhatIsNoFile) {
    EXPECT_EQ(DeleteFileForced(path("missing")), -1);
    ASSERT_EQ(fs::makePath(path("folder")), 0);
    EXPECT_EQ(DeleteFileForced(path("folder")), -1);
    EXPECT_TRUE(fs::isDirectory(path("folder")));
    ASSERT_EQ(::mkfifo(encodeLocal(path("fifo")).constData(), 0644), 0);
    EXPECT_FALSE(FileExists(path("fifo"))) << "a FIFO is no file, and opening it must not hang";

    writeBytes(path("ro"), "x");
    ::chmod(encodeLocal(path("ro")).constData(), 0444);
    EXPECT_EQ(DeleteFileForced(path("ro")), 0);
    EXPECT_FALSE(fs::facts(path("ro")));
}

TEST_F(FilesTest, FolderExistsCreatesTheWholeChain) {
    const QString deep = path("a/b/c");
    EXPECT_FALSE(FolderExists(deep, false));
    EXPECT_TRUE(FolderExists(deep, true));
    EXPECT_TRUE(fs::isDirectory(deep));
    writeBytes(path("file"), "x");
    EXPECT_FALSE(CreateFolderPath(path("file/sub")));
}

TEST_F(FilesTest, FileNamesThatAreNotUtf8SurviveWritingReadingAndDeleting) {
    const QByteArray rawName = QByteArray("caf\xe9 \xff.txt");
    const QString name = decodeLocal(rawName);
    EXPECT_EQ(encodeLocal(name), rawName);
    const QByteArray rawPath = encodeLocal(m_dir.path()) + '/' + rawName;
    const int fd = ::open(rawPath.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    EXPECT_TRUE(FileExists(path(name)));
    EXPECT_EQ(WriteTextFile(path(name), name, true), 0);
    EXPECT_EQ(bytesOf(path(name)), rawName + "\r\n");
    EXPECT_EQ(ReadTextFile(path(name)), name);
    EXPECT_EQ(DeleteFileForced(path(name)), 0);
    EXPECT_NE(::access(rawPath.constData(), F_OK), 0);
}

TEST(TextCodec, KeepsRealCharactersBesideEscapedBytes) {
    const QByteArray bytes =
        QByteArray("\xf0\x90\x82\x80-\x80-\xc3\xa4");  // U+10080, a stray byte, ä
    const QString text = decodeLocal(bytes);
    EXPECT_EQ(text.size(), 2 + 1 + 1 + 1 + 1);
    EXPECT_EQ(encodeLocal(text), bytes);
}

TEST(TextCodec, EveryByteOfANameSurvivesALeadingByteOrderMarkIncluded) {
    QByteArray everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte.append(char(b));
    const QByteArray bom("\xEF\xBB\xBF");
    for (const QByteArray& bytes : {bom, bom + "name.txt", bom + bom + "x", bom + "caf\xe9",
                                    "a" + bom, everyByte, bom + everyByte}) {
        const QString text = decodeLocal(bytes);
        EXPECT_EQ(encodeLocal(text), bytes) << bytes.toHex().constData();
        if (bytes.startsWith(bom)) {
            EXPECT_TRUE(text.startsWith(QChar(0xFEFF)));
        }
    }
}

TEST_F(FilesTest, IniValuesAreFoundWithoutRegardToCaseAndReplacedInPlace) {
    const QString ini = path("Kopierwart.ini");
    WriteIniValue(ini, "Color", "Color", "12582912");
    WriteIniValue(ini, "Sound", "Sound", "/opt/Copy.wav");
    WriteIniValue(ini, "MB", "MB", "0");
    WriteIniValue(ini, "color", "COLOR", "255");
    EXPECT_EQ(bytesOf(ini),
              "[Color]\r\nColor=255\r\n[Sound]\r\nSound=/opt/Copy.wav\r\n[MB]\r\nMB=0\r\n");
    EXPECT_EQ(ReadIniValue(ini, "SOUND", "sound"), "/opt/Copy.wav");
    EXPECT_EQ(ReadIniValue(ini, "Sound", "Missing"), "");
    EXPECT_EQ(ReadIniValue(ini, "Missing", "Missing"), "");
    EXPECT_EQ(ReadIniValue(path("missing.ini"), "Color", "Color"), "");

    // Lines the program did not write stay; a new key joins its section.
    writeBytes(ini, "; comment\r\n[Source]\r\nSource=/in/\r\n\r\n[Other]\r\nx=1\r\n");
    WriteIniValue(ini, "Source", "Extra", "2");
    EXPECT_EQ(bytesOf(ini),
              "; comment\r\n[Source]\r\nSource=/in/\r\nExtra=2\r\n\r\n[Other]\r\nx=1\r\n");
}

TEST_F(FilesTest, LongIniValuesAreReadBackWhole) {
    const QString ini = path("k.ini");
    const QString longFolder = "/" + QString(300, QLatin1Char('d')) + "/";
    WriteIniValue(ini, "Source", "Source", longFolder);
    EXPECT_EQ(ReadIniValue(ini, "Source", "Source"), longFolder);
}

TEST(FileSet, IsNamedAfterTheExecutable) {
    EXPECT_EQ(executableBaseName("/opt/tools/Kopierwart"), "Kopierwart");
    EXPECT_EQ(executableBaseName("/opt/tools/Wart.bin"), "Wart");
    const Settings my = fileSetFor("/opt/tools", "Wart");
    EXPECT_EQ(my.Path, "/opt/tools/");
    EXPECT_EQ(my.INI, "/opt/tools/Wart.ini");
    EXPECT_EQ(my.Log, "/opt/tools/Wart.Log");
    EXPECT_EQ(my.BlockedExtensionsFile, "/opt/tools/Wart.cfg");
    EXPECT_EQ(my.TaskListFile, "/opt/tools/Wart.task");
    EXPECT_EQ(my.CopyListFile, "/opt/tools/Wart.Copy");
    EXPECT_EQ(my.UserP2PListFile, "/opt/tools/Wart.Tasklst");
    EXPECT_EQ(programVersion(), KW_PROJECT_VERSION);
}

// A failed rewrite (here: a full disk) must leave the old file as it was.
TEST_F(FilesTest, FailedRewriteKeepsTheOldFile) {
    const QString mountPoint = path("small");
    ASSERT_EQ(fs::makePath(mountPoint), 0);
    if (::mount("tmpfs", encodeLocal(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        KW_CANNOT_RUN("cannot mount a tmpfs here");
    const QString settings = mountPoint + "/k.ini";
    WriteIniValue(settings, "Source", "Source", "/in/");
    const QString list = mountPoint + "/k.task";
    ASSERT_EQ(SaveListFile(QStringList{"/usr/bin/true"}, list), 0);
    const QString filler = mountPoint + "/filler";
    QByteArray big(60 * 1024, 'x');
    fs::append(filler, big);  // fills the file system as far as it goes

    EXPECT_FALSE(WriteIniValue(settings, "Big", "Big", QString(8192, QLatin1Char('v'))));
    EXPECT_NE(SaveListFile(QStringList{QString(8192, QLatin1Char('p'))}, list), 0);
    EXPECT_EQ(ReadIniValue(settings, "Source", "Source"), "/in/");
    EXPECT_EQ(ReadTextFile(list), "/usr/bin/true");
    EXPECT_EQ(fs::namesStartingWith(mountPoint, "k.").size(), 2) << "no temporary file left";
    ::umount2(encodeLocal(mountPoint).constData(), MNT_DETACH);
}
