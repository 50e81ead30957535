#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/textcodec.h"
#include "tests/support/qtapp.h"
#include "ui/widgetdesktop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

using namespace kw;

namespace {

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureApplication(); }
    void TearDown() override {
        qputenv("PATH", m_path);
        // QTemporaryDir cannot remove names that Qt cannot spell.
        QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()});
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    void write(const QString& path, const QByteArray& bytes, mode_t mode = 0600) {
        ASSERT_EQ(fs::replaceAtomically(path, bytes), 0) << path.toStdString();
        ASSERT_EQ(::chmod(encodeLocal(path).constData(), mode), 0);
    }
    // A program named name in a folder of its own, first on PATH, that writes its first argument
    // to the file name + ".arg" (whole, through a rename).
    QString fakeProgram(const QString& name) {
        const QString bin = path("bin");
        fs::makePath(bin);
        write(bin + "/" + name,
              "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\"\n/bin/mv \"$0.tmp\" \"$0.arg\"\n", 0700);
        qputenv("PATH", encodeLocal(bin) + ":" + m_path);
        return bin + "/" + name + ".arg";
    }

    QTemporaryDir dir;
    const QByteArray m_path = qgetenv("PATH");
};

TEST_F(DesktopTest, OnlyWellFormedPcmWaveFilesArePlayableAndAPipeNeverBlocks) {
    const QString pcm = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Copy.wav";
    write(path("text.wav"), "Das ist kein Klang.\r\n");
    // Opening a pipe for reading would block until a writer comes.
    ASSERT_EQ(::mkfifo(encodeLocal(path("pipe.wav")).constData(), 0600), 0);
    EXPECT_TRUE(CanPlaySoundFile(pcm)) << "build the Kopierwart target first";
    for (const char* name : {"text.wav", "missing.wav", "pipe.wav"})
        EXPECT_FALSE(CanPlaySoundFile(path(name))) << name;
    // This machine has no audio output: the player still takes a good file.
    EXPECT_TRUE(PlaySoundFile(1, pcm));
}

TEST_F(DesktopTest, ASystemSoundInAFolderNamedInOtherBytesReachesThePlayerUnchanged) {
    // A data folder whose name is not UTF-8, holding the theme's information sound.
    const QByteArray data = encodeLocal(dir.path()) + "/Kl\xe4nge";
    const QString sound = decodeLocal(data + "/sounds/freedesktop/stereo/dialog-information.oga");
    ASSERT_EQ(fs::makePath(decodeLocal(data + "/sounds/freedesktop/stereo")), 0);
    write(sound, "OggS");
    const QString played = fakeProgram("paplay");
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data);
    const bool started = PlaySystemSound(12);  // SystemAsterisk
    dataHome.isEmpty() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", dataHome);
    ASSERT_TRUE(started);
    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(played); }, 20000));
    EXPECT_EQ(*fs::readAll(played), encodeLocal(sound));
}

// Records what the desktop's default handler would have opened.
class ShellTest : public QObject, public DesktopTest {
    Q_OBJECT
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    void TearDown() override {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
        DesktopTest::TearDown();
    }
    Q_INVOKABLE void open(const QUrl& url) { urls.append(url); }
    // The bytes a file URL stands for.
    QByteArray urlBytes(int index) const {
        return QByteArray::fromPercentEncoding(urls.value(index).toEncoded().mid(7));
    }

    QList<QUrl> urls;
};

TEST_F(ShellTest, FilesAndAddressesOpenWithTheDefaultHandlerAndAScriptIsNeverRun) {
    const QString script = path("kein-programm.sh");  // without execute right: opened, not run
    write(script, "#!/bin/sh\ntouch \"$0.ran\"\n");
    ShellOpen(script, "");
    ShellOpen("mailto:kopierwart@example.org?subject=Hallo Welt", "");
    ShellOpen("https://www.example.org/kopierwart", "");
    ShellOpen("", "");
    OpenFolder("");

    ASSERT_EQ(urls.size(), 3);
    EXPECT_EQ(urls[0].toLocalFile(), script);
    EXPECT_EQ(urls[1].path(), "kopierwart@example.org");
    EXPECT_EQ(urls[2], QUrl("https://www.example.org/kopierwart"));
    EXPECT_FALSE(fs::facts(script + ".ran"));
}

TEST_F(ShellTest, NamesThatAreNotUtf8ReachTheDefaultHandlerAndTheOpenerWithTheirBytes) {
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Urlaub \xE9t\xE9";
    const QByteArray fileBytes = folderBytes + "/Bild \xFF.txt";
    ASSERT_EQ(fs::makePath(decodeLocal(folderBytes)), 0);
    write(decodeLocal(fileBytes), "x");

    ShellOpen(decodeLocal(fileBytes), "");
    OpenFolder(decodeLocal(folderBytes));
    OpenTextFileInViewer(decodeLocal(fileBytes));
    // OpenDocument hands the path to the desktop's opener, or to the handler when there is none.
    const QString opened = fakeProgram("xdg-open");
    OpenDocument(decodeLocal(fileBytes));
    EXPECT_TRUE(test::waitUntil([&] { return fs::isReadableFile(opened); }));
    EXPECT_EQ(fs::readAll(opened).value_or(QByteArray()), fileBytes);
    qputenv("PATH", encodeLocal(path("empty")));
    OpenDocument(decodeLocal(fileBytes));

    ASSERT_EQ(urls.size(), 4);
    for (int i : {0, 2, 3})
        EXPECT_EQ(urlBytes(i), fileBytes) << i;
    EXPECT_EQ(urlBytes(1), folderBytes);
}

TEST_F(ShellTest, ProgramRunsInItsFolderWithItsBytesAndParametersAsSeparateArguments) {
    const QString folder = path(decodeLocal("Mein Ordner\xff; echo"));
    ASSERT_EQ(fs::makePath(folder), 0);
    const QString program = folder + "/zeige argumente";
    const QString marker = folder + "/argumente.txt";
    // Writes its folder and arguments one a line, then renames, so the marker appears whole.
    write(program,
          "#!/bin/sh\n"
          "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.tmp\"\n"
          "mv \"$0.tmp\" \"$(dirname \"$0\")/argumente.txt\"\n",
          0700);

    ShellOpen(program, R"("zwei Wörter" a;touch\ b $HOME `id` "x|y>z")");

    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(marker); }, 20000));
    EXPECT_TRUE(urls.isEmpty());
    EXPECT_EQ(decodeLocal(*fs::readAll(marker)).split('\n'),
              QStringList({folder, "zwei Wörter", "a;touch\\", "b", "$HOME", "`id`", "x|y>z", ""}));
}

TEST_F(DesktopTest, MessageBoxShowsPlainTextAndAnswersTheButtonPressed) {
    const int question = MB_YESNOCANCEL | MB_ICONQUESTION;
    const struct {
        int style;
        QMessageBox::StandardButton press;  // NoButton: the Escape key
        int answer;
    } cases[] = {
        {question, QMessageBox::Yes, IDYES},       {question, QMessageBox::No, IDNO},
        {question, QMessageBox::Cancel, IDCANCEL}, {question, QMessageBox::NoButton, IDCANCEL},
        {MB_ICONERROR, QMessageBox::Ok, IDOK},
    };
    WidgetDesktop desktop;
    const QString text = "Datei <b>a&amp;b</b> fehlt";
    for (const auto& c : cases) {
        QString shown;
        test::onNextModal<QMessageBox>([&](QMessageBox* box) {
            shown = box->textFormat() == Qt::PlainText ? box->text() : QString();
            if (c.press == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(c.press)->click();
        });
        EXPECT_EQ(desktop.ShowMessage("Frage", text, c.style), c.answer);
        EXPECT_EQ(shown, text);
    }
}

}  // namespace

#include "test_desktop.moc"
