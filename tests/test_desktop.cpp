#include "platform/fs.h"
#include "platform/placement.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/textcodec.h"
#include "tests/support/qtapp.h"
#include "tests/support/wavebytes.h"
#include "ui/widgetdesktop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

#include <sys/stat.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    ASSERT_EQ(kw::fs::replaceAtomically(path, bytes), 0) << path.toStdString();
}

using kw::test::riffChunk;
using kw::test::waveFile;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { kw::test::ensureApplication(); }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

using SoundTest = DesktopTest;

TEST_F(SoundTest, PcmWaveFilesArePlayableWithoutAnAudioDevice) {
    writeFile(path("pcm.wav"), waveFile());
    // A LIST chunk of odd length before "fmt ": the pad byte must be skipped.
    writeFile(path("list.wav"), waveFile({.extra = riffChunk("LIST", "INFOabc")}));
    for (const char* name : {"pcm.wav", "list.wav"})
        EXPECT_TRUE(kw::CanPlaySoundFile(path(name))) << name;
    // This machine has no audio output: the player still takes a good file.
    EXPECT_TRUE(kw::PlaySoundFile(1, path("pcm.wav")));
}

TEST_F(SoundTest, TextTruncatedCompressedMissingAndPipeFilesAreNotPlayable) {
    writeFile(path("text.wav"), "Das ist kein Klang.\r\n");
    writeFile(path("short.wav"), waveFile().left(30));
    writeFile(path("mp3.wav"), waveFile({.format = 0x55}));
    // Opening a pipe for reading would block until a writer comes.
    ASSERT_EQ(::mkfifo(path("pipe.wav").toLocal8Bit().constData(), 0600), 0);
    for (const char* name : {"text.wav", "short.wav", "mp3.wav", "missing.wav", "pipe.wav"})
        EXPECT_FALSE(kw::CanPlaySoundFile(path(name))) << name;
}

// Sets an environment variable for the lifetime of this object.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~EnvironmentValue() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

TEST_F(SoundTest, ASystemSoundInAFolderNamedInOtherBytesReachesThePlayerUnchanged) {
    // A data folder whose name is not UTF-8, holding the theme's information sound.
    const QByteArray data = kw::encodeLocal(dir.path()) + "/Kl\xe4nge";
    const QString sound =
        kw::decodeLocal(data + "/sounds/freedesktop/stereo/dialog-information.oga");
    ASSERT_EQ(kw::fs::makePath(kw::decodeLocal(data + "/sounds/freedesktop/stereo")), 0);
    writeFile(sound, "OggS");
    // A player that writes down the file it was given.
    const QString bin = path("bin");
    ASSERT_EQ(kw::fs::makePath(bin), 0);
    const QString marker = path("played");
    writeFile(bin + "/paplay", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + marker.toUtf8() +
                                   ".tmp\"\nmv \"" + marker.toUtf8() + ".tmp\" \"" +
                                   marker.toUtf8() + "\"\n");
    ASSERT_EQ(::chmod(kw::encodeLocal(bin + "/paplay").constData(), 0700), 0);
    const EnvironmentValue dataHome("XDG_DATA_HOME", data);
    const EnvironmentValue programs("PATH", kw::encodeLocal(bin) + ":" + qgetenv("PATH"));

    ASSERT_TRUE(kw::PlaySystemSound(12));  // SystemAsterisk
    ASSERT_TRUE(kw::test::waitUntil([&] { return kw::fs::isReadableFile(marker); }, 20000));
    EXPECT_EQ(*kw::fs::readAll(marker), kw::encodeLocal(sound));
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
    }
    Q_INVOKABLE void open(const QUrl& url) { urls.append(url); }

    QList<QUrl> urls;
};

TEST_F(ShellTest, FilesFoldersAndAddressesOpenWithTheDefaultHandler) {
    const QString log = path("Eigene Dateien Kopierwart.Log");
    const QString script = path("kein-programm.sh");  // without execute right: opened, not run
    writeFile(log, "01.01.2024/12:00:00 -> Start\r\n");
    writeFile(script, "#!/bin/sh\ntouch \"$0.ran\"\n");
    kw::ShellOpen(log, "");
    kw::OpenTextFileInViewer(log);
    kw::ShellOpen(script, "");
    kw::ShellOpen(dir.path(), "");
    kw::OpenFolder(dir.path());
    kw::ShellOpen("mailto:kopierwart@example.org?subject=Hallo Welt", "");
    kw::ShellOpen("https://www.example.org/kopierwart", "");
    kw::ShellOpen("", "");
    kw::OpenFolder("");

    ASSERT_EQ(urls.size(), 7);
    const QStringList files = {log, log, script, dir.path(), dir.path()};
    for (int i = 0; i < files.size(); ++i)
        EXPECT_EQ(urls[i].toLocalFile(), files[i]);
    EXPECT_EQ(urls[5].scheme(), "mailto");
    EXPECT_EQ(urls[5].path(), "kopierwart@example.org");
    EXPECT_EQ(urls[6], QUrl("https://www.example.org/kopierwart"));
}

// The bytes a file URL stands for.
QByteArray urlBytes(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.toEncoded().mid(int(sizeof("file://") - 1)));
}

TEST_F(ShellTest, NamesThatAreNotUtf8ReachTheDefaultHandlerAndTheOpenerWithTheirBytes) {
    const QByteArray folderBytes = kw::encodeLocal(dir.path()) + "/Urlaub \xE9t\xE9";
    const QByteArray fileBytes = folderBytes + "/Bild \xFF.txt";
    ASSERT_EQ(kw::fs::makePath(kw::decodeLocal(folderBytes)), 0);
    writeFile(kw::decodeLocal(fileBytes), "x");

    kw::ShellOpen(kw::decodeLocal(fileBytes), "");
    kw::OpenFolder(kw::decodeLocal(folderBytes));
    kw::OpenTextFileInViewer(kw::decodeLocal(fileBytes));
    ASSERT_EQ(urls.size(), 3);
    EXPECT_EQ(urlBytes(urls[0]), fileBytes);
    EXPECT_EQ(urlBytes(urls[1]), folderBytes);
    EXPECT_EQ(urlBytes(urls[2]), fileBytes);

    // OpenDocument hands the path to the desktop's opener, or to the handler when there is none.
    const QByteArray oldPath = qgetenv("PATH");
    const QString bin = path("bin");
    ASSERT_EQ(kw::fs::makePath(bin), 0);
    writeFile(bin + "/xdg-open",
              "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.arg.tmp\"\n"
              "/bin/mv \"$0.arg.tmp\" \"$0.arg\"\n");
    ASSERT_EQ(::chmod(QFile::encodeName(bin + "/xdg-open").constData(), 0755), 0);
    qputenv("PATH", QFile::encodeName(bin));
    kw::OpenDocument(kw::decodeLocal(fileBytes));
    EXPECT_TRUE(
        kw::test::waitUntil([&] { return kw::fs::facts(bin + "/xdg-open.arg").has_value(); }));
    EXPECT_EQ(kw::fs::readAll(bin + "/xdg-open.arg").value_or(QByteArray()), fileBytes);
    qputenv("PATH", QFile::encodeName(path("empty")));
    kw::OpenDocument(kw::decodeLocal(fileBytes));
    qputenv("PATH", oldPath);
    ASSERT_EQ(urls.size(), 4);
    EXPECT_EQ(urlBytes(urls[3]), fileBytes);
    // QTemporaryDir cannot remove names that Qt cannot spell.
    QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()});
}

TEST_F(ShellTest, ProgramRunsInItsFolderWithItsBytesAndParametersAsSeparateArguments) {
    const QString folder = path(kw::decodeLocal("Mein Ordner\xff; echo"));
    ASSERT_EQ(kw::fs::makePath(folder), 0);
    const QString program = folder + "/zeige argumente";
    const QString marker = folder + "/argumente.txt";
    // Writes its folder and arguments one a line, then renames, so the marker appears whole.
    writeFile(program,
              "#!/bin/sh\n"
              "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.tmp\"\n"
              "mv \"$0.tmp\" \"$(dirname \"$0\")/argumente.txt\"\n");
    ASSERT_EQ(::chmod(kw::encodeLocal(program).constData(), 0700), 0);

    kw::ShellOpen(program, R"("zwei Wörter" a;touch\ b $HOME `id` "x|y>z")");

    ASSERT_TRUE(kw::test::waitUntil([&] { return kw::fs::isReadableFile(marker); }, 20000));
    EXPECT_TRUE(urls.isEmpty());
    const QStringList lines = kw::decodeLocal(*kw::fs::readAll(marker)).split('\n');
    const QStringList expected = {folder,  "zwei Wörter", "a;touch\\", "b",
                                  "$HOME", "`id`",        "x|y>z",     ""};
    EXPECT_EQ(lines, expected);
}

TEST_F(DesktopTest, PlaceFormCentresTheWindowOnItsScreen) {
    QWidget window;
    const QRect screen = window.screen()->geometry();
    window.resize(200, 100);
    window.move(7, 9);
    EXPECT_FALSE(kw::PlaceForm(nullptr));

    ASSERT_TRUE(kw::PlaceForm(&window));
    EXPECT_EQ(window.pos(),
              QPoint(screen.x() + screen.width() / 2 - 100, screen.y() + screen.height() / 2 - 50));
}

// Runs action on the message box once it is up, while the caller sits in its exec().
void onMessageBox(std::function<void(QMessageBox*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(box);
        }
    });
    timer->start();
}

TEST_F(DesktopTest, MessageBoxShowsPlainTextAndAnswersTheButtonPressed) {
    const int question = kw::MB_YESNOCANCEL | kw::MB_ICONQUESTION;
    const struct {
        int style;
        QMessageBox::StandardButton press;  // NoButton: the Escape key
        int answer;
    } cases[] = {
        {question, QMessageBox::Yes, kw::IDYES},
        {question, QMessageBox::No, kw::IDNO},
        {question, QMessageBox::Cancel, kw::IDCANCEL},
        {question, QMessageBox::NoButton, kw::IDCANCEL},
        {kw::MB_ICONERROR, QMessageBox::Ok, kw::IDOK},
    };
    kw::WidgetDesktop desktop;
    const QString text = "Datei <b>a&amp;b</b> fehlt";
    for (const auto& c : cases) {
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        onMessageBox([&](QMessageBox* box) {
            shown = box->text();
            format = box->textFormat();
            if (c.press == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(c.press)->click();
        });
        EXPECT_EQ(desktop.ShowMessage("Frage", text, c.style), c.answer);
        EXPECT_EQ(shown, text);
        EXPECT_EQ(format, Qt::PlainText);
    }
}

}  // namespace

#include "test_desktop.moc"
