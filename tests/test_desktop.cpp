#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/textcodec.h"
#include "tests/support/qtapp.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/stat.h>

using namespace kw;

namespace {

// Records, decoded to bytes, the file URLs the desktop's default handler would have opened.
class DesktopTest : public QObject, public ::testing::Test {
    Q_OBJECT
protected:
    void SetUp() override {
        test::ensureApplication();
        QDesktopServices::setUrlHandler("file", this, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        qputenv("PATH", m_path);
        // QTemporaryDir cannot remove names that Qt cannot spell.
        QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()});
    }
    Q_INVOKABLE void open(const QUrl& u) { urls << QByteArray::fromPercentEncoding(u.toEncoded()); }
    QString path(const QString& name) const { return dir.filePath(name); }
    void write(const QString& path, const QByteArray& bytes, mode_t mode = 0600) {
        ASSERT_EQ(fs::replaceAtomically(path, bytes), 0);
        ASSERT_EQ(::chmod(encodeLocal(path).constData(), mode), 0);
    }
    // A program at path that writes its folder and its arguments, one a line, to path + ".arg"
    // (whole, through a rename).
    QString writeProgram(const QString& path) {
        write(path,
              "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.tmp\"\n"
              "/bin/mv \"$0.tmp\" \"$0.arg\"\n",
              0700);
        return path + ".arg";
    }

    QTemporaryDir dir;
    const QByteArray m_path = qgetenv("PATH");
    QList<QByteArray> urls;
};

TEST_F(DesktopTest, OnlyWellFormedPcmWaveFilesArePlayableAndAPipeNeverBlocks) {
    const QString pcm = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Copy.wav";
    write(path("text.wav"), "Das ist kein Klang.\r\n");
    // Opening a pipe for reading would block until a writer comes.
    ASSERT_EQ(::mkfifo(encodeLocal(path("pipe.wav")).constData(), 0600), 0);
    EXPECT_TRUE(CanPlaySoundFile(pcm));
    for (const char* name : {"text.wav", "missing.wav", "pipe.wav"})
        EXPECT_FALSE(CanPlaySoundFile(path(name))) << name;
    // This machine has no audio output: the player still takes a good file.
    EXPECT_TRUE(PlaySoundFile(1, pcm));
}

// A script without execute right is opened, never run.
TEST_F(DesktopTest, NamesThatAreNotUtf8ReachTheDefaultHandlerAndTheOpenerWithTheirBytes) {
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Urlaub \xE9t\xE9";
    const QByteArray fileBytes = folderBytes + "/Bild \xFF.sh";
    ASSERT_EQ(fs::makePath(decodeLocal(folderBytes)), 0);
    write(decodeLocal(fileBytes), "#!/bin/sh\ntouch \"$0.ran\"\n");
    qputenv("PATH", encodeLocal(dir.path()));  // no opener yet: OpenDocument takes the handler
    ShellOpen(decodeLocal(fileBytes), "");
    OpenFolder(decodeLocal(folderBytes));
    OpenTextFileInViewer(decodeLocal(fileBytes));
    OpenDocument(decodeLocal(fileBytes));
    const QByteArray url = "file://" + fileBytes;
    EXPECT_EQ(urls, QList<QByteArray>({url, "file://" + folderBytes, url, url}));

    const QString opened = writeProgram(path("xdg-open"));
    OpenDocument(decodeLocal(fileBytes));
    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(opened); }));
    EXPECT_EQ(fs::readAll(opened)->split('\n').value(1), fileBytes);
    EXPECT_FALSE(fs::facts(decodeLocal(fileBytes + ".ran")));
}

TEST_F(DesktopTest, ProgramRunsInItsFolderWithItsBytesAndParametersAsSeparateArguments) {
    const QString folder = path(decodeLocal("Mein Ordner\xff; echo"));
    ASSERT_EQ(fs::makePath(folder), 0);
    const QString marker = writeProgram(folder + "/zeige argumente");
    ShellOpen(folder + "/zeige argumente", R"("zwei Wörter" a;touch\ b $HOME `id` "x|y>z")");
    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(marker); }, 20000));
    EXPECT_EQ(decodeLocal(*fs::readAll(marker)).split('\n'),
              QStringList({folder, "zwei Wörter", "a;touch\\", "b", "$HOME", "`id`", "x|y>z", ""}));
}

}  // namespace

#include "test_desktop.moc"
