#include "core/files.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scratchfs.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace kw;

namespace {

QByteArray bytesOf(const QString& path) {
    return fs::readAll(path).value_or("<missing>");
}

class FilesTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(FilesTest, ListFilesKeepTheirLayoutAndEmptyEntries) {
    const TextArray entries = QStringList{"x", "", QString("Overnet") + QChar(u'\0') + "Overnet"};
    EXPECT_EQ(SaveListFile(entries, path("list.cfg")), 0);
    EXPECT_EQ(bytesOf(path("list.cfg")), QByteArray("x\r\n\r\nOvernet\0Overnet\r\n", 22));
    EXPECT_EQ(LoadListFile(path("list.cfg")), entries);
    EXPECT_EQ(ReadTextFile(path("list.cfg")), "x\r\n\r\n" + entries->at(2)) << "one line end less";
    // An empty list has no bounds and leaves no file.
    EXPECT_EQ(SaveListFile(TextArray(), path("none.cfg")), 0);
    EXPECT_FALSE(fs::facts(path("none.cfg")));
}

TEST_F(FilesTest, FileNamesThatAreNotUtf8SurviveWritingAndDeleting) {
    const QByteArray rawName = QByteArray("caf\xe9 \xff.txt");
    const QString name = decodeLocal(rawName);
    const QByteArray rawPath = encodeLocal(m_dir.path()) + '/' + rawName;
    ::close(::open(rawPath.constData(), O_CREAT | O_WRONLY, 0644));

    EXPECT_TRUE(FileExists(path(name)));
    EXPECT_EQ(WriteTextFile(path(name), name, true), 0);
    EXPECT_EQ(bytesOf(path(name)), rawName + "\r\n");
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
    for (const QByteArray& bytes : {bom + "name.txt", bom + bom + "x", bom + "caf\xe9", "a" + bom,
                                    everyByte, bom + everyByte, mixed})
        EXPECT_EQ(encodeLocal(decodeLocal(bytes)), bytes) << bytes.toHex().constData();
}

TEST_F(FilesTest, IniValuesAreFoundWithoutRegardToCaseAndReplacedInPlace) {
    const QString ini = path("Kopierwart.ini");
    const QString longFolder = "/" + QString(300, QLatin1Char('d')) + "/";
    ASSERT_EQ(fs::replaceAtomically(ini, "; comment\r\n[Color]\r\nColor=1\r\n\r\n[Other]\r\n"), 0);
    WriteIniValue(ini, "color", "COLOR", "255");
    WriteIniValue(ini, "Color", "Sound", longFolder);
    EXPECT_EQ(bytesOf(ini), "; comment\r\n[Color]\r\nColor=255\r\nSound=" + longFolder.toUtf8() +
                                "\r\n\r\n[Other]\r\n");
    EXPECT_EQ(ReadIniValue(ini, "COLOR", "sound"), longFolder);
}

// A failed rewrite (here: a full disk) must leave the old file as it was.
TEST_F(FilesTest, FailedRewriteKeepsTheOldFile) {
    QString why;
    const auto disk = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Tmpfs,
                                                    path("small"), 64 << 10, &why);
    if (!disk)
        KW_CANNOT_RUN(why.toStdString());
    const QString settings = path("small/k.ini");
    WriteIniValue(settings, "Source", "Source", "/in/");
    fs::append(path("small/filler"), QByteArray(60 << 10, 'x'));  // fills it as far as it goes

    EXPECT_FALSE(WriteIniValue(settings, "Big", "Big", QString(8192, QLatin1Char('v'))));
    EXPECT_EQ(ReadIniValue(settings, "Source", "Source"), "/in/");
    EXPECT_EQ(fs::namesStartingWith(path("small"), "k.").size(), 1) << "no temporary file left";
}
