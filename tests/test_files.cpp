#include "core/files.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scratchfs.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
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

TEST_F(FilesTest, TextAndListFilesKeepTheirLayoutAndEmptyEntries) {
    writeBytes(path("a"), "x\r\ny\r\n");
    writeBytes(path("b"), "x\r\n\r\n");
    EXPECT_EQ(ReadTextFile(path("a")), "x\r\ny") << "one trailing line end removed";
    EXPECT_EQ(ReadTextFile(path("b")), "x\r\n");
    EXPECT_EQ(ReadTextFile(path("missing")), "");
    EXPECT_FALSE(fs::facts(path("missing"))) << "reading never creates the file";

    const TextArray entries = QStringList{"x", "", QString("Overnet") + QChar(u'\0') + "Overnet"};
    EXPECT_EQ(SaveListFile(entries, path("list.cfg")), 0);
    EXPECT_EQ(bytesOf(path("list.cfg")), QByteArray("x\r\n\r\nOvernet\0Overnet\r\n", 22));
    EXPECT_EQ(LoadListFile(path("list.cfg")), entries);
    EXPECT_EQ(SaveListFile(QStringList{""}, path("one.cfg")), 0);
    EXPECT_EQ(bytesOf(path("one.cfg")), "\r\n");
    EXPECT_TRUE(LoadListFile(path("one.cfg"))->isEmpty());
    const TextArray missing = LoadListFile(path("missing.cfg"));
    ASSERT_TRUE(ArrayHasBounds(missing));
    EXPECT_EQ(ArrayUpperBound(missing), -1);

    // An editor's empty list has no bounds and leaves no file.
    TextArray edited = QStringList{"avi"};
    EXPECT_NE(ListBoxToArray({}, edited), 0);
    EXPECT_FALSE(ArrayHasBounds(edited));
    EXPECT_EQ(SaveListFile(edited, path("none.cfg")), 0);
    EXPECT_FALSE(fs::facts(path("none.cfg")));
    EXPECT_EQ(ListBoxToArray({"avi", "mp3"}, edited), 0);
    EXPECT_EQ(edited, TextArray(QStringList{"avi", "mp3"}));
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

TEST_F(FilesTest, DeleteFileForcedTakesOnlyFilesAndFoldersAreMadeWhole) {
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

    EXPECT_FALSE(FolderExists(path("a/b/c"), false));
    EXPECT_TRUE(FolderExists(path("a/b/c"), true));
    EXPECT_TRUE(fs::isDirectory(path("a/b/c")));
    EXPECT_FALSE(CreateFolderPath(path("fifo/sub"))) << "below what is no folder";
}

TEST_F(FilesTest, FileNamesThatAreNotUtf8SurviveWritingReadingAndDeleting) {
    const QByteArray rawName = QByteArray("caf\xe9 \xff.txt");
    const QString name = decodeLocal(rawName);
    const QByteArray rawPath = encodeLocal(m_dir.path()) + '/' + rawName;
    ::close(::open(rawPath.constData(), O_CREAT | O_WRONLY, 0644));

    EXPECT_TRUE(FileExists(path(name)));
    EXPECT_EQ(WriteTextFile(path(name), name, true), 0);
    EXPECT_EQ(bytesOf(path(name)), rawName + "\r\n");
    EXPECT_EQ(ReadTextFile(path(name)), name);
    EXPECT_EQ(DeleteFileForced(path(name)), 0);
    EXPECT_NE(::access(rawPath.constData(), F_OK), 0);
}

TEST(TextCodec, EveryByteOfANameSurvivesALeadingByteOrderMarkIncluded) {
    QByteArray everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte.append(char(b));
    const QByteArray bom("\xEF\xBB\xBF");
    // U+10080, a stray byte and an umlaut: real characters stay characters beside the escapes.
    const QByteArray mixed("\xf0\x90\x82\x80-\x80-\xc3\xa4");
    EXPECT_EQ(decodeLocal(mixed).size(), 2 + 1 + 1 + 1 + 1);
    for (const QByteArray& bytes : {bom, bom + "name.txt", bom + bom + "x", bom + "caf\xe9",
                                    "a" + bom, everyByte, bom + everyByte, mixed}) {
        const QString text = decodeLocal(bytes);
        EXPECT_EQ(encodeLocal(text), bytes) << bytes.toHex().constData();
        if (bytes.startsWith(bom)) {
            EXPECT_TRUE(text.startsWith(QChar(0xFEFF)));
        }
    }
}

TEST_F(FilesTest, IniValuesAreFoundWithoutRegardToCaseAndReplacedInPlace) {
    const QString ini = path("Kopierwart.ini");
    const QString longFolder = "/" + QString(300, QLatin1Char('d')) + "/";
    WriteIniValue(ini, "Color", "Color", "12582912");
    WriteIniValue(ini, "Sound", "Sound", longFolder);
    WriteIniValue(ini, "MB", "MB", "0");
    WriteIniValue(ini, "color", "COLOR", "255");
    EXPECT_EQ(bytesOf(ini), "[Color]\r\nColor=255\r\n[Sound]\r\nSound=" + longFolder.toUtf8() +
                                "\r\n[MB]\r\nMB=0\r\n");
    EXPECT_EQ(ReadIniValue(ini, "SOUND", "sound"), longFolder) << "read back whole";
    EXPECT_EQ(ReadIniValue(ini, "Sound", "Missing"), "");
    EXPECT_EQ(ReadIniValue(ini, "Missing", "Missing"), "");
    EXPECT_EQ(ReadIniValue(path("missing.ini"), "Color", "Color"), "");

    // Lines the program did not write stay; a new key joins its section.
    writeBytes(ini, "; comment\r\n[Source]\r\nSource=/in/\r\n\r\n[Other]\r\nx=1\r\n");
    WriteIniValue(ini, "Source", "Extra", "2");
    EXPECT_EQ(bytesOf(ini),
              "; comment\r\n[Source]\r\nSource=/in/\r\nExtra=2\r\n\r\n[Other]\r\nx=1\r\n");
}

TEST(FileSet, IsNamedAfterTheExecutable) {
    EXPECT_EQ(executableBaseName("/opt/tools/Wart.bin"), "Wart");
    const Settings my = fileSetFor("/opt/tools", "Wart");
    EXPECT_EQ((QStringList{my.Path, my.INI, my.Log, my.BlockedExtensionsFile, my.TaskListFile,
                           my.CopyListFile, my.UserP2PListFile}),
              (QStringList{"/opt/tools/", "/opt/tools/Wart.ini", "/opt/tools/Wart.Log",
                           "/opt/tools/Wart.cfg", "/opt/tools/Wart.task", "/opt/tools/Wart.Copy",
                           "/opt/tools/Wart.Tasklst"}));
    EXPECT_EQ(AddBackslash("/opt/tools"), "/opt/tools/");
    EXPECT_EQ(AddBackslash("/opt/tools/"), "/opt/tools/");
}

// A failed rewrite (here: a full disk) must leave the old file as it was.
TEST_F(FilesTest, FailedRewriteKeepsTheOldFile) {
    QString why;
    const auto disk = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Tmpfs,
                                                    path("small"), 64 << 10, &why);
    if (!disk)
        KW_CANNOT_RUN(why.toStdString());
    const QString settings = path("small/k.ini");
    const QString list = path("small/k.task");
    WriteIniValue(settings, "Source", "Source", "/in/");
    ASSERT_EQ(SaveListFile(QStringList{"/usr/bin/true"}, list), 0);
    fs::append(path("small/filler"), QByteArray(60 << 10, 'x'));  // fills it as far as it goes

    EXPECT_FALSE(WriteIniValue(settings, "Big", "Big", QString(8192, QLatin1Char('v'))));
    EXPECT_NE(SaveListFile(QStringList{QString(8192, QLatin1Char('p'))}, list), 0);
    EXPECT_EQ(ReadIniValue(settings, "Source", "Source"), "/in/");
    EXPECT_EQ(ReadTextFile(list), "/usr/bin/true");
    EXPECT_EQ(fs::namesStartingWith(path("small"), "k.").size(), 2) << "no temporary file left";
}
