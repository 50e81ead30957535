#include "core/editedlist.h"
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
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

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

using test::itemTexts;

void selectRow(QListWidget* list, int row) {
    list->setCurrentRow(row);
    list->item(row)->setSelected(true);
}

// A program with the given list of blocked extensions; the watched and destination folders are
// set.
struct EditorRig : ProgramRig {
    explicit EditorRig(const QByteArray& blocked = {}) {
        setting("Source", source);
        setting("Destination", destination);
        if (!blocked.isEmpty())
            fs::replaceAtomically(cfg(), blocked);
    }
    QString cfg() const { return dataFolder + "Kopierwart.cfg"; }
    QString taskFile() const { return dataFolder + "Kopierwart.task"; }

    FrmPrefix& openPrefix() {
        control<QPushButton>("ButPrefix")->click();
        return *topLevel<FrmPrefix>("frmPrefix");
    }
    void addExtension(FrmPrefix& editor, const QString& typed) {
        QTest::keyClicks(editor.findChild<QLineEdit*>("TextInput"), typed);
        editor.ButAdd_Click();
    }

    QString source = folder("watched");
    QString destination = folder("moved");
};

}  // namespace

TEST(BlockedExtensionInput, KeepsOnlyLowerCaseLettersTypedOrPastedAndEscapeEmptiesTheField) {
    EditorRig rig;
    rig.start();
    FrmPrefix& editor = rig.openPrefix();
    auto* input = editor.findChild<QLineEdit*>("TextInput");
    auto* add = editor.findChild<QPushButton*>("ButAdd");

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
}

TEST(BlockedExtensionEditor, OkSavesAlphabeticallyWithoutDuplicatesCancelDiscardsCloseSaves) {
    EditorRig rig("AVI\r\n");
    Program& program = rig.start();
    FrmPrefix& editor = rig.openPrefix();
    EXPECT_FALSE(program.window().isVisible());
    // The entry written by hand in upper case counts as the same extension.
    for (const char* typed : {"avi", "zip", "iso", "mkv"})
        rig.addExtension(editor, typed);
    EXPECT_EQ(itemTexts(editor.LBt()), QStringList({"AVI", "iso", "mkv", "zip"}));
    editor.findChild<QPushButton*>("ButOK")->click();
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_EQ(bytesOf(rig.cfg()), "AVI\r\niso\r\nmkv\r\nzip\r\n");
    EXPECT_EQ(program.data().BlockedExtensions, QStringList({"AVI", "iso", "mkv", "zip"}));

    rig.openPrefix();
    rig.addExtension(editor, "exe");
    editor.findChild<QPushButton*>("ButCancel")->click();
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_EQ(bytesOf(rig.cfg()), "AVI\r\niso\r\nmkv\r\nzip\r\n");
    EXPECT_EQ(program.data().BlockedExtensions->size(), 4);

    // Opened again, it shows the stored list, not the discarded edit, and a close saves.
    rig.openPrefix();
    EXPECT_EQ(itemTexts(editor.LBt()).size(), 4);
    rig.addExtension(editor, "rar");
    editor.close();
    EXPECT_EQ(bytesOf(rig.cfg()), "AVI\r\niso\r\nmkv\r\nrar\r\nzip\r\n");
}

TEST(BlockedExtensionEditor, AnEmptiedListDeletesTheFileAndTheCycleBlocksNothingFromItsNextPass) {
    EditorRig rig("bin\r\n");
    fs::replaceAtomically(rig.source + "a.bin", "blocked until the list is emptied");
    Program& program = rig.start();
    ASSERT_TRUE(fs::facts(rig.source + "a.bin"));

    FrmPrefix& editor = rig.openPrefix();
    selectRow(editor.LBt(), 0);
    editor.findChild<QAction*>("mnuRemove")->trigger();
    editor.ButOK_Click();
    EXPECT_FALSE(fs::facts(rig.cfg()));
    rig.control<QPushButton>("butGoTimer")->click();
    EXPECT_TRUE(waitUntil([&] {
        return fs::facts(rig.destination + "a.bin").has_value() && !program.engine().ScanBusy();
    }));
}

TEST(BlockedExtensionEditor, ShutdownWithTheEditorOpenSavesItsList) {
    EditorRig rig;
    Program& program = rig.start();
    rig.addExtension(rig.openPrefix(), "part");
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
    const QString listed = folder + "WORKER", twin = folder + "worker", other = folder + "Other";
    for (const QString& path : {listed, twin, other}) {
        fs::replaceAtomically(path, "#!/bin/sh\nsleep 60\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // A plain file is no program, whatever the dialog answers.
    const QString text = folder + "notes.txt";
    fs::replaceAtomically(text, "not a program");
    fs::replaceAtomically(rig.taskFile(), (listed + "\r\n").toUtf8());
    Program& program = rig.start();
    rig.desktop.opened.clear();

    rig.control<QPushButton>("ButTasklist")->click();
    FrmTask& editor = *topLevel<FrmTask>("frmTask");
    for (const QString& path : {twin, other, text}) {
        test::chooseInNextFileDialog(path);
        editor.ButBrowse_Click();
    }
    EXPECT_EQ(itemTexts(editor.LBt()), QStringList({other, listed}));

    selectRow(editor.LBt(), 1);
    editor.mnuRemove_Click();
    editor.findChild<QPushButton*>("ButOK")->click();
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_EQ(bytesOf(rig.taskFile()), (other + "\r\n").toUtf8());
    program.engine().Timer_Timer();
    EXPECT_EQ(rig.desktop.opened, QStringList({other}));
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
    // An executable program: opened as a document, never run.
    const QString newest = rig.destination + "newest.bin";
    fs::replaceAtomically(newest, "#!/bin/sh\n");
    QFile::setPermissions(newest, QFile::ReadOwner | QFile::ExeOwner);

    rig.control<QPushButton>("ButList")->click();
    auto* window = topLevel<FrmList>("frmList");
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(itemTexts(window->LB()),
              QStringList({"old\\back.bin", "/in/newest.bin", odd, "/in/oldest.bin"}));

    selectRow(window->LB(), 1);
    window->LB_DblClick();
    EXPECT_EQ(rig.desktop.openedDocuments, QStringList({newest}));
    EXPECT_TRUE(rig.desktop.opened.isEmpty());

    // A line without "/" is a name as a whole; a file gone from the destination is reported.
    selectRow(window->LB(), 0);
    window->LB_DblClick();
    EXPECT_EQ(rig.desktop.openedDocuments.size(), 1);
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_EQ(rig.desktop.messages[0].caption, "Fehler");
    EXPECT_TRUE(rig.desktop.messages[0].text.contains(rig.destination + "old\\back.bin"));
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
    EXPECT_TRUE(debug.lines[1].contains("Error writing '" + file + "': "));
}
