#include "core/files.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kw;
using namespace kw::apptest;

namespace {

constexpr uid_t kNobody = 65534;

// This thread touches files as the ordinary user "nobody" while it lives: root's power to read
// everything is gone with it, as the kernel drops it when the file-system user is no longer root.
class AsNobody {
public:
    AsNobody() {
        ::setfsgid(kNobody);
        ::setfsuid(kNobody);
        m_active = ::setfsuid(uid_t(-1)) == kNobody;
    }
    ~AsNobody() {
        ::setfsuid(0);
        ::setfsgid(0);
    }
    bool active() const { return m_active; }

private:
    bool m_active = false;
};

// A program whose data folder belongs to nobody, as an ordinary user's does.
struct NobodysRig : ProgramRig {
    NobodysRig() {
        ::chmod(encodeLocal(dir.path()).constData(), 0755);
        ::chown(encodeLocal(dataFolder).constData(), kNobody, kNobody);
    }
    // A file left by a run as root: the ordinary user cannot read it.
    void leftByRoot(const QString& path, const QByteArray& content) {
        ASSERT_EQ(fs::replaceAtomically(path, content), 0);
        ASSERT_EQ(::chmod(encodeLocal(path).constData(), 0600), 0);
    }
};

}  // namespace

TEST(OwnFiles, SettingsAndListsThatCannotBeReadAreReportedAndNeverReplaced) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("needs root to leave files an ordinary user cannot read");
    NobodysRig rig;
    const QByteArray settings =
        "[Source]\r\nSource=/srv/in/\r\n[Destination]\r\nDestination=/srv/out/\r\n";
    const QString tasks = rig.dataFolder + "Kopierwart.task";
    rig.leftByRoot(rig.ini(), settings);
    rig.leftByRoot(tasks, "/usr/bin/true\r\n");
    ASSERT_EQ(fs::replaceAtomically(rig.dataFolder + "Kopierwart.cfg", "avi\r\n"), 0);
    ::chown(encodeLocal(rig.dataFolder + "Kopierwart.cfg").constData(), kNobody, kNobody);

    AsNobody nobody;
    if (!nobody.active())
        KW_CANNOT_RUN("cannot act as the user nobody");
    Program& program = rig.start();
    // The settings are changed meanwhile, and an edited task list is stored.
    rig.control<QScrollBar>("HScroll")->setValue(30);
    EXPECT_NE(WriteTextFile(tasks, "/usr/bin/false", true), 0);

    EXPECT_EQ(program.unreadableFiles(), (QStringList{rig.ini(), tasks}));
    ASSERT_FALSE(rig.desktop.messages.empty());
    const test::ShownMessage& message = rig.desktop.messages.front();
    EXPECT_EQ(message.caption, "Fehler");
    EXPECT_TRUE(message.text.contains(rig.ini() + " (keine Leseberechtigung)"))
        << message.text.toStdString();
    EXPECT_TRUE(message.text.contains(tasks + " (keine Leseberechtigung)"));
    const QStringList lines = logLines(rig.log());
    EXPECT_TRUE(lines.contains("Cannot read '" + rig.ini() +
                               "': Permission denied - running without it, and it is not "
                               "written in this run"))
        << lines.join('\n').toStdString();
    // The readable list is used, the first start's settings are not stored.
    EXPECT_EQ(program.data().BlockedExtensions, TextArray(QStringList{"avi"}));

    ::setfsuid(0);
    EXPECT_EQ(bytesOf(rig.ini()), settings);
    EXPECT_EQ(bytesOf(tasks), "/usr/bin/true\r\n");
    EXPECT_EQ(QFileInfo(rig.ini()).ownerId(), 0u);
}

// Data files kept in a dotfiles folder and linked into the data folder.
TEST(OwnFiles, SettingsRegisterAndLogKeptAsLinksAreWrittenThroughThem) {
    ProgramRig rig;
    const QString dotfiles = rig.folder("dotfiles");
    const QString source = rig.folder("watched"), destination = rig.folder("moved");
    const QStringList names = {"Kopierwart.ini", "Kopierwart.Copy", "Kopierwart.Log"};
    for (const QString& name : names)
        ASSERT_TRUE(QFile::link("../dotfiles/" + name, rig.dataFolder + name));
    ASSERT_EQ(fs::replaceAtomically(dotfiles + "Kopierwart.ini", ""), 0);
    ASSERT_EQ(::chmod(encodeLocal(dotfiles + "Kopierwart.ini").constData(), 0600), 0);
    rig.setting("Source", source);
    rig.setting("Destination", destination);
    fs::replaceAtomically(source + "a.bin", "a");

    Program& program = rig.start();
    ASSERT_TRUE(waitUntil([&] { return program.engine().LBfiles().size() == 1; }));
    rig.control<QScrollBar>("HScroll")->setValue(42);

    for (const QString& name : names)
        EXPECT_EQ(QFileInfo(rig.dataFolder + name).symLinkTarget(), dotfiles + name)
            << name.toStdString();
    EXPECT_EQ(ReadIniValue(dotfiles + "Kopierwart.ini", "Intervall", "Intervall"), "42");
    struct stat st {};
    ASSERT_EQ(::stat(encodeLocal(dotfiles + "Kopierwart.ini").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a private settings file stays private";
    EXPECT_TRUE(bytesOf(dotfiles + "Kopierwart.Copy").startsWith(encodeLocal(source + "a.bin")));
    const QStringList lines = logLines(dotfiles + "Kopierwart.Log");
    EXPECT_TRUE(lines.contains("Scanning complete !")) << lines.join('\n').toStdString();
    EXPECT_GT(lines.size(), 10);
    EXPECT_TRUE(QDir(dotfiles).entryList(QDir::Hidden | QDir::Files).filter(".new-").isEmpty());
}

// A download that is an executable program is opened as a document, never run.
TEST(OwnFiles, DateiAusfuehrenOpensAMovedProgramAsADocument) {
    FoldersRig rig;
    fs::replaceAtomically(rig.source + "setup.sh", "#!/bin/sh\ntouch \"$0.ran\"\n");
    ::chmod(encodeLocal(rig.source + "setup.sh").constData(), 0755);
    rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_TRUE(waitUntil([&] { return list->count() == 1; }));
    list->setCurrentRow(0);
    list->currentItem()->setSelected(true);

    rig.control<QMenu>("mnu")->findChild<QAction*>("mnuExecute")->trigger();
    EXPECT_EQ(rig.desktop.openedDocuments, QStringList{rig.destination + "setup.sh"});
    EXPECT_TRUE(rig.desktop.opened.isEmpty()) << rig.desktop.opened.join(' ').toStdString();
}
