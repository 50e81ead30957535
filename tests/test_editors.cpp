#include "core/editedlist.h"
#include "platform/textcodec.h"
#include "scan/register.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scratchfs.h"
#include "ui/frmlist.h"
#include "ui/frmp2pnew.h"
#include "ui/frmprefix.h"
#include "ui/frmtask.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace kw;
using namespace kw::apptest;

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
