// A name is deleted, taken or replaced only while it still names the very file that was checked,
// whatever a second process does at the worst moment.
#include "platform/fs.h"
#include "platform/posix/norename.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>

using namespace kw;
using namespace kw::test;

namespace {

constexpr qint64 kSize = 3'000'000;
using Type = ScratchFileSystem::Type;

struct Case : ScanRig {
    std::unique_ptr<ScratchFileSystem> mounted;
    std::optional<WithoutLeaseCapability> noLease;
    std::unique_ptr<TracedCalls> tracer;
    std::atomic<bool> done{false};  // the interference has happened
    std::atomic<pid_t> holder{-1};  // a program holding a file open for writing
    QByteArray registerAtDeletion;
    QByteArray original = patternBytes(kSize);
    QByteArray changed = QByteArray(original).replace(0, 12, "second bytes");
    ~Case() {
        tracer.reset();
        endProgram(holder);
    }
    // Bytes written in place, as a P2P program fills a file; a file renamed onto the name.
    void rewriteInPlace() { put("dd if=\"$1\" of=\"$2\" conv=notrunc status=none"); }
    void saveOver() { put("mv \"$1\" \"$2\""); }
    void put(const QString& script) {
        writeBytes(dir.path() + "/staged", changed);
        EXPECT_EQ(runToEnd({"sh", "-c", script, "sh", dir.path() + "/staged", in("a.bin")}), 0);
    }
    void openForWriting(const QString& name = "a.bin") {
        holder = holdOpenForWriting(in(name));
        EXPECT_GT(holder, 0) << "the writer did not get the file open";
    }
    bool inCopy(std::function<void()> act) {
        return duringNextCopy([this, act] { act(), done = true; }), true;
    }
    bool atCall(const QString& calls, int delayUs, const QString& text, std::function<void()> act) {
        tracer = std::make_unique<TracedCalls>(
            calls, QStringList{calls + ":delay_enter=" + QString::number(delayUs)});
        tracer->onCall(text, [this, act] { act(), done = true; });
        return tracer->why().isEmpty();
    }
};

enum class Where { OneFileSystem, DestinationOnTmpfs, WatchedOnExfat };

struct Interference {
    const char* what;
    Where where;
    bool leased;                         // false: a file of another user with CAP_LEASE lowered
    std::function<bool(Case&)> arrange;  // false where this machine cannot
    // What stays under the name in the watched folder; empty: the row checks for itself.
    QByteArray Case::*stays;
    std::function<void(Case&, const QStringList&)> check = {};
};

const std::vector<Interference> kInterferences = {
    {"a same-size rewrite in place during the copy of a file without a lease",
     Where::DestinationOnTmpfs, false,
     [](Case& c) { return c.inCopy([&c] { c.rewriteInPlace(); }); }, &Case::changed},
    {"the same, the modification time then set back by the writer", Where::DestinationOnTmpfs,
     false,
     [](Case& c) {
         return c.inCopy([&c] {
             const struct stat st = statOf(c.in("a.bin"));
             c.rewriteInPlace();
             const struct timespec times[2] = {st.st_atim, st.st_mtim};
             ::utimensat(AT_FDCWD, encodeLocal(c.in("a.bin")).constData(), times, 0);
         });
     },
     &Case::changed},
    {"a program opening the leased file for writing while a multi-chunk copy runs",
     Where::DestinationOnTmpfs, true,
     [](Case& c) { return c.inCopy([&c] { c.openForWriting(); }); }, &Case::original},
    {"the same for a user's own file without CAP_LEASE, as an ordinary user runs it",
     Where::DestinationOnTmpfs, true,
     [](Case& c) {
         c.noLease.emplace();
         return c.inCopy([&c] { c.openForWriting(); }) && c.noLease->active();
     },
     &Case::original},
    {"a file saved over the name between the copy and the deletion on exFAT through FUSE",
     Where::WatchedOnExfat, true,
     [](Case& c) {
         c.data.My.SoundFile = "copy.wav";  // played between the copy and the deletion
         c.desktop.onPlaySound = [&c] { c.saveOver(), c.done = true; };
         return true;
     },
     &Case::changed},
    {"a file renamed onto the name while the rename that moves it waits", Where::OneFileSystem,
     true,
     [](Case& c) { return c.atCall("renameat2", 800'000, "\"a.bin\"", [&c] { c.saveOver(); }); },
     &Case::changed},
    {"a shorter file in the destination that is the source's beginning", Where::OneFileSystem, true,
     [](Case& c) {
         writeBytes(c.out("a.bin"), c.original.left(kSize - 1'000'000));
         return c.done = true;
     },
     nullptr,
     [](Case& c, const QStringList& log) {
         EXPECT_EQ(bytesOf(c.out("001 a.bin")), c.original) << text(log);
         EXPECT_EQ(bytesOf(c.out("a.bin")), c.original.left(kSize - 1'000'000));
     }},
    {"the destination's stick unmounted between the check that it is there and the copy's name",
     Where::DestinationOnTmpfs, true,
     [](Case& c) { return c.atCall("syncfs", 800'000, "syncfs(", [&c] { c.mounted->unmount(); }); },
     &Case::original},
    {"the deletion of a copied source, which comes after its register line",
     Where::DestinationOnTmpfs, true,
     [](Case& c) {
         return c.atCall("unlink,unlinkat", 300'000, "\"a.bin\"",
                         [&c] { c.registerAtDeletion = bytesOf(c.data.My.CopyListFile); });
     },
     nullptr,
     [](Case& c, const QStringList& log) {
         EXPECT_FALSE(fs::facts(c.in("a.bin"))) << text(log);
         EXPECT_EQ(bytesOf(c.out("a.bin")), c.original);
         EXPECT_TRUE(c.registerAtDeletion.contains(encodeLocal(c.in("a.bin")) + '\0'))
             << "the source was deleted before its register line was written";
     }},
};

TEST(CheckedNames, NoInterferenceEverLetsANameGoThatNoLongerNamesTheCheckedFile) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts, other users' files and strace need root");
    for (const Interference& row : kInterferences) {
        SCOPED_TRACE(row.what);
        Case c;
        QString why;
        const bool watched = row.where == Where::WatchedOnExfat;
        if (row.where != Where::OneFileSystem &&
            !(c.mounted =
                  ScratchFileSystem::make(watched ? Type::Exfat : Type::Tmpfs,
                                          watched ? c.source : c.destination, 64 << 20, &why))) {
            ADD_FAILURE() << "cannot run: " << why.toStdString();
            continue;
        }
        writeBytes(c.in("a.bin"), c.original);
        if (!row.leased) {
            c.noLease.emplace();
            ASSERT_TRUE(giveToAnotherUser(c.in("a.bin")) && c.noLease->active());
        }
        if (!row.arrange(c)) {
            ADD_FAILURE() << "cannot run: " << (c.tracer ? c.tracer->why().toStdString() : "");
            continue;
        }
        const QStringList log = c.ticksUntil([&c] { return c.done.load(); }, 3);
        c.tracer.reset();
        if (!c.done) {
            ADD_FAILURE() << "the interference never came: " << text(log);
            continue;
        }
        if (row.stays) {
            EXPECT_EQ(bytesOf(c.in("a.bin")), c.*row.stays) << text(log);
            EXPECT_TRUE(log.filter(QRegularExpression("^Move ")).isEmpty()) << text(log);
        }
        if (row.check)
            row.check(c, log);
    }
}

const QByteArray kFile = "the new file";
const QByteArray kLate = patternBytes(kSize);
const QByteArray kDifferentLate =
    QByteArray(kLate).replace(2'500'000, 1, QByteArray(1, char(~kLate.at(2'500'000))));

struct Collision {
    const char* what;
    // Makes the collision; answers the names the file ends under in the destination (none: stays).
    std::function<QStringList(Case&)> arrange;
    std::function<void(Case&, const QStringList& log)> check;
    QByteArray bytes = kFile;
};

QStringList numbersTaken(Case& c, int count) {
    const auto numbered = [](int k) { return QString("%1 a.bin").arg(k, 3, 10, QLatin1Char('0')); };
    writeBytes(c.out("a.bin"), "other contents");
    for (int k = 1; k <= count; ++k)
        writeBytes(c.out(numbered(k)), "taken");
    return count < 999 ? QStringList{numbered(count + 1)} : QStringList{};
}

const std::vector<Collision> kCollisions = {
    {"a file held open for writing under the first free number in the watched folder",
     [](Case& c) {
         writeBytes(c.out("a.bin"), "other contents");
         writeBytes(c.in("001 a.bin"), "held");
         c.openForWriting("001 a.bin");
         return QStringList{};
     },
     [](Case& c, const QStringList& log) {
         EXPECT_EQ(bytesOf(c.in("001 a.bin")), "held") << text(log);
         EXPECT_TRUE(bytesOf(c.in("002 a.bin")) == kFile || bytesOf(c.out("002 a.bin")) == kFile)
             << text(log);
     }},
    {"998 numbers taken", [](Case& c) { return numbersTaken(c, 998); }, {}},
    {"all 999 numbers taken", [](Case& c) { return numbersTaken(c, 999); },
     [](Case& c, const QStringList& log) {
         EXPECT_EQ(bytesOf(c.in("a.bin")), kFile);
         EXPECT_FALSE(fs::facts(c.in("1000 a.bin")) || fs::facts(c.out("1000 a.bin")));
         EXPECT_EQ(log.filter(QRegularExpression("^(Move|Copy|Renaming) ")).size(), 0) << text(log);
         EXPECT_EQ(log.filter("No free number from 001 to 999 for 'a.bin'").size(), 1) << text(log);
         EXPECT_EQ(c.tick(), QStringList()) << "said again";
     }},
    // The rename to 002 fails in the watched folder; the restarted pass moves each file once.
    {"the next number free in the destination but taken by a folder in the watched folder",
     [](Case& c) {
         writeBytes(c.in("b.txt"), "b");
         writeBytes(c.out("a.bin"), "other");
         writeBytes(c.out("001 a.bin"), "other too");
         fs::makePath(c.in("002 a.bin"));
         return QStringList{"003 a.bin"};
     },
     [](Case& c, const QStringList& log) {
         const qsizetype renaming = log.indexOf("Renaming " + c.in("a.bin") + " -> 002 a.bin");
         EXPECT_GE(renaming, 0) << text(log);
         EXPECT_EQ(log.value(renaming + 1), "Renaming " + c.in("a.bin") + " -> 003 a.bin");
         EXPECT_EQ(log.count(c.moveLine("b.txt")), 1) << "the restarted pass moved twice";
         EXPECT_EQ(entriesOf(c.source), QStringList{"002 a.bin"});
     }},
    {"a link to the source under the name",
     [](Case& c) { return QFile::link(c.in("a.bin"), c.out("a.bin")), QStringList{"001 a.bin"}; },
     {}},
    {"a file that differs only after the first megabyte",
     [](Case& c) { return writeBytes(c.out("a.bin"), kDifferentLate), QStringList{"001 a.bin"}; },
     [](Case& c, const QStringList&) { EXPECT_EQ(bytesOf(c.out("a.bin")), kDifferentLate); },
     kLate},
    {"a twin with equal contents",
     [](Case& c) { return writeBytes(c.out("a.bin"), kFile), QStringList{"a.bin"}; },
     [](Case& c, const QStringList& log) {
         EXPECT_EQ(log, QStringList{"Source allready exist - " + c.deletedLine("a.bin")});
         EXPECT_EQ(c.data.CopiedFiles.keys(), TextArray(QStringList()));
     }},
};

TEST(Collisions, NumberedNamesNeverReplaceAFileAndStopAt999) {
    for (const Collision& row : kCollisions) {
        SCOPED_TRACE(row.what);
        Case c;
        writeBytes(c.in("a.bin"), row.bytes);
        const QStringList endsAs = row.arrange(c);
        const QStringList log = c.tick();
        for (const QString& name : endsAs)
            EXPECT_EQ(bytesOf(c.out(name)), row.bytes) << text(log);
        if (row.check)
            row.check(c, log);
    }
}

// Without RENAME_NOREPLACE and hard links (exFAT through FUSE) the rename looks before it renames.
TEST(Collisions, WithoutNoReplaceAndHardLinksANameTakenMeanwhileIsNeverReplaced) {
    const QByteArray ours = patternBytes(200'000);
    const QByteArray theirs = patternBytes(300'000).right(100'000);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/stick/";
    QString why;
    const auto stick = ScratchFileSystem::make(Type::Exfat, folder, 64 << 20, &why);
    if (!stick)
        KW_CANNOT_RUN(why.toStdString());
    writeBytes(folder + "from.bin", ours);
    const int fd = ::open(encodeLocal(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    bool linkRefused = false, taken = false;
    int result = -1;
    {
        const QString calls = "renameat,renameat2,linkat,newfstatat,statx";
        TracedCalls tracer(calls, {calls + ":delay_enter=400000"});
        if (!tracer.why().isEmpty())
            KW_CANNOT_RUN(tracer.why().toStdString());
        tracer.onEveryCall([&](const QString& call) {
            if (taken || !call.contains("\"taken.bin\""))
                return;
            if (linkRefused && !call.startsWith("linkat(")) {  // the other program's file appears
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
    EXPECT_TRUE(bytesOf(folder + "taken.bin") == theirs) << "the other program's file replaced";
    EXPECT_TRUE(bytesOf(folder + "from.bin") == ours) << "the file to be renamed lost";
}

TEST(Replacing, AtEveryWritingCallTheOldFileStandsWholeUnderItsName) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("strace attached to the test needs root");
    QTemporaryDir dir;
    const QString path = dir.path() + "/Kopierwart.ini";
    const QByteArray old = patternBytes(300'000);
    const QByteArray fresh = patternBytes(2'000'000).right(400'000);
    ASSERT_EQ(fs::replaceAtomically(path, old), 0);
    const QString calls =
        "openat,creat,write,pwrite64,writev,ftruncate,fsync,fdatasync,rename,"
        "renameat,renameat2";
    QStringList seenHalf;
    int checked = 0;
    bool renamed = false;
    auto tracer = std::make_unique<TracedCalls>(calls, QStringList{calls + ":delay_enter=100000"});
    if (!tracer->why().isEmpty())
        KW_CANNOT_RUN(tracer->why().toStdString());
    tracer->onEveryCall([&](const QString& call) {
        if (renamed)
            return;  // the new file has its name from here on
        ++checked;
        if (bytesOf(path) != old)
            seenHalf.append(call);
        renamed = call.contains("rename");
    });
    EXPECT_EQ(fs::replaceAtomically(path, fresh), 0);
    tracer.reset();  // every call's action has run
    EXPECT_TRUE(renamed) << "no rename seen";
    EXPECT_GE(checked, 3);
    EXPECT_EQ(seenHalf, QStringList()) << "the file was not whole at these calls";
    EXPECT_EQ(bytesOf(path), fresh);
}

}  // namespace
