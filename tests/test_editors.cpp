#include "core/editedlist.h"
#include "platform/dialogs.h"
#include "platform/textcodec.h"
#include "scan/register.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "ui/frmlist.h"
#include "ui/frmprefix.h"
#include "ui/frmtask.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>

using namespace kw;
using namespace kw::apptest;

namespace {

template <typename T>
T* topLevel(const char* name) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == QLatin1String(name))
            return qobject_cast<T*>(window);
    }
    return nullptr;
}

QStringList lines(QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

void selectRow(QListWidget* list, int row) {
    list->setCurrentRow(row);
    list->item(row)->setSelected(true);
}

// A program with the given list files; the watched and destination folders are set.
struct EditorRig : ProgramRig {
    EditorRig(const QByteArray& blocked = {}, const QByteArray& tasks = {}) {
        setting("Source", source);
        setting("Destination", destination);
        if (!blocked.isEmpty())
            fs::replaceAtomically(cfg(), blocked);
        if (!tasks.isEmpty())
            fs::replaceAtomically(taskFile(), tasks);
    }
    QString cfg() const { return dataFolder + "Kopierwart.cfg"; }
    QString taskFile() const { return dataFolder + "Kopierwart.task"; }

    FrmPrefix& openPrefix() {
        control<QPushButton>("ButPrefix")->click();
        return *topLevel<FrmPrefix>("frmPrefix");
    }
    FrmTask& openTask() {
        control<QPushButton>("ButTasklist")->click();
        return *topLevel<FrmTask>("frmTask");
    }
    void addExtension(FrmPrefix& editor, const QString& typed) {
        QTest::keyClicks(editor.findChild<QLineEdit*>("TextInput"), typed);
        editor.ButAdd_Click();
    }

    QString source = folder("watched");
    QString destination = folder("moved");
};

// Chooses path in the next file dialog as a user would, by typing it and pressing "Öffnen".
void chooseInNextFileDialog(const QString& path) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->deleteLater();
        poll->stop();
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
        // A refused name would leave the dialog waiting for a user: fail instead of hanging.
        if (dialog->isVisible())
            dialog->reject();
    });
    poll->start(20);
}

}  // namespace

TEST(BlockedExtensionInput, KeepsOnlyLowerCaseLettersTypedOrPastedAndEscapeEmptiesTheField) {
    EditorRig rig;
    rig.start();
    FrmPrefix& editor = rig.openPrefix();
    auto* input = editor.findChild<QLineEdit*>("TextInput");
    auto* add = editor.findChild<QPushButton*>("ButAdd");
    EXPECT_FALSE(add->isEnabled());

    QTest::keyClicks(input, "AVI 3.");
    EXPECT_EQ(input->text(), "");
    EXPECT_FALSE(add->isEnabled());
    QTest::keyClicks(input, "mp3");
    EXPECT_EQ(input->text(), "mp");
    EXPECT_TRUE(add->isEnabled());
    // Home loses its action: what is typed next still lands at the end.
    QTest::keyClick(input, Qt::Key_Home);
    QTest::keyClicks(input, "g");
    EXPECT_EQ(input->text(), "mpg");

    QTest::keyClick(input, Qt::Key_Escape);
    EXPECT_EQ(input->text(), "");
    EXPECT_FALSE(add->isEnabled());

    QGuiApplication::clipboard()->setText(".a V i");
    QTest::keyClick(input, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(input->text(), "ai");
    EXPECT_EQ(input->cursorPosition(), 2);
    EXPECT_EQ(input->toolTip(),
              "In diesem Eingabefeld sind nur Alphanumerische Eingaben zulässig. (F1 für Hilfe)");

    QTest::keyClick(input, Qt::Key_F1);
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_EQ(rig.desktop.messages[0].caption, "Eingabefeld Hilfe");
    EXPECT_EQ(rig.desktop.messages[0].text,
              "In diesem Eingabefeld sind nur Alphanumerische Eingaben zulässig.\r\n\r\n"
              "Folgende Zeichen sind erlaubt:\r\n\r\nabcdefghijklmnopqrstuvwxyz\r\n"
              "\r\nESC löscht das Eingabefeld.\r\n");
    EXPECT_EQ(rig.desktop.messages[0].style, MB_ICONINFORMATION);
}

TEST(BlockedExtensionEditor, HidesTheMainWindowAndSavesAlphabeticallyWithoutDuplicates) {
    EditorRig rig("AVI\r\n");
    Program& program = rig.start();
    FrmPrefix& editor = rig.openPrefix();
    EXPECT_TRUE(editor.isVisible());
    EXPECT_FALSE(program.window().isVisible());
    EXPECT_EQ(editor.windowTitle(), " Gesperrte Endungen");

    // The entry written by hand in upper case counts as the same extension.
    rig.addExtension(editor, "avi");
    EXPECT_EQ(editor.findChild<QLineEdit*>("TextInput")->text(), "");
    for (const char* typed : {"zip", "iso", "mkv"})
        rig.addExtension(editor, typed);
    EXPECT_EQ(lines(editor.LBt()), QStringList({"AVI", "iso", "mkv", "zip"}));
    editor.findChild<QPushButton*>("ButOK")->click();

    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_EQ(bytesOf(rig.cfg()), "AVI\r\niso\r\nmkv\r\nzip\r\n");
    EXPECT_EQ(program.data().BlockedExtensions, QStringList({"AVI", "iso", "mkv", "zip"}));
    EXPECT_EQ(logLines(rig.log()).last(), "Writing Prefixes...");
}

TEST(BlockedExtensionEditor, CancelDiscardsAndTheTitleBarCloseSaves) {
    EditorRig rig("rar\r\n");
    Program& program = rig.start();
    FrmPrefix& editor = rig.openPrefix();
    rig.addExtension(editor, "exe");
    editor.findChild<QPushButton*>("ButCancel")->click();
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_EQ(bytesOf(rig.cfg()), "rar\r\n");
    EXPECT_EQ(program.data().BlockedExtensions, QStringList({"rar"}));

    // Opened again, it shows the stored list, not the discarded edit, and a close saves.
    rig.openPrefix();
    EXPECT_EQ(lines(editor.LBt()), QStringList({"rar"}));
    EXPECT_FALSE(editor.Cancelled());
    rig.addExtension(editor, "iso");
    editor.close();
    EXPECT_EQ(bytesOf(rig.cfg()), "iso\r\nrar\r\n");
    EXPECT_TRUE(program.window().isVisible());
}

TEST(BlockedExtensionEditor, AnEmptiedListDeletesTheFileAndTheCycleBlocksNothingFromItsNextPass) {
    EditorRig rig("bin\r\n");
    fs::replaceAtomically(rig.source + "a.bin", "blocked until the list is emptied");
    Program& program = rig.start();
    ASSERT_TRUE(fs::facts(rig.source + "a.bin"));

    FrmPrefix& editor = rig.openPrefix();
    selectRow(editor.LBt(), 0);
    editor.findChild<QAction*>("mnuRemove")->trigger();
    EXPECT_EQ(editor.LBt()->count(), 0);
    editor.ButOK_Click();
    EXPECT_FALSE(fs::facts(rig.cfg()));
    EXPECT_FALSE(ArrayHasBounds(program.data().BlockedExtensions));

    rig.control<QPushButton>("butGoTimer")->click();
    ASSERT_TRUE(waitUntil([&] {
        return fs::facts(rig.destination + "a.bin").has_value() && !program.engine().ScanBusy();
    }));

    rig.program.reset();
    Program& next = rig.start();
    EXPECT_EQ(next.data().BlockedExtensions, QStringList());
}

TEST(BlockedExtensionEditor, ShutdownWithTheEditorOpenSavesItsList) {
    EditorRig rig;
    Program& program = rig.start();
    FrmPrefix& editor = rig.openPrefix();
    rig.addExtension(editor, "part");
    program.Close(vbFormCode);

    const QStringList log = logLines(rig.log());
    const qsizetype unloading = log.indexOf("Unloading frmPrefix");
    ASSERT_GE(unloading, 0);
    EXPECT_EQ(log.value(unloading + 1), "Writing Prefixes...");
    EXPECT_EQ(bytesOf(rig.cfg()), "part\r\n");
}

TEST(TaskEditor, AddsChosenProgramsOnceIgnoringCaseAndTheWatchdogStartsThemFromItsNextPass) {
    EditorRig rig;
    const QString folder = rig.folder("programs");
    const QString listed = folder + "WORKER";
    const QString program1 = folder + "worker";
    const QString program2 = folder + "Assistant";
    for (const QString& path : {listed, program1, program2}) {
        fs::replaceAtomically(path, "#!/bin/sh\nsleep 60\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    fs::replaceAtomically(rig.taskFile(), (listed + "\r\n").toUtf8());
    Program& program = rig.start();
    rig.desktop.opened.clear();

    FrmTask& editor = rig.openTask();
    EXPECT_FALSE(program.window().isVisible());
    for (const QString& path : {program1, program2}) {
        chooseInNextFileDialog(path);
        editor.ButBrowse_Click();
    }
    // "worker" differs from the listed program only in letter case: not added.
    EXPECT_EQ(lines(editor.LBt()), QStringList({program2, listed}));

    selectRow(editor.LBt(), 1);
    editor.mnuRemove_Click();
    editor.findChild<QPushButton*>("ButOK")->click();
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_EQ(bytesOf(rig.taskFile()), (program2 + "\r\n").toUtf8());
    EXPECT_EQ(logLines(rig.log()).last(), "Writting Tasklist...");

    program.engine().Timer_Timer();
    EXPECT_EQ(rig.desktop.opened, QStringList({program2}));

    // A plain file is no program: the dialog answers nothing and the list stays as it is.
    const QString text = folder + "notes.txt";
    fs::replaceAtomically(text, "not a program");
    rig.openTask();
    chooseInNextFileDialog(text);
    editor.ButBrowse_Click();
    EXPECT_EQ(lines(editor.LBt()), QStringList({program2}));

    // Emptied, the list leaves no file and the watchdog nothing to start.
    selectRow(editor.LBt(), 0);
    editor.mnuRemove_Click();
    editor.close();
    EXPECT_FALSE(fs::facts(rig.taskFile()));
    rig.desktop.opened.clear();
    program.engine().Timer_Timer();
    EXPECT_TRUE(rig.desktop.opened.isEmpty());
}

TEST(CopiedFilesWindow, ListsNewestFirstAndOpensTheFileOfThatNameInTheDestination) {
    EditorRig rig;
    const QDateTime created(QDate(2026, 3, 1), QTime(12, 0, 0));
    const QString odd = "/in/line\nbreak\\and back.txt";
    QByteArray text;
    for (const QString& path : {QString("/in/oldest.bin"), odd, QString("/in/newest.bin")})
        text += encodeLocal(CopyKey(path, 5, created)) + "\r\n";
    // Written before names were escaped: a backslash before another letter stays as it stands.
    text += "old\\back.bin\r\n";
    rig.start();
    fs::replaceAtomically(rig.dataFolder + "Kopierwart.Copy", text);
    fs::replaceAtomically(rig.destination + "newest.bin", "here");

    rig.control<QPushButton>("ButList")->click();
    auto* window = topLevel<FrmList>("frmList");
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Kopierte Dateien");
    EXPECT_TRUE(rig.program->window().isVisible());
    EXPECT_EQ(lines(window->LB()),
              QStringList({"old\\back.bin", "/in/newest.bin", odd, "/in/oldest.bin"}));

    selectRow(window->LB(), 1);
    window->LB_DblClick();
    EXPECT_EQ(rig.desktop.openedDocuments, QStringList({rig.destination + "newest.bin"}));
    EXPECT_EQ(logLines(rig.log()).last(), "Launching " + rig.destination + "newest.bin");
    EXPECT_TRUE(rig.desktop.opened.isEmpty());

    // A line without "/" is a name as a whole; a file gone from the destination is reported.
    selectRow(window->LB(), 0);
    window->LB_DblClick();
    EXPECT_EQ(rig.desktop.openedDocuments.size(), 1);
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_EQ(rig.desktop.messages[0].caption, "Fehler");
    EXPECT_TRUE(rig.desktop.messages[0].text.contains(rig.destination + "old\\back.bin"));

    QTest::keyClick(window->LB(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST(TaskEditor, TheProgramDialogOffersFoldersAndExecutableFilesOnly) {
    test::ensureApplication();
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    fs::makePath(folder + "sub");
    fs::replaceAtomically(folder + "notes.txt", "text");
    fs::replaceAtomically(folder + "tool", "#!/bin/sh\n");
    QFile::setPermissions(folder + "tool", QFile::ReadOwner | QFile::ExeOwner);

    QStringList shown;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->deleteLater();
        poll->stop();
        dialog->setDirectory(folder);
        const QAbstractItemView* view = dialog->findChild<QListView*>("listView");
        const auto names = [view] {
            QStringList texts;
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                texts.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
            texts.sort();
            return texts;
        };
        // The folder is read in the background.
        waitUntil([&] { return names().contains("tool"); }, 5000);
        shown = names();
        dialog->reject();
    });
    poll->start(20);
    EXPECT_EQ(BrowseForFile(nullptr, "*.Exe"), "");
    EXPECT_EQ(shown, QStringList({"sub", "tool"}));
}

// The old list must survive a save that cannot be written, here on a full disk.
TEST(StoringAnEditedList, FailedWriteKeepsTheOldFileAndLogsWhileMemoryTakesTheNewList) {
    test::ensureApplication();
    QTemporaryDir dir;
    const QString mountPoint = dir.path() + "/small";
    ASSERT_EQ(fs::makePath(mountPoint), 0);
    if (::mount("tmpfs", encodeLocal(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        KW_CANNOT_RUN("cannot mount a tmpfs here");
    const QString file = mountPoint + "/k.cfg";
    ASSERT_EQ(fs::replaceAtomically(file, "avi\r\n"), 0);
    fs::append(mountPoint + "/filler", QByteArray(64 * 1024, 'x'));

    EventLog log;
    test::RecordingDebugWindow debug;
    log.setDebugWindow(&debug);
    TextArray list = QStringList{"avi"};
    const QStringList edited{"avi", QString(8192, QLatin1Char('x'))};
    StoreEditedList(log, "Writing Prefixes...", edited, list, file);
    const QByteArray stored = bytesOf(file);
    ::umount2(encodeLocal(mountPoint).constData(), MNT_DETACH);

    EXPECT_EQ(stored, "avi\r\n");
    EXPECT_EQ(list, edited);
    ASSERT_EQ(debug.lines.size(), 2);
    EXPECT_TRUE(debug.lines[0].endsWith("Writing Prefixes..."));
    EXPECT_TRUE(debug.lines[1].contains("Error writing '" + file + "': "));
}
