// The windows, editors, messages and tray of the program on the offscreen platform, and what
// they hand to the desktop: names as bytes, sounds, autostart entries, notifications.

#include "core/autostart.h"
#include "core/editedlist.h"
#include "platform/dialogs.h"
#include "platform/none/nowindowsearch.h"
#include "platform/qtboundary.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "scan/register.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "ui/autostartbox.h"
#include "ui/frmlist.h"
#include "ui/frmp2pnew.h"
#include "ui/frmprefix.h"
#include "ui/frmtask.h"
#include "ui/language.h"
#include "ui/problemnotifier.h"
#include "ui/progbar.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

using namespace kw::apptest;
using namespace kw;

// "Löschen" asks first, naming the file as plain text, and deletes only on "Ja" and only a file
// still standing under the name; the line goes once the name is free.
TEST(DeleteAnswer, KeepsTheLineWhileSomethingStillStandsUnderTheNameAndDropsItWhenTheNameIsFree) {
    const QString html = "<b>movie<i> &amp;.avi";
    FoldersRig rig({html, "kept.bin", "gone.bin"});
    Program& program = rig.start(true);
    program.window().showNormal();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_TRUE(waitUntil([&] { return list->count() == 3; }));
    const QString moved = rig.destination + html;
    const QString gone = rig.destination + "gone.bin", kept = rig.destination + "kept.bin";
    // Since the copy, a folder took one name and the other file was deleted elsewhere.
    ASSERT_EQ(fs::removeFile(kept), 0);
    ASSERT_EQ(fs::makePath(kept), 0);
    ASSERT_EQ(fs::removeFile(gone), 0);
    QString question;
    const auto deleteLine = [&](const QString& path, QMessageBox::StandardButton press) {
        list->setCurrentItem(list->findItems(path, Qt::MatchExactly).value(0));
        test::onNextModal<QMessageBox>([&question, press](QMessageBox* box) {
            question = box->textFormat() == Qt::PlainText ? box->text() : QString();
            box->button(press)->click();
        });
        program.window().mnuDelete_Click();
    };

    deleteLine(moved, QMessageBox::No);
    EXPECT_TRUE(question.contains("\r\n" + moved + "\r\n"));
    EXPECT_TRUE(fs::facts(moved));
    deleteLine(moved, QMessageBox::Yes);
    EXPECT_FALSE(fs::facts(moved));
    deleteLine(kept, QMessageBox::Yes);
    EXPECT_TRUE(fs::isDirectory(kept));
    EXPECT_TRUE(logLines(rig.log()).last().startsWith("Error deleting '" + kept + "': "));
    deleteLine(gone, QMessageBox::Yes);
    EXPECT_EQ(program.engine().LBfiles(), QStringList{kept});
    EXPECT_EQ(list->count(), 1);
}

template <typename T>
T* topLevel() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(window))
            return found;
    return nullptr;
}

// Every text the program shows, per window and property, started in the given language.
QMap<QString, QString> shownTexts(FoldersRig& rig, const QStringList& uiLanguages) {
    QMap<QString, QString> texts;
    const std::optional<Language> language =
        uiLanguages.isEmpty() ? std::nullopt : std::make_optional<Language>(uiLanguages);
    rig.program.reset();
    Program& program = rig.start();
    FrmMain& window = program.window();
    window.ButPrefix_Click();
    window.ButTasklist_Click();
    window.ButList_Click();
    const auto search = CreateNoWindowSearch(QStringLiteral("none"), {});
    FrmP2Pnew p2p(program.data(), program.log(), rig.desktop, *search);
    ProgBar progress;
    progress.SetOption(0, 10, CopyCaption(), true);
    const std::pair<const char*, QObject*> windows[] = {{"main", &window},
                                                        {"tray", &program.tray().icon()},
                                                        {"prefix", topLevel<FrmPrefix>()},
                                                        {"task", topLevel<FrmTask>()},
                                                        {"list", topLevel<FrmList>()},
                                                        {"p2p", &p2p},
                                                        {"progress", &progress}};
    for (const auto& [name, root] : windows) {
        QObjectList all = root->findChildren<QObject*>();
        all.prepend(root);
        for (qsizetype i = 0; i < all.size(); ++i)
            for (const char* property :
                 {"windowTitle", "title", "text", "toolTip", "accessibleName", "placeholderText"})
                if (const QString text = all[i]->property(property).toString(); !text.isEmpty())
                    texts[QStringLiteral("%1 %2 %3.%4")
                              .arg(name, QString::number(i), all[i]->objectName(), property)] =
                        text;
    }
    rig.desktop.messages.clear();
    window.ButAbout_Click();
    window.findChild<QPushButton*>("ButDeleteLog")->click();
    for (const ShownMessage& message : rig.desktop.messages)
        texts["message " + message.caption] = message.text;
    for (int kind = 0; kind <= int(ProblemKind::SettingsUnreadable); ++kind) {
        const Problems one{{ProblemKind(kind), "a.bin"}}, two{one[0], {ProblemKind(kind), "b.bin"}};
        texts[QStringLiteral("notification %1").arg(kind)] =
            ProblemTitle(ProblemKind(kind)) + ProblemEndTitle(ProblemKind(kind)) +
            ProblemStartText(ProblemKind(kind), one) + ProblemStartText(ProblemKind(kind), two) +
            ProblemEndText(ProblemKind(kind), one) + ProblemEndText(ProblemKind(kind), two);
    }
    return texts;
}

// German and C desktops see the texts as written; every other one no German word (of the
// translation's sources and not its translations), no umlaut, and no untranslated text.
TEST(Language, GermanAndCDesktopsSeeTheGermanTextsAndEveryOtherOneSeesEnglish) {
    QFile ts(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../i18n/kopierwart_en.ts"));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QSet<QString> germanWords, englishWords;
    const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
    const auto wordsOf = [&word](const QString& text) {
        QSet<QString> words;
        for (const auto& match : word.globalMatch(text))
            words.insert(match.captured());
        return words;
    };
    const QRegularExpression element(QStringLiteral("<(source|translation)[^>]*>([^<]*)<"));
    for (const auto& match : element.globalMatch(QString::fromUtf8(ts.readAll())))
        (match.captured(1) == u"source" ? germanWords : englishWords) += wordsOf(match.captured(2));
    germanWords -= englishWords;
    ASSERT_GT(germanWords.size(), 100);

    FoldersRig rig({"a.bin"});  // one folder for every language, so paths are alike
    const auto written = shownTexts(rig, {});
    for (const QStringList& german :
         {QStringList{"de-DE"}, QStringList{"C"}, QStringList{"fr-FR", "de"}})
        EXPECT_EQ(shownTexts(rig, german), written) << german.join(',').toStdString();
    for (const QStringList& english :
         {QStringList{"en-US"}, QStringList{"fr-FR"}, QStringList{"en-GB", "de-DE"}}) {
        const auto texts = shownTexts(rig, english);
        ASSERT_EQ(texts.keys(), written.keys());
        for (auto text = texts.begin(); text != texts.end(); ++text) {
            QSet<QString> wrong = wordsOf(*text) & germanWords;
            if (*text == written[text.key()] && !text->contains(QRegularExpression("[/@]")))
                wrong += wordsOf(*text) - englishWords;
            EXPECT_TRUE(wrong.isEmpty() && !text->contains(QRegularExpression("[äöüÄÖÜß]|\\d,\\d")))
                << english.join(',').toStdString() << " " << text.key().toStdString() << ": "
                << text->toStdString();
        }
    }
}

// Only lower-case letters are taken; the entry written by hand in upper case counts as the same
// extension. A shutdown with the editor and the add-program dialog open saves the list.
TEST(BlockedExtensionEditor, OkSavesAlphabeticallyWithoutDuplicatesCancelDiscardsShutdownSaves) {
    ProgramRig rig;
    const QString cfg = rig.dataFolder + "Kopierwart.cfg";
    fs::replaceAtomically(cfg, "AVI\r\n");
    Program& program = rig.start();
    const auto edit = [&rig](const QStringList& typed, const char* button) {
        rig.control<QPushButton>("ButPrefix")->click();
        auto* editor = topLevel<FrmPrefix>();
        for (const QString& text : typed) {
            QTest::keyClicks(editor->findChild<QLineEdit*>("TextInput"), text);
            editor->ButAdd_Click();
        }
        if (button)
            editor->findChild<QPushButton*>(button)->click();
    };
    edit({"avi", "Z.ip", "iso"}, "ButOK");
    EXPECT_EQ(bytesOf(cfg), "AVI\r\nip\r\niso\r\n");
    EXPECT_EQ(program.data().BlockedExtensions, QStringList({"AVI", "ip", "iso"}));
    edit({"exe"}, "ButCancel");
    edit({"part"}, nullptr);
    rig.control<QPushButton>("ButP2P")->click();
    program.Close(vbFormCode);
    const QStringList log = logLines(rig.log());
    EXPECT_EQ(log.value(log.indexOf("Unloading frmPrefix") + 1), "Writing Prefixes...");
    EXPECT_EQ(bytesOf(cfg), "AVI\r\nip\r\niso\r\npart\r\n");
    EXPECT_TRUE(waitUntil([&] { return program.window().findChild<FrmP2Pnew*>() == nullptr; }));
}

// An executable program is opened as a document, never run; a name gone from the destination is
// reported.
TEST(CopiedFilesWindow, ListsNewestFirstAndOpensTheFileOfThatNameInTheDestination) {
    ProgramRig rig;
    const QString destination = rig.folder("moved");
    rig.setting("Destination", destination);
    QByteArray text;
    for (const char* path : {"/in/gone.bin", "/in/a\nb", "/in/new.bin"})
        text += encodeLocal(CopyKey(path, 5, QDateTime(QDate(2026, 3, 1), QTime(12, 0)))) + "\r\n";
    rig.start();
    fs::replaceAtomically(rig.dataFolder + "Kopierwart.Copy", text);
    writeProgram(destination + "new.bin");
    rig.control<QPushButton>("ButList")->click();
    FrmList& window = *topLevel<FrmList>();
    EXPECT_EQ(itemTexts(window.LB()), QStringList({"/in/new.bin", "/in/a\nb", "/in/gone.bin"}));
    for (const int row : {0, 2}) {
        window.LB()->setCurrentRow(row);
        window.LB_DblClick();
    }
    EXPECT_EQ(rig.desktop.openedDocuments, QStringList({destination + "new.bin"}));
    EXPECT_TRUE(rig.desktop.opened.isEmpty());
    EXPECT_TRUE(rig.desktop.messages.at(0).text.contains(destination + "gone.bin"));
}

// The old list must survive a save that cannot be written, here on a full disk.
TEST(StoringAnEditedList, FailedWriteKeepsTheOldFileAndLogsWhileMemoryTakesTheNewList) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/k.cfg";
    QString why;
    const auto full = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Tmpfs,
                                                    dir.path(), 64 << 10, &why);
    if (!full)
        KW_CANNOT_RUN(why.toStdString());
    fs::replaceAtomically(file, "avi\r\n");
    fs::append(dir.path() + "/filler", QByteArray(64 * 1024, 'x'));
    EventLog log;
    test::RecordingDebugWindow debug;
    log.setDebugWindow(&debug);
    TextArray list = QStringList{"avi"};
    const QStringList edited{"avi", QString(8192, QLatin1Char('x'))};
    StoreEditedList(log, "Writing Prefixes...", edited, list, file);
    EXPECT_EQ(bytesOf(file), "avi\r\n");
    EXPECT_EQ(list, edited);
    EXPECT_TRUE(debug.lines.value(1).contains("Error writing '" + file + "': "));
}

// Programs come only through the file dialog and go through the list's menu; "Übernehmen" stores
// the list (a path a CR LF line), "Abbrechen" discards it, a shutdown stores it.
TEST(TaskListEditor, OkStoresCancelDiscardsShutdownStores) {
    ProgramRig rig;
    const QString tasks = rig.dataFolder + "Kopierwart.task", programs = rig.folder("programs");
    const QString a = programs + "a-loader", b = programs + "b-sync", c = programs + "c-share";
    for (const QString& path : {a, b, c})
        writeProgram(path);
    fs::replaceAtomically(tasks, encodeLocal(a) + "\r\n");
    Program& program = rig.start();
    const struct {
        QStringList added;
        int removedRow;      // -1: none
        const char* button;  // none: the program shuts down with the editor open
        QStringList shown, stored;
    } rows[] = {{{c, b}, 0, "ButOK", {b, c}, {b, c}},
                {{a}, 2, "ButCancel", {a, b}, {b, c}},
                {{a}, -1, nullptr, {a, b, c}, {a, b, c}}};
    QStringList before{a};
    for (const auto& row : rows) {
        rig.control<QPushButton>("ButTasklist")->click();
        FrmTask* editor = topLevel<FrmTask>();
        ASSERT_TRUE(editor && editor->isVisible());
        EXPECT_EQ(itemTexts(editor->LBt()), before) << "not what was stored";
        for (const QString& path : row.added) {
            chooseInNextFileDialog(path);
            editor->ButBrowse_Click();
        }
        if (row.removedRow >= 0) {
            editor->LBt()->setCurrentRow(row.removedRow);
            editor->mnuRemove_Click();
        }
        EXPECT_EQ(itemTexts(editor->LBt()), row.shown);
        if (row.button)
            editor->findChild<QPushButton*>(row.button)->click();
        else
            program.Close(vbFormCode);
        QByteArray lines;
        for (const QString& path : row.stored)
            lines += encodeLocal(path) + "\r\n";
        EXPECT_EQ(bytesOf(tasks), lines);
        EXPECT_EQ(program.data().TaskList, row.stored);
        before = row.stored;
    }
    const QStringList log = logLines(rig.log());
    EXPECT_EQ(log.value(log.indexOf("Unloading frmTask") + 1), "Writting Tasklist...");
}

namespace {

// Names that are not UTF-8 (Latin-1, as a foreign disk writes them), and the file URLs the
// desktop's default handler would have opened, as bytes.
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
        QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()});  // QTemporaryDir cannot
    }
    Q_INVOKABLE void open(const QUrl& u) { urls << QByteArray::fromPercentEncoding(u.toEncoded()); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QByteArray root() const { return encodeLocal(dir.path()) + '/'; }
    QString make(const QByteArray& relative, bool folder) const {
        const QString made = decodeLocal(root() + relative);
        EXPECT_EQ(folder ? fs::makePath(made) : fs::replaceAtomically(made, "x"), 0);
        return made;
    }
    static QString qtSpelling(const QString& path) { return QFile::decodeName(encodeLocal(path)); }
    // A program writing its folder and arguments, a line each, to path + ".arg".
    static QString argumentsWriter(const QString& path) {
        test::writeProgram(path,
                           "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > "
                           "\"$0.tmp\"\n/bin/mv \"$0.tmp\" \"$0.arg\"\n");
        return path + ".arg";
    }

    QTemporaryDir dir;
    const QByteArray m_path = qgetenv("PATH");
    QList<QByteArray> urls;
};

// Qt's list leaves out names it cannot decode: the user types the name as Qt spells it. Names Qt
// spells alike, or missing ones, never answer another file.
TEST_F(DesktopTest, DialogsAnswerTheChosenFolderAndSoundWithTheirBytesAndNeverAnotherFile) {
    const QString folder = make("Eing\xE4nge", true), sound = make("Kl\xE4ng.wav", false);
    test::chooseInNextFileDialog(qtSpelling(folder));
    EXPECT_EQ(encodeLocal(BrowseForFolder(nullptr, "Ordner")), encodeLocal(folder));
    test::chooseInNextFileDialog(qtSpelling(sound));
    EXPECT_EQ(encodeLocal(BrowseForFile(nullptr, "*.wav")), encodeLocal(sound));
    make("Caf\xE9/Bl\xFCten", true);
    const QString file = make("Caf\xE9/Bl\xFCten/Gr\xFC\xDF.txt", false);
    EXPECT_EQ(encodeLocal(pathFromQt(qtSpelling(file))), encodeLocal(file));
    make("Caf\xE8", true);
    for (const char* missing : {"Caf\xE9", "Fehlt\xE9"})
        EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + missing))), QString()) << missing;
}

TEST_F(DesktopTest, OnlyWellFormedPcmWaveFilesArePlayableAndAPipeNeverBlocks) {
    const QString pcm = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Copy.wav";
    test::makeFile(path("text.wav"), "Das ist kein Klang.\r\n");
    // Opening a pipe for reading would block until a writer comes.
    ASSERT_EQ(::mkfifo(encodeLocal(path("pipe.wav")).constData(), 0600), 0);
    EXPECT_TRUE(CanPlaySoundFile(pcm));
    for (const char* name : {"text.wav", "missing.wav", "pipe.wav"})
        EXPECT_FALSE(CanPlaySoundFile(path(name))) << name;
    // This machine has no audio output: the player still takes a good file.
    EXPECT_TRUE(PlaySoundFile(1, pcm));
}

// A script without execute right is opened, never run; a program runs in its folder with its
// parameters as separate arguments, none of them seen by a shell.
TEST_F(DesktopTest, NamesAndArgumentsReachTheHandlerTheOpenerAndAProgramWithTheirBytes) {
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Urlaub \xE9t\xE9; echo";
    const QByteArray fileBytes = folderBytes + "/Bild \xFF.sh";
    const QString folder = decodeLocal(folderBytes);
    ASSERT_EQ(fs::makePath(folder), 0);
    test::makeFile(decodeLocal(fileBytes), "#!/bin/sh\ntouch \"$0.ran\"\n", 0600);
    qputenv("PATH", encodeLocal(dir.path()));  // no opener yet: OpenDocument takes the handler
    ShellOpen(decodeLocal(fileBytes), "");
    OpenFolder(folder);
    OpenTextFileInViewer(decodeLocal(fileBytes));
    OpenDocument(decodeLocal(fileBytes));
    const QByteArray url = "file://" + fileBytes;
    EXPECT_EQ(urls, QList<QByteArray>({url, "file://" + folderBytes, url, url}));

    const QString opened = argumentsWriter(path("xdg-open"));
    OpenDocument(decodeLocal(fileBytes));
    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(opened); }));
    EXPECT_EQ(fs::readAll(opened)->split('\n').value(1), fileBytes);
    EXPECT_FALSE(fs::facts(decodeLocal(fileBytes + ".ran")));

    const QString marker = argumentsWriter(folder + "/zeige argumente");
    ShellOpen(folder + "/zeige argumente", R"("zwei Wörter" a;touch\ b $HOME `id` "x|y>z")");
    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(marker); }, 20000));
    EXPECT_EQ(decodeLocal(*fs::readAll(marker)).split('\n'),
              QStringList({folder, "zwei Wörter", "a;touch\\", "b", "$HOME", "`id`", "x|y>z", ""}));
}

// The program the entry's Exec line runs: its one quoted argument, unescaped twice (as a string
// value, then as a quoted argument), with "%%" undone.
QString execProgram(const QByteArray& entry) {
    static const QRegularExpression exec(QStringLiteral("(?m)^Exec=\"(.*)\"$"));
    static const QRegularExpression escape(QStringLiteral("\\\\(.)"));
    QString program = exec.match(QString::fromUtf8(entry)).captured(1);
    return program.replace(escape, "\\1").replace(escape, "\\1").replace("%%", "%");
}

}  // namespace

// The entry runs the very program whatever its path holds, or is refused for a path no entry can
// hold; the box writes and removes it, and a failure is shown and undone.
TEST(Autostart, StartsTheVeryProgramAndTheBoxWritesRemovesOrShowsAndUndoesAFailure) {
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
        KW_CANNOT_RUN("needs desktop-file-validate (desktop-file-utils)");
    test::ensureApplication();
    QTemporaryDir dir;
    // The folder is missing at first, as in a new user's home.
    const QString program = "/opt/Mein \"Werk\"/$HOME `x` 100% \\ä/Kopierwart";
    Autostart autostart(autostartFolder("relative", dir.path()), program);
    ASSERT_EQ(autostart.enable(), 0);
    EXPECT_EQ(execProgram(fs::readAll(autostart.entryPath()).value_or("")), program);
    EXPECT_EQ(QProcess::execute("desktop-file-validate", {autostart.entryPath()}), 0);
    Autostart unnamable(dir.path() + "/", decodeLocal("/opt/Kopier\xFFwart/Kopierwart"));
    EXPECT_EQ(unnamable.enable(), EILSEQ);
    EXPECT_FALSE(fs::facts(unnamable.entryPath()));

    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EventLog log;
    test::RecordingDesktop desktop;
    QWidget window;
    const auto box = [&] { return makeAutostartBox(&window, {0, 0, 100, 18}, log, desktop); };
    box()->setChecked(true);
    QCheckBox* later = box();  // a new window shows what the folder holds
    EXPECT_TRUE(later->isChecked());
    later->setChecked(false);
    EXPECT_FALSE(fs::facts(dir.path() + "/autostart/kopierwart.desktop"));
    qputenv("XDG_CONFIG_HOME", "/dev/null");  // nothing can be written below a device file
    QCheckBox* failing = box();
    failing->setChecked(true);
    EXPECT_FALSE(failing->isChecked());
    EXPECT_EQ(desktop.messages.size(), 1u);
    qunsetenv("XDG_CONFIG_HOME");
}

#include "test_windows.moc"
