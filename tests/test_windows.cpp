// The windows, editors, messages and tray of the program on the offscreen platform, and what
// they hand to the desktop: names as bytes, sounds, autostart entries, notifications.

#include "app/passdesktop.h"
#include "core/autostart.h"
#include "core/editedlist.h"
#include "core/eventlog.h"
#include "platform/dialogs.h"
#include "platform/fs.h"
#include "platform/none/nowindowsearch.h"
#include "platform/notifications.h"
#include "platform/qtboundary.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/textcodec.h"
#include "scan/bincopy.h"
#include "scan/mover.h"
#include "scan/register.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"
#include "tests/support/scratchfs.h"
#include "ui/autostartbox.h"
#include "ui/frmlist.h"
#include "ui/frmp2pnew.h"
#include "ui/frmprefix.h"
#include "ui/frmtask.h"
#include "ui/language.h"
#include "ui/problemnotifier.h"
#include "ui/progbar.h"
#include "ui/tray.h"
#include "ui/widgetdesktop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QWidget>
#include <QXmlStreamReader>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

#include <sys/stat.h>

using namespace kw::apptest;
using namespace kw;

TEST(MainWindow, CopiesMadeAtStartAndByScanNowShowInCaptionAndListAndTheIntervalIsSet) {
    FoldersRig rig({"b.bin", "a.bin"});
    Program& program = rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_TRUE(waitUntil([&] { return list->count() == 2; }));
    EXPECT_EQ(list->item(0)->text(), rig.destination + "a.bin");
    writeBytes(rig.source + "c.bin", "third");
    rig.control<QPushButton>("butGoTimer")->click();
    ASSERT_TRUE(waitUntil([&] { return list->count() == 3; }));
    EXPECT_TRUE(rig.control<QGroupBox>("Frame")->title().startsWith("3 Gesicherte Dateien ("));
    EXPECT_EQ(bytesOf(rig.destination + "c.bin"), "third");

    rig.control<QScrollBar>("HScroll")->setValue(60);
    EXPECT_EQ(program.engine().Timer().interval(), 60000);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "60");
}

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

// A burst of copies reaches the list in batches, each in the place one insert after the other
// gives it: alphabetical without regard to case, the later of two equal-looking paths first.
TEST(MainWindow, ABurstOfCopiesEndsUpInTheListAsTheEngineHasIt) {
    ProgramRig rig;
    Program& program = rig.start();
    program.window().showNormal();
    auto* list = rig.control<QListWidget>("LBfiles");
    QStringList& engineList = program.engine().LBfiles();
    const auto caseLess = [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    };
    // As the engine adds a copy, then the window's events run.
    const auto copied = [&](const QString& path) {
        const auto at = std::lower_bound(engineList.begin(), engineList.end(), path, caseLess);
        const int row = int(at - engineList.begin());
        engineList.insert(row, path);
        Q_EMIT program.engine().copiedFileAdded(row, path);
        QCoreApplication::processEvents();
    };
    const int files = 5'000;
    for (int i = 0; i < files; ++i)
        copied(QStringLiteral("/ziel/Datei %1.bin").arg((i * 7919) % files));
    for (const char* name : {"/ziel/datei 7.BIN", "/ziel/DATEI 7.bin", "/ziel/0"})
        copied(QString::fromLatin1(name));
    ASSERT_TRUE(waitUntil([&] { return list->count() == engineList.size(); }, 120'000));
    EXPECT_EQ(itemTexts(list), engineList);
    EXPECT_EQ(list->item(0)->text(), "/ziel/0");
}

// Every text the program shows, per window, started in the given language: the main window with
// its menus, the tray's tooltip, the list windows, the P2P dialog, a progress window, two
// messages and every notification.
QMap<QString, QString> shownTexts(FoldersRig& rig, const QStringList& uiLanguages) {
    using Texts = QMap<QString, QString>;
    Texts texts;
    const auto walk = [&texts](const QString& window, QObject* root) {
        QObjectList all = root->findChildren<QObject*>();
        all.prepend(root);
        for (qsizetype i = 0; i < all.size(); ++i)
            for (const char* property :
                 {"windowTitle", "title", "text", "toolTip", "accessibleName", "placeholderText"})
                if (const QString text = all[i]->property(property).toString(); !text.isEmpty())
                    texts[QStringLiteral("%1 %2 %3.%4")
                              .arg(window, QString::number(i), all[i]->objectName(), property)] =
                        text;
    };
    const std::optional<Language> language =
        uiLanguages.isEmpty() ? std::nullopt : std::make_optional<Language>(uiLanguages);
    rig.program.reset();
    Program& program = rig.start();
    FrmMain& window = program.window();
    const auto search = CreateNoWindowSearch(QStringLiteral("none"), {});
    FrmP2Pnew* p2p = nullptr;
    const auto named = [](const char* name) {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String(name))
                return widget;
        return static_cast<QWidget*>(nullptr);
    };
    ProgBar progress;
    progress.SetOption(0, 10, CopyCaption(), true);
    const struct {
        const char* window;
        std::function<QObject*()> open;
    } windows[] = {
        {"main", [&] { return &window; }},
        {"tray", [&] { return &program.tray().icon(); }},
        {"prefix", [&] { return window.ButPrefix_Click(), named("frmPrefix"); }},
        {"task", [&] { return window.ButTasklist_Click(), named("frmTask"); }},
        {"list", [&] { return window.ButList_Click(), named("frmList"); }},
        {"p2p",
         [&] { return p2p = new FrmP2Pnew(program.data(), program.log(), rig.desktop, *search); }},
        {"progress", [&] { return &progress; }},
    };
    for (const auto& row : windows)
        walk(row.window, row.open());
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
    delete p2p;  // before the window search it uses
    return texts;
}

// German desktops and the C locale see the texts as written; every other one sees no German
// word: none that the translation's sources have and its translations lack, no umlaut, and no
// text the same in both languages that has a word outside the translations.
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
    for (QXmlStreamReader xml(&ts); xml.readNextStartElement() || !xml.atEnd();) {
        if (xml.isStartElement() && (xml.name() == u"source" || xml.name() == u"translation"))
            (xml.name() == u"source" ? germanWords : englishWords) +=
                wordsOf(xml.readElementText());
        else if (!xml.isStartElement())
            xml.readNext();
    }
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

namespace {

template <typename T>
T* topLevel() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<T*>(window))
            return found;
    return nullptr;
}

}  // namespace

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

// Programs are added only through the file dialog and removed from the list's menu; "Übernehmen"
// stores the list, one path per CR LF line, "Abbrechen" discards it, and a shutdown with the
// editor open stores it as "Übernehmen" would.
TEST(TaskListEditor, OkStoresCancelDiscardsShutdownStores) {
    ProgramRig rig;
    const QString tasks = rig.dataFolder + "Kopierwart.task";
    const QString programs = rig.folder("programs");
    const QString a = programs + "a-loader", b = programs + "b-sync", c = programs + "c-share";
    for (const QString& path : {a, b, c})
        writeProgram(path);
    fs::replaceAtomically(tasks, encodeLocal(a) + "\r\n");
    Program& program = rig.start();
    const auto open = [&rig] {
        rig.control<QPushButton>("ButTasklist")->click();
        FrmTask* editor = topLevel<FrmTask>();
        EXPECT_TRUE(editor && editor->isVisible());
        return editor;
    };
    const auto add = [](FrmTask* editor, const QString& path) {
        chooseInNextFileDialog(path);
        editor->ButBrowse_Click();
    };
    const auto stored = [&tasks](const QStringList& paths) {
        QByteArray lines;
        for (const QString& path : paths)
            lines += encodeLocal(path) + "\r\n";
        EXPECT_EQ(bytesOf(tasks).toStdString(), lines.toStdString());
    };

    FrmTask* editor = open();
    ASSERT_TRUE(editor);
    EXPECT_EQ(itemTexts(editor->LBt()), QStringList({a}));
    add(editor, c);
    add(editor, b);
    EXPECT_EQ(itemTexts(editor->LBt()), QStringList({a, b, c}));
    editor->LBt()->setCurrentRow(0);
    editor->mnuRemove_Click();
    editor->findChild<QPushButton*>("ButOK")->click();
    stored({b, c});
    EXPECT_EQ(program.data().TaskList, QStringList({b, c}));

    editor = open();
    ASSERT_TRUE(editor);
    add(editor, a);
    editor->LBt()->setCurrentRow(2);
    editor->mnuRemove_Click();
    EXPECT_EQ(itemTexts(editor->LBt()), QStringList({a, b}));
    editor->findChild<QPushButton*>("ButCancel")->click();
    stored({b, c});
    EXPECT_EQ(program.data().TaskList, QStringList({b, c}));

    editor = open();
    ASSERT_TRUE(editor);
    EXPECT_EQ(itemTexts(editor->LBt()), QStringList({b, c})) << "the cancelled edit came back";
    add(editor, a);
    program.Close(vbFormCode);
    const QStringList log = logLines(rig.log());
    EXPECT_EQ(log.value(log.indexOf("Unloading frmTask") + 1), "Writting Tasklist...")
        << log.join('\n').toStdString();
    stored({a, b, c});
}

// The range is scaled to 16 bits whatever the size; an empty file shows no percentage; the
// message, a pair of paths, is plain text.
TEST(ProgBar, ScalesTheRangeShowsThePercentageAndThePathsAsPlainText) {
    kw::test::ensureApplication();
    constexpr qint64 kGiB = qint64(1) << 30;
    const std::tuple<qint64, qint64, int, const char*> cases[] = {
        {0, 0, 0, "xxx%"},
        {327675, 327675, 3277, "100%"},  // divided by ten it would round to 32,768
        {3 * kGiB, 3 * kGiB / 2, 32212, "50%"},
    };
    for (const auto& [size, copied, scaledMaximum, percent] : cases) {
        kw::ProgBar bar;
        bar.SetOption(0, size, "Kopiere", true);
        EXPECT_EQ(bar.findChild<QScrollBar*>("HScroll")->maximum(), scaledMaximum);
        bar.SetValue(copied);
        EXPECT_EQ(bar.findChild<QLabel*>("Label1")->text(), percent);
    }
    kw::ProgBar bar;
    bar.SetMessage("/quelle/<b>fett</b>&amp;.txt");
    EXPECT_EQ(bar.findChild<QLabel*>("Message")->textFormat(), Qt::PlainText);
}

namespace {

// Counts the progress windows that appear and keeps what the last one showed.
struct ShownProgressWindows : QObject {
    ShownProgressWindows() { qApp->installEventFilter(this); }
    ~ShownProgressWindows() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched->objectName() != "ProgBar")
            return false;
        count += event->type() == QEvent::Show;
        const auto* frame = watched->findChild<QGroupBox*>("Frame1");
        const auto* label = watched->findChild<QLabel*>("Message");
        if (frame && label && event->type() == QEvent::Paint)
            shown = frame->title() + " | " + label->text();
        return false;
    }
    int count = 0;
    QString shown;
};

}  // namespace

// Copies made as the program makes them: in a thread of their own, the windows reached through
// the pass desktop, while this thread runs the windows' events. A slow copy (each chunk held a
// third of the delay, as a slow disk) shows one window with caption and paths, which goes with
// it; small files one after the other show none.
TEST(DelayedProgressWindow, OnlyALongCopyShowsItsWindowWithWhatItWasToldBefore) {
    kw::test::ensureApplication();
    const struct {
        int files;
        qint64 size;
        int pauseMs;
        int windows;
    } rows[] = {{1, 5 * kCopyChunk, kProgressWindowDelayMs / 3 + 5, 1}, {200, 10'000, 0, 0}};
    for (const auto& row : rows) {
        QTemporaryDir dir;
        QStringList sources;
        for (int i = 0; i < row.files; ++i)
            writeBytes(sources.emplace_back(dir.path() + QString("/gross%1.bin").arg(i)),
                       QByteArray(row.size, 'k'));
        ShownProgressWindows shown;
        WidgetDesktop windows;
        PassDesktop desktop{windows};
        std::atomic<bool> done = false;
        std::thread copies([&] {
            for (const QString& source : sources)
                EXPECT_TRUE(BinCopy(desktop, source, dir.path() + "/ziel", true, "Kopiere", nullptr, [&] {
                                QThread::msleep(row.pauseMs);
                                return true;
                            }).ok());
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        copies.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(shown.count, row.windows) << row.files;
        if (row.windows)
            EXPECT_EQ(shown.shown, "Kopiere | " + sources[0] + " -> " + dir.path() + "/ziel/gross0.bin");
        for (QWidget* window : QApplication::topLevelWidgets())
            EXPECT_NE(window->objectName(), "ProgBar") << "the window goes with its copy";
    }
}

namespace {

// Names that are not UTF-8: Latin-1 letters as an older system or a foreign disk writes them.
struct QtBoundary : ::testing::Test {
    void SetUp() override { test::ensureApplication(); }
    // QTemporaryDir cannot remove names that Qt cannot spell.
    void TearDown() override { QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()}); }

    // The path of bytes under the temporary folder, with its escapes.
    QString make(const QByteArray& relative, bool folder) const {
        const QString path = decodeLocal(root() + relative);
        EXPECT_EQ(folder ? fs::makePath(path) : fs::replaceAtomically(path, "x"), 0);
        return path;
    }
    QByteArray root() const { return encodeLocal(dir.path()) + '/'; }
    // How Qt itself spells a path of these bytes.
    static QString qtSpelling(const QString& path) { return QFile::decodeName(encodeLocal(path)); }

    QTemporaryDir dir;
};

TEST_F(QtBoundary, NamesThatLookAlikeToQtOrAreMissingNeverAnswerAnotherFile) {
    // Found again by its bytes at every level.
    make("Caf\xE9/Bl\xFCten", true);
    const QString file = make("Caf\xE9/Bl\xFCten/Gr\xFC\xDF.txt", false);
    EXPECT_EQ(encodeLocal(pathFromQt(qtSpelling(file))), encodeLocal(file));

    make("Caf\xE8", true);
    EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + "Caf\xE9"))), QString());
    EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + "Fehlt\xE9"))), QString());
}

TEST_F(QtBoundary, DialogsAnswerTheChosenFolderAndSoundWithTheirBytes) {
    const QString folder = make("Eing\xE4nge", true);
    const QString sound = make("Kl\xE4ng.wav", false);
    // Qt's list leaves out names it cannot decode; the user types the name as Qt spells it.
    test::chooseInNextFileDialog(qtSpelling(folder));
    EXPECT_EQ(encodeLocal(BrowseForFolder(nullptr, "Ordner")), encodeLocal(folder));
    test::chooseInNextFileDialog(qtSpelling(sound));
    EXPECT_EQ(encodeLocal(BrowseForFile(nullptr, "*.wav")), encodeLocal(sound));
}

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
    // A program at path that writes its folder and its arguments, one a line, to path + ".arg"
    // (whole, through a rename).
    static QString argumentsWriter(const QString& path) {
        test::writeProgram(path, "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > "
                                 "\"$0.tmp\"\n/bin/mv \"$0.tmp\" \"$0.arg\"\n");
        return path + ".arg";
    }

    QTemporaryDir dir;
    const QByteArray m_path = qgetenv("PATH");
    QList<QByteArray> urls;
};

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

// A script without execute right is opened, never run.
TEST_F(DesktopTest, NamesThatAreNotUtf8ReachTheDefaultHandlerAndTheOpenerWithTheirBytes) {
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Urlaub \xE9t\xE9";
    const QByteArray fileBytes = folderBytes + "/Bild \xFF.sh";
    ASSERT_EQ(fs::makePath(decodeLocal(folderBytes)), 0);
    test::makeFile(decodeLocal(fileBytes), "#!/bin/sh\ntouch \"$0.ran\"\n", 0600);
    qputenv("PATH", encodeLocal(dir.path()));  // no opener yet: OpenDocument takes the handler
    ShellOpen(decodeLocal(fileBytes), "");
    OpenFolder(decodeLocal(folderBytes));
    OpenTextFileInViewer(decodeLocal(fileBytes));
    OpenDocument(decodeLocal(fileBytes));
    const QByteArray url = "file://" + fileBytes;
    EXPECT_EQ(urls, QList<QByteArray>({url, "file://" + folderBytes, url, url}));

    const QString opened = argumentsWriter(path("xdg-open"));
    OpenDocument(decodeLocal(fileBytes));
    ASSERT_TRUE(test::waitUntil([&] { return fs::isReadableFile(opened); }));
    EXPECT_EQ(fs::readAll(opened)->split('\n').value(1), fileBytes);
    EXPECT_FALSE(fs::facts(decodeLocal(fileBytes + ".ran")));
}

TEST_F(DesktopTest, ProgramRunsInItsFolderWithItsBytesAndParametersAsSeparateArguments) {
    const QString folder = path(decodeLocal("Mein Ordner\xff; echo"));
    ASSERT_EQ(fs::makePath(folder), 0);
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

TEST(AutostartEntry, StartsTheVeryProgramWhateverItsPathHoldsOrRefusesAPathNoEntryCanHold) {
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
        KW_CANNOT_RUN("needs desktop-file-validate (desktop-file-utils)");
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
}

TEST(AutostartBox, TickingWritesTheEntryUntickingRemovesItAndAFailureIsShownAndUndone) {
    test::ensureApplication();
    QTemporaryDir dir;
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

    // A device file where the configuration folder should be: nothing can be written there.
    qputenv("XDG_CONFIG_HOME", "/dev/null");
    QCheckBox* failing = box();
    failing->setChecked(true);
    EXPECT_FALSE(failing->isChecked());
    EXPECT_EQ(desktop.messages.size(), 1u);
    qunsetenv("XDG_CONFIG_HOME");
}

// Problems as the user sees them: one notification when a kind of problem starts and one when it
// ends, and the tray's icon and tooltip while it lasts.

namespace {

// A notification service that keeps what it is sent.
struct RecordingNotifications : Notifications {
    void notify(const QString& summary, const QString& body,
                std::function<void(const QString&)> failed) override {
        if (!running)
            return;
        sent.append(summary + QLatin1String(" | ") + body);
        if (refuse)
            failed(QStringLiteral("refused"));
    }
    bool running = true;
    bool refuse = false;
    QStringList sent;
};

const Problem kGone{ProblemKind::DestinationGone, QStringLiteral("/media/stick/")};
const Problem kFullA{ProblemKind::NoSpace, QStringLiteral("/up/a.avi")};
const Problem kFullB{ProblemKind::NoSpace, QStringLiteral("/up/b.avi")};
const Problem kSettings{ProblemKind::SettingsUnreadable, QStringLiteral("/cfg/Kopierwart.ini")};

struct NotifierTest : ::testing::Test {
    void SetUp() override { test::ensureApplication(); }
    RecordingNotifications notifications;
    EventLog log;
    ProblemNotifier notifier{notifications, log};
};

}  // namespace

// Each row: a source's set of problems, the notifications it brings, the set of all sources.
TEST_F(NotifierTest, OneNotificationWhenAKindStartsAndOneWhenNoSourceHasItLeft) {
    const struct {
        const char* source;
        Problems problems;
        QStringList sent;
        Problems all;
    } rows[] = {
        {"scan", {}, {}, {}},
        {"scan", {kFullA}, {"Zielverzeichnis voll | Für '/up/a.avi' ist im Zielverzeichnis nicht "
                            "genug Platz. Sie bleibt im überwachten Verzeichnis, bis Platz frei wird."},
         {kFullA}},
        // More files of the same kind, the same files again: nothing new for the user.
        {"scan", {kFullA, kFullB}, {}, {kFullA, kFullB}},
        {"scan", {kFullB}, {}, {kFullB}},
        {"scan", {kGone, kFullB}, {"Zielverzeichnis nicht erreichbar | Das Zielverzeichnis "
                                   "'/media/stick/' ist nicht eingehängt. Die Dateien warten, bis "
                                   "es wieder da ist."}, {kGone, kFullB}},
        {"other", {kFullA}, {}, {kGone, kFullA, kFullB}},
        {"scan", {kGone}, {}, {kGone, kFullA}},  // another source still has no space
        {"other", {}, {"Zielverzeichnis hat wieder Platz | Keine Datei wartet mehr auf Platz im "
                       "Zielverzeichnis."}, {kGone}},
        {"start-up", {kSettings}, {"Einstellungen nicht lesbar | Die Datei '/cfg/Kopierwart.ini' "
                                   "kann nicht gelesen werden. Kopierwart arbeitet ohne diese Einstellungen."},
         {kGone, kSettings}},
        {"scan", {}, {"Zielverzeichnis wieder erreichbar | Das Zielverzeichnis '/media/stick/' ist "
                      "wieder da."}, {kSettings}},
        {"start-up", {}, {"Einstellungen wieder lesbar | Die Datei '/cfg/Kopierwart.ini' kann "
                          "wieder gelesen werden."}, {}},
    };
    const auto sorted = [](Problems problems) {
        std::sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) {
            return std::pair(a.kind, a.subject) < std::pair(b.kind, b.subject);
        });
        return problems;
    };
    int row = 0;
    for (const auto& [source, problems, sent, all] : rows) {
        notifications.sent.clear();
        notifier.setProblems(QString::fromLatin1(source), problems);
        EXPECT_EQ(notifications.sent, sent) << "row " << row;
        EXPECT_EQ(sorted(notifier.problems()), sorted(all)) << "row " << row++;
    }
    notifier.setProblems("scan", {kFullA, kFullB});
    EXPECT_TRUE(notifications.sent.last().contains("Für '/up/a.avi' und 1 weitere Datei ist im "
                                                   "Zielverzeichnis nicht genug Platz. Sie bleiben"))
        << notifications.sent.last().toStdString();
}

TEST_F(NotifierTest, WithoutAServiceNothingIsSentAndARefusalIsLogged) {
    notifications.running = false;
    notifier.setProblems("scan", {kGone});
    EXPECT_TRUE(notifications.sent.isEmpty());
    EXPECT_EQ(notifier.problems(), Problems{kGone});
    QTemporaryDir dir;
    log.setLogFile(dir.path() + "/log");
    notifications.running = true;
    notifications.refuse = true;
    notifier.setProblems("scan", {});
    log.flush();
    EXPECT_TRUE(bytesOf(dir.path() + "/log")
                    .contains("The notification 'Zielverzeichnis wieder erreichbar' was not shown: refused"));
}

TEST_F(NotifierTest, TrayTellsTheStateAndMarksItsIconWhileAProblemLasts) {
    QWidget window;
    Tray tray(window, QStringLiteral("Kopierwart"));
    QObject::connect(&notifier, &ProblemNotifier::problemsChanged, &tray, &Tray::setProblems);
    tray.setStatistics(QStringLiteral("2 Gesicherte Dateien (1,5 MB)"));
    EXPECT_EQ(tray.icon().toolTip(), "Kopierwart\n2 Gesicherte Dateien (1,5 MB)\nKein P2P-Programm läuft");
    tray.setP2PPrograms({QStringLiteral("eMule"), QStringLiteral("Shareaza")});
    notifier.setProblems("scan", {kGone, kFullA, kFullB});
    EXPECT_EQ(tray.icon().toolTip(),
              "Kopierwart\n2 Gesicherte Dateien (1,5 MB)\nP2P-Programme: eMule, Shareaza\n"
              "Zielverzeichnis nicht erreichbar: /media/stick/\nZielverzeichnis voll: /up/a.avi");
    // The mark is red, in the lower right corner.
    const QColor corner = tray.icon().icon().pixmap(32).toImage().pixelColor(27, 28);
    EXPECT_GT(corner.red(), 150);
    EXPECT_LT(corner.green(), 80);
    notifier.setProblems("scan", {});
    EXPECT_FALSE(tray.icon().toolTip().contains("Zielverzeichnis"));
    EXPECT_EQ(tray.icon().icon().pixmap(32).toImage(), programIcon().pixmap(32).toImage());
}

#include "test_windows.moc"
