// Places the program cannot write. A register that cannot be written costs only its line: the
// file moves whole and the failure is said. A watched folder mounted read-only keeps every file
// whole where it is; each is copied once, never again and never as a numbered copy, and its
// failed deletion is said once, not on every tick.
#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <functional>

#include <sys/mount.h>
#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

QString dataFolderOf(const ScanRig& rig) {
    return rig.dir.path() + QStringLiteral("/data/");
}

// The watched folder bind-mounted onto itself and made read-only.
bool watchedFolderReadOnly(ScanRig& rig) {
    const QByteArray folder = encodeLocal(rig.source);
    return ::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, folder.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                   nullptr) == 0;
}
// Lifts the read-only mount however the row ends.
struct ReadOnlyMount {
    QByteArray folder;
    ~ReadOnlyMount() {
        if (!folder.isEmpty())
            ::umount2(folder.constData(), MNT_DETACH);
    }
};

struct Row {
    const char* what;
    bool registerWritable;
    bool watchedFolderWritable;
};

TEST(Unwritable, NothingUnwritableLosesAFileOrRepeatsItsWork) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts need root");
    const QByteArray bytes = patternBytes(1'500'000);
    const QByteArray other = patternBytes(300'000);
    const std::vector<Row> table = {
        {"a folder stands under the register's name", false, true},
        {"the data folder is a full tmpfs", false, true},
        {"the watched folder is mounted read-only", true, false},
        {"the watched folder is read-only and the register a folder", false, false},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        ScanRig rig;
        ASSERT_TRUE(rig.destinationOnOtherFileSystem());
        writeBytes(rig.in("a.bin"), bytes);
        writeBytes(rig.in("b.bin"), other);
        std::unique_ptr<ScratchFileSystem> dataFs;
        const QString registerFile = rig.data.My.CopyListFile;
        if (!row.registerWritable) {
            if (QString(row.what).contains("tmpfs")) {
                dataFs = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, dataFolderOf(rig),
                                                 256 << 10);
                ASSERT_TRUE(dataFs);
                // Filled to the last block: dd ends with "No space left on device".
                runToEnd({"dd", "if=/dev/zero", "of=" + dataFolderOf(rig) + "filler", "bs=4096",
                          "status=none"});
                ASSERT_NE(fs::append(registerFile, "x"), 0) << "the tmpfs is not full";
            } else {
                ASSERT_EQ(fs::makePath(registerFile), 0);
            }
        }
        ReadOnlyMount readOnly;
        if (!row.watchedFolderWritable) {
            readOnly.folder = encodeLocal(rig.source);
            ASSERT_TRUE(watchedFolderReadOnly(rig)) << "cannot mount the watched folder read-only";
        }

        const QStringList first = rig.tick();
        const QStringList second = rig.tick();
        const QStringList third = rig.tick();
        const std::string log = (first + second + third).join('\n').toStdString();

        // Every file whole in the destination, once; nothing numbered, nothing partial.
        EXPECT_EQ(entriesOf(rig.destination), (QStringList{"a.bin", "b.bin"})) << log;
        EXPECT_EQ(bytesOf(rig.out("a.bin")), bytes) << log;
        EXPECT_EQ(bytesOf(rig.out("b.bin")), other) << log;
        for (const QString& name : {QString("a.bin"), QString("b.bin")}) {
            const QString line = rig.copyLine(name);
            EXPECT_EQ(first.count(line), 1) << log;
            EXPECT_EQ(second.count(line) + third.count(line), 0) << "copied again\n" << log;
            if (!row.registerWritable) {
                EXPECT_EQ(first
                              .filter("Can't write '" + rig.in(name) + "' into the register '" +
                                      registerFile + "'")
                              .size(),
                          1)
                    << log;
            }
            if (row.watchedFolderWritable) {
                EXPECT_FALSE(fs::facts(rig.in(name))) << "source not deleted\n" << log;
            } else {
                // The source keeps its bytes; its failed deletion is said in the first tick only.
                EXPECT_EQ(bytesOf(rig.in(name)), name == "a.bin" ? bytes : other) << log;
                EXPECT_EQ(first.filter("'" + rig.in(name) + "'").filter("Delete").size(), 1) << log;
            }
        }
        EXPECT_EQ((second + third).join('\n').toStdString(), "") << "said or done again";
    }
}

}  // namespace
