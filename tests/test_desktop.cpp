#include "platform/dialogs.h"
#include "platform/fs.h"
#include "platform/placement.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "ui/progbar.h"
#include "ui/widgetdesktop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

#include <sys/stat.h>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_desktop";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void writeFile(const QString& path, const QByteArray& bytes) {
    ASSERT_EQ(kw::fs::replaceAtomically(path, bytes), 0) << path.toStdString();
}

QByteArray le16(quint16 v) {
    QByteArray bytes;
    bytes.append(char(v & 0xFF));
    bytes.append(char(v >> 8));
    return bytes;
}

QByteArray le32(quint32 v) {
    return le16(quint16(v & 0xFFFF)) + le16(quint16(v >> 16));
}

QByteArray chunk(const QByteArray& id, const QByteArray& body) {
    QByteArray padded = body;
    if (padded.size() % 2)
        padded.append('\0');
    return id + le32(quint32(body.size())) + padded;
}

// A mono 8 kHz wave file; extra chunks go in front of "fmt ".
QByteArray waveFile(quint16 format = 1, quint16 bits = 16, const QByteArray& extra = {}) {
    const quint16 blockAlign = bits / 8;
    const QByteArray fmt = le16(format) + le16(1) + le32(8000) + le32(8000 * blockAlign) +
                           le16(blockAlign) + le16(bits);
    const QByteArray body =
        "WAVE" + extra + chunk("fmt ", fmt) + chunk("data", QByteArray(1600, '\x10'));
    return "RIFF" + le32(quint32(body.size())) + body;
}

// Sets an environment variable for one scope and puts the old state back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_old;
};

class TempDirTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

// ---------------------------------------------------------------- sound

using SoundTest = TempDirTest;

TEST_F(SoundTest, PcmAndFloatWaveFilesArePlayable) {
    writeFile(path("pcm.wav"), waveFile());
    writeFile(path("pcm24.wav"), waveFile(1, 24));
    writeFile(path("float.wav"), waveFile(3, 32));
    // A LIST chunk of odd length before "fmt ": the pad byte must be skipped.
    writeFile(path("list.wav"), waveFile(1, 16, chunk("LIST", "INFOabc")));
    EXPECT_TRUE(kw::CanPlaySoundFile(path("pcm.wav")));
    EXPECT_TRUE(kw::CanPlaySoundFile(path("pcm24.wav")));
    EXPECT_TRUE(kw::CanPlaySoundFile(path("float.wav")));
    EXPECT_TRUE(kw::CanPlaySoundFile(path("list.wav")));
}

TEST_F(SoundTest, TextMissingTruncatedAndCompressedFilesAreNotPlayable) {
    writeFile(path("text.wav"), "Das ist kein Klang.\r\n");
    writeFile(path("short.wav"), waveFile().left(30));
    writeFile(path("mp3.wav"), waveFile(0x55, 16));
    EXPECT_FALSE(kw::CanPlaySoundFile(path("text.wav")));
    EXPECT_FALSE(kw::CanPlaySoundFile(path("short.wav")));
    EXPECT_FALSE(kw::CanPlaySoundFile(path("mp3.wav")));
    EXPECT_FALSE(kw::CanPlaySoundFile(path("missing.wav")));
    EXPECT_FALSE(kw::CanPlaySoundFile(QString()));
    EXPECT_FALSE(kw::CanPlaySoundFile(dir.path()));
}

TEST_F(SoundTest, PipeNamedLikeASoundIsRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo(path("pipe.wav").toLocal8Bit().constData(), 0600), 0);
    EXPECT_FALSE(kw::CanPlaySoundFile(path("pipe.wav")));
}

TEST_F(SoundTest, PlayerTakesKnownCommandsForAPlayableFileOnly) {
    writeFile(path("copy.wav"), waveFile());
    writeFile(path("wide.wav"), waveFile(1, 24));
    writeFile(path("text.wav"), "kein Klang");
    // This machine has no audio output: a good file is still accepted.
    EXPECT_TRUE(kw::PlaySoundFile(1, path("copy.wav")));
    EXPECT_TRUE(kw::PlaySoundFile(2, path("copy.wav")));
    EXPECT_TRUE(kw::PlaySoundFile(0, path("copy.wav")));
    EXPECT_TRUE(kw::PlaySoundFile(3, path("wide.wav")));
    EXPECT_FALSE(kw::PlaySoundFile(7, path("copy.wav")));
    EXPECT_FALSE(kw::PlaySoundFile(-1, path("copy.wav")));
    EXPECT_FALSE(kw::PlaySoundFile(1, path("missing.wav")));
    EXPECT_FALSE(kw::PlaySoundFile(1, path("text.wav")));
    EXPECT_FALSE(kw::PlaySoundFile(1, QString()));
}

TEST_F(SoundTest, SystemSoundsAreNamedByIndexAndRefusedOutsideTheTable) {
    EXPECT_EQ(kw::SystemSoundEventName(0), "SystemQuestion");
    EXPECT_EQ(kw::SystemSoundEventName(11), ".Default");
    EXPECT_EQ(kw::SystemSoundEventName(12), "SystemAsterisk");
    EXPECT_EQ(kw::SystemSoundEventName(16), "SystemStart");
    EXPECT_TRUE(kw::SystemSoundEventName(17).isEmpty());
    EXPECT_FALSE(kw::PlaySystemSound(17));
    EXPECT_FALSE(kw::PlaySystemSound(-1));
}

TEST_F(SoundTest, SystemSoundComesFromTheDesktopThemeWithFallbackNames) {
    const QString stereo = path("share/sounds/freedesktop/stereo");
    ASSERT_EQ(kw::fs::makePath(stereo), 0);
    writeFile(stereo + "/dialog-information.oga", "OggS");
    writeFile(stereo + "/suspend-error.oga", "OggS");
    const ScopedEnv dataHome("XDG_DATA_HOME", path("home"));
    const ScopedEnv dataDirs("XDG_DATA_DIRS", path("share"));

    EXPECT_EQ(kw::SystemSoundFile(12), stereo + "/dialog-information.oga");
    EXPECT_EQ(kw::SystemSoundFile(2), stereo + "/suspend-error.oga");  // no dialog-error here
    EXPECT_TRUE(kw::SystemSoundFile(3).isEmpty());
}

// ---------------------------------------------------------------- shell

class UrlRecorder : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }

public:
    QList<QUrl> urls;
};

class ShellTest : public TempDirTest {
protected:
    void SetUp() override {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    }
    void TearDown() override {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    UrlRecorder recorder;
};

TEST_F(ShellTest, FilesFoldersAndAddressesOpenWithTheDefaultHandler) {
    writeFile(path("Liste mit Leer.txt"), "x");
    kw::ShellOpen(path("Liste mit Leer.txt"), "");
    kw::ShellOpen(dir.path(), "");
    kw::OpenFolder(dir.path());
    kw::ShellOpen("mailto:kopierwart@example.org?subject=Hallo Welt", "");
    kw::ShellOpen("https://www.example.org/kopierwart", "");
    kw::ShellOpen("", "");
    kw::OpenFolder("");

    ASSERT_EQ(recorder.urls.size(), 5);
    EXPECT_EQ(recorder.urls[0].toLocalFile(), path("Liste mit Leer.txt"));
    EXPECT_EQ(recorder.urls[1].toLocalFile(), dir.path());
    EXPECT_EQ(recorder.urls[2].toLocalFile(), dir.path());
    EXPECT_EQ(recorder.urls[3].scheme(), "mailto");
    EXPECT_EQ(recorder.urls[3].path(), "kopierwart@example.org");
    EXPECT_EQ(recorder.urls[4], QUrl("https://www.example.org/kopierwart"));
}

TEST_F(ShellTest, LogWithBlanksInItsPathOpensAsOneFile) {
    ASSERT_EQ(kw::fs::makePath(path("Eigene Dateien")), 0);
    const QString log = path("Eigene Dateien/Kopierwart.Log");
    writeFile(log, "01.01.2024/12:00:00 -> Start\r\n");
    kw::OpenTextFileInViewer(log);
    ASSERT_EQ(recorder.urls.size(), 1);
    EXPECT_EQ(recorder.urls[0].toLocalFile(), log);
}

TEST_F(ShellTest, ScriptWithoutExecuteRightIsOpenedNotRun) {
    const QString script = path("kein-programm.sh");
    writeFile(script, "#!/bin/sh\ntouch \"$0.ran\"\n");
    kw::ShellOpen(script, "");
    ASSERT_EQ(recorder.urls.size(), 1);
    EXPECT_EQ(recorder.urls[0].toLocalFile(), script);
    EXPECT_FALSE(kw::IsProgramFile(script));
}

TEST_F(ShellTest, ProgramRunsInItsFolderWithParametersAsSeparateArguments) {
    const QString folder = path("Mein Ordner; echo");
    ASSERT_EQ(kw::fs::makePath(folder), 0);
    const QString program = folder + "/zeige argumente";
    const QString marker = folder + "/argumente.txt";
    // Writes its folder and arguments one a line, then renames, so the marker appears whole.
    writeFile(program,
              "#!/bin/sh\n"
              "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.tmp\"\n"
              "mv \"$0.tmp\" \"$(dirname \"$0\")/argumente.txt\"\n");
    ASSERT_EQ(::chmod(program.toLocal8Bit().constData(), 0700), 0);
    ASSERT_TRUE(kw::IsProgramFile(program));

    kw::ShellOpen(program, R"("zwei Wörter" a;touch\ b $HOME `id` "x|y>z")");

    ASSERT_TRUE(QTest::qWaitFor([&] { return kw::fs::isReadableFile(marker); }, 20000));
    EXPECT_TRUE(recorder.urls.isEmpty());
    const QStringList lines = QString::fromUtf8(*kw::fs::readAll(marker)).split('\n');
    const QStringList expected = {folder,  "zwei Wörter", "a;touch\\", "b",
                                  "$HOME", "`id`",        "x|y>z",     ""};
    EXPECT_EQ(lines, expected);
}

// ---------------------------------------------------------------- placement

TEST(Placement, CodeTwoCentresTheWindowOnItsScreen) {
    QWidget window;
    window.resize(200, 100);
    ASSERT_TRUE(kw::PlaceForm(&window, 2));
    const QRect screen = window.screen()->geometry();
    EXPECT_EQ(window.pos(),
              QPoint(screen.x() + screen.width() / 2 - 100, screen.y() + screen.height() / 2 - 50));
}

TEST(Placement, WindowWiderThanTheScreenGetsANegativeLeftEdge) {
    QWidget window;
    const QRect screen = window.screen()->geometry();
    window.resize(screen.width() + 200, 100);
    ASSERT_TRUE(kw::PlaceForm(&window, 2));
    EXPECT_EQ(window.x(), screen.x() - 100);
}

TEST(Placement, OtherCodesMoveNothing) {
    QWidget window;
    window.resize(200, 100);
    window.move(7, 9);
    for (int code : {0, 1, 3, -2})
        EXPECT_FALSE(kw::PlaceForm(&window, code));
    EXPECT_EQ(window.pos(), QPoint(7, 9));
    EXPECT_FALSE(kw::PlaceForm(nullptr, 2));
}

// ---------------------------------------------------------------- dialogs and message boxes

// Runs action on the next modal window once it is up, while the caller sits in its exec().
void onModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

// Types the path into the dialog, as a user may; a dialog that refuses it is cancelled, so a
// refusal shows as empty text rather than a test that never ends.
void chooseFile(const QString& file) {
    onModal([file](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(file);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides accept()
        if (dialog->isVisible())
            dialog->reject();
    });
}

using DialogTest = TempDirTest;

TEST_F(DialogTest, ProgramChooserAcceptsOnlyExecutableFiles) {
    writeFile(path("programm"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(path("programm").toLocal8Bit().constData(), 0700), 0);
    writeFile(path("notiz.txt"), "x");

    chooseFile(path("programm"));
    EXPECT_EQ(kw::BrowseForFile(nullptr, "*.Exe"), path("programm"));
    chooseFile(path("notiz.txt"));
    EXPECT_TRUE(kw::BrowseForFile(nullptr, "*.Exe").isEmpty());
}

TEST_F(DialogTest, WaveChooserAnswersTheChosenFileAndEmptyWhenCancelled) {
    writeFile(path("Klang.WAV"), waveFile());
    chooseFile(path("Klang.WAV"));
    EXPECT_EQ(kw::BrowseForFile(nullptr, "*.wav"), path("Klang.WAV"));

    onModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_TRUE(kw::BrowseForFile(nullptr, "*.wav").isEmpty());
}

TEST_F(DialogTest, FolderChooserOpensAtTheDesktopAndCancelGivesEmptyText) {
    const ScopedEnv home("HOME", dir.path());
    ASSERT_EQ(kw::fs::makePath(path("Desktop")), 0);
    QString startedIn;
    onModal([&startedIn](QWidget* modal) {
        startedIn = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
        qobject_cast<QDialog*>(modal)->reject();
    });
    EXPECT_TRUE(kw::BrowseForFolder(nullptr, "Zielordner").isEmpty());
    EXPECT_EQ(startedIn, path("Desktop"));
}

QAbstractButton* button(QWidget* modal, QMessageBox::StandardButton which) {
    return qobject_cast<QMessageBox*>(modal)->button(which);
}

TEST(WidgetDesktopTest, MessageBoxAnswersTheButtonPressed) {
    kw::WidgetDesktop desktop;
    const int question = kw::MB_YESNOCANCEL | kw::MB_ICONQUESTION;
    onModal([](QWidget* modal) { button(modal, QMessageBox::Yes)->click(); });
    EXPECT_EQ(desktop.ShowMessage("Frage", "Weiter?", question), kw::IDYES);
    onModal([](QWidget* modal) { button(modal, QMessageBox::No)->click(); });
    EXPECT_EQ(desktop.ShowMessage("Frage", "Weiter?", question), kw::IDNO);
    onModal([](QWidget* modal) { button(modal, QMessageBox::Cancel)->click(); });
    EXPECT_EQ(desktop.ShowMessage("Frage", "Weiter?", question), kw::IDCANCEL);
    onModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(desktop.ShowMessage("Frage", "Weiter?", question), kw::IDCANCEL);
    onModal([](QWidget* modal) { button(modal, QMessageBox::Ok)->click(); });
    EXPECT_EQ(desktop.ShowMessage("Fehler", "Kaputt", kw::MB_ICONERROR), kw::IDOK);
}

TEST(WidgetDesktopTest, MessageBoxShowsCaptionIconAndTextAsPlainText) {
    QWidget owner;
    owner.show();
    kw::WidgetDesktop desktop(&owner);
    const QString text = "Datei <b>a&amp;b</b> fehlt";
    QString title, shownText;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* parent = nullptr;
    onModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        title = box->windowTitle();
        shownText = box->text();
        format = box->textFormat();
        icon = box->icon();
        parent = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
    });
    desktop.ShowMessage("Fehler", text, kw::MB_ICONERROR);
    EXPECT_EQ(title, "Fehler");
    EXPECT_EQ(shownText, text);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(parent, &owner);
}

TEST(WidgetDesktopTest, ProgressWindowIsAHiddenProgBarUntilItsRangeIsSet) {
    kw::WidgetDesktop desktop;
    auto progress = desktop.CreateProgressWindow();
    auto* window = dynamic_cast<kw::ProgBar*>(progress.get());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    progress->SetOption(0, 10, "Kopiere", true);
    EXPECT_TRUE(window->isVisible());
}

}  // namespace

#include "test_desktop.moc"
