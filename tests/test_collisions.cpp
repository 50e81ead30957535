// A file whose name is taken in the destination by other contents gets the first free number
// from "001 " to "999 " in front of its name, by a rename in the watched folder that never
// replaces anything standing under the numbered name there, also on a file system without
// RENAME_NOREPLACE and hard links (exFAT through FUSE). Without a free number, or with a name
// too long for its number, the file stays, and that is said once.
#include "core/files.h"
#include "platform/fs.h"
#include "platform/posix/norename.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

struct Rig : ScanRig {
    std::unique_ptr<ScratchFileSystem> watchedFs;
    pid_t holder = -1;
    ~Rig() { endProgram(holder); }
    // name in the watched folder held open for writing by a second program, so that it stays.
    void holdOpen(const QString& name) {
        holder = holdOpenForWriting(in(name));
        ASSERT_GT(holder, 0) << "the writer did not get the file open";
    }
};

struct Collision {
    const char* what;
    bool onExfat;  // the watched folder on an exFAT image through exfat-fuse
    QString name;
    // Makes the collision; answers the names the file may end under in the destination (none:
    // it stays).
    std::function<QStringList(Rig&)> arrange;
    std::function<void(Rig&, const QStringList& log)> check;
};

const QByteArray kFile = "the new file";
const QByteArray kHeld = "a file held open under the numbered name";

QString numbered(int k, const QString& name) {
    return QStringLiteral("%1 ").arg(k, 3, 10, QLatin1Char('0')) + name;
}

void heldFileUntouched(Rig& rig, const QStringList& log) {
    EXPECT_EQ(bytesOf(rig.in("001 a.bin")), kHeld) << log.join('\n').toStdString();
    // The file took the next number, whether it has moved on yet or not.
    EXPECT_TRUE(bytesOf(rig.in("002 a.bin")) == kFile || bytesOf(rig.out("002 a.bin")) == kFile)
        << log.join('\n').toStdString();
}

std::vector<Collision> collisions() {
    const auto heldUnderTheNumber = [](Rig& rig) {
        writeBytes(rig.out("a.bin"), "other contents");
        writeBytes(rig.in("001 a.bin"), kHeld);
        rig.holdOpen("001 a.bin");
        return QStringList{};
    };
    return {
        {"a file held open for writing under the first free number in the watched folder", false,
         "a.bin", heldUnderTheNumber, heldFileUntouched},
        {"the same on exFAT, which renames only by replacing", true, "a.bin", heldUnderTheNumber,
         heldFileUntouched},
        {"998 numbers taken", false, "a.bin",
         [](Rig& rig) {
             writeBytes(rig.out("a.bin"), "other contents");
             for (int k = 1; k <= 998; ++k)
                 writeBytes(rig.out(numbered(k, "a.bin")), "taken");
             return QStringList{"999 a.bin"};
         },
         [](Rig& rig, const QStringList& log) {
             EXPECT_EQ(bytesOf(rig.out("999 a.bin")), kFile) << log.join('\n').toStdString();
         }},
        {"all 999 numbers taken", false, "a.bin",
         [](Rig& rig) {
             writeBytes(rig.out("a.bin"), "other contents");
             for (int k = 1; k <= 999; ++k)
                 writeBytes(rig.out(numbered(k, "a.bin")), "taken");
             return QStringList{};
         },
         [](Rig& rig, const QStringList& log) {
             EXPECT_EQ(bytesOf(rig.in("a.bin")), kFile);
             EXPECT_FALSE(fs::facts(rig.in("1000 a.bin")) || fs::facts(rig.out("1000 a.bin")));
             EXPECT_EQ(log.filter("No free number from 001 to 999 for 'a.bin'").size(), 1)
                 << log.join('\n').toStdString();
             EXPECT_EQ(log.filter(QRegularExpression("^(Move|Copy|Renaming) ")).size(), 0)
                 << log.join('\n').toStdString();
             EXPECT_EQ(rig.tick(), QStringList()) << "said again";
         }},
        {"a name too long for its number", false, QString(252, QLatin1Char('n')),
         [](Rig& rig) {
             writeBytes(rig.out(QString(252, QLatin1Char('n'))), "other contents");
             return QStringList{};
         },
         [](Rig& rig, const QStringList& log) {
             const QString name(252, QLatin1Char('n'));
             EXPECT_EQ(bytesOf(rig.in(name)), kFile);
             EXPECT_EQ(bytesOf(rig.out(name)), "other contents");
             EXPECT_EQ(log.filter("Not moved: '" + rig.in(name) + "'").size(), 1)
                 << log.join('\n').toStdString();
             EXPECT_EQ(rig.tick(), QStringList()) << "said again";
         }},
    };
}

TEST(Collisions, NumberedNamesNeverReplaceAFileAndStopAt999) {
    for (const Collision& row : collisions()) {
        SCOPED_TRACE(row.what);
        Rig rig;
        if (row.onExfat) {
            QString why;
            rig.watchedFs =
                ScratchFileSystem::make(ScratchFileSystem::Type::Exfat, rig.source, 64 << 20, &why);
            if (!rig.watchedFs) {
                if (inCi())
                    ADD_FAILURE() << "cannot run in CI: " << why.toStdString();
                continue;
            }
        }
        writeBytes(rig.in(row.name), kFile);
        const QStringList endsAs = row.arrange(rig);
        if (::testing::Test::HasFatalFailure())
            return;
        const QStringList log = rig.ticksUntil(
            [&] {
                return endsAs.isEmpty() ? !fs::facts(rig.in(row.name))
                                        : fs::facts(rig.out(endsAs.first())).has_value();
            },
            row.onExfat ? 4 : 1);
        for (const QString& name : endsAs)
            EXPECT_EQ(bytesOf(rig.out(name)), kFile) << log.join('\n').toStdString();
        row.check(rig, log);
    }
}

}  // namespace

namespace {

struct RaceRow {
    const char* what;
    // Whether the call entered is the one to hold: the other program's file appears then.
    std::function<bool(const QString& call, bool linkRefused)> holds;
};

}  // namespace

// Where neither RENAME_NOREPLACE nor a hard link refuses a taken name (exFAT through FUSE), the
// rename must look before it renames: a file another program puts under the name while the
// refused link returns, or before, is never replaced. The look itself is the last moment a test
// can reach; a name that appears between it and the rename would still be replaced.
TEST(Collisions, WithoutNoReplaceAndHardLinksANameTakenMeanwhileIsNeverReplaced) {
    const QByteArray ours = patternBytes(200'000);
    const QByteArray theirs = patternBytes(300'000).right(100'000);
    const std::vector<RaceRow> table = {
        {"taken while the hard link is tried",
         [](const QString& call, bool) { return call.startsWith("linkat("); }},
        {"taken once the hard link was refused, before the rename",
         [](const QString& call, bool linkRefused) {
             return linkRefused && !call.startsWith("linkat(");
         }},
    };
    for (const RaceRow& row : table) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/stick/";
        QString why;
        const auto stick =
            ScratchFileSystem::make(ScratchFileSystem::Type::Exfat, folder, 64 << 20, &why);
        if (!stick)
            KW_CANNOT_RUN(why.toStdString());
        writeBytes(folder + "from.bin", ours);
        const int fd = ::open(encodeLocal(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        bool linkRefused = false;
        bool taken = false;
        int result = -1;
        {
            const QString calls = "renameat,renameat2,linkat,newfstatat,statx";
            TracedCalls tracer(calls, {calls + ":delay_enter=400000"});
            if (!tracer.why().isEmpty())
                KW_CANNOT_RUN(tracer.why().toStdString());
            tracer.onEveryCall([&](const QString& call) {
                if (taken || !call.contains("\"taken.bin\""))
                    return;
                if (row.holds(call, linkRefused)) {
                    writeBytes(folder + "taken.bin", theirs);
                    taken = true;
                }
                linkRefused = linkRefused || call.startsWith("linkat(");
            });
            result = fs::renameWithoutReplacing(fd, "from.bin", fd, "taken.bin");
        }  // every call's action has run
        ::close(fd);
        EXPECT_TRUE(taken) << "the moment was never reached";
        EXPECT_EQ(result, EEXIST);
        EXPECT_TRUE(bytesOf(folder + "taken.bin") == theirs)
            << "the other program's file replaced";
        EXPECT_TRUE(bytesOf(folder + "from.bin") == ours) << "the file to be renamed lost";
    }
}
