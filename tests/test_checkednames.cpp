// A name is deleted or taken only while it still names the very file that was checked, unchanged,
// and only once its copy is known to stand under its own name with its register line written.
// Each case runs the real engine over real files while a second process interferes at the
// worst moment: inside a copy, between the copy and the deletion, while the rename that moves a
// file waits, between the check that the destination is there and the copy's name, at the
// deletion. Whatever the interference, the bytes a program last put under the name are never
// deleted, and a file is never counted as moved when it was not.
#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>

using namespace kw;
using namespace kw::test;

namespace {

constexpr qint64 kSize = 3'000'000;  // three chunks: a case acts in between

// One engine over one file "a.bin" with whatever the case needs around it.
struct Case : ScanRig {
    std::unique_ptr<ScratchFileSystem> watchedFs;      // the watched folder on exFAT
    std::unique_ptr<ScratchFileSystem> destinationFs;  // the destination on a tmpfs: moves copy
    std::optional<WithoutLeaseCapability> noLease;
    std::unique_ptr<TracedCalls> tracer;
    std::atomic<bool> done{false};  // the interference has happened
    std::atomic<pid_t> holder{-1};  // a program holding the file open for writing
    QByteArray registerAtDeletion;
    QByteArray original = patternBytes(kSize);
    QByteArray changed = [this] {
        QByteArray bytes = original;
        bytes.replace(0, 12, "second bytes");
        return bytes;
    }();
    ~Case() {
        tracer.reset();
        endProgram(holder);
    }
    QString staged() const { return dir.path() + "/staged"; }
    // A second program puts the changed bytes under the name: rewritten in place with bytes of
    // the same size, as a P2P program fills a file it made at full size, or saved over it as a new
    // file renamed onto the name, as editors and downloaders do.
    void rewriteInPlace() {
        putChanged({"dd", "if=" + staged(), "of=" + in("a.bin"), "conv=notrunc", "status=none"});
    }
    void saveOver() { putChanged({"mv", staged(), in("a.bin")}); }
    void putChanged(const QStringList& program) {
        writeBytes(staged(), changed);
        EXPECT_EQ(runToEnd(program), 0);
    }
    // A second program opens the file for writing and keeps it open, writing nothing yet.
    void openForWriting() {
        holder = holdOpenForWriting(in("a.bin"));
        EXPECT_GT(holder, 0) << "the writer did not get the file open";
    }
    // The interference comes right after the next copy's first chunk.
    bool inCopy(std::function<void()> interference) {
        duringNextCopy([this, interference] { interference(), done = true; });
        return true;
    }
    // The interference comes while strace holds back the first of calls whose text holds text;
    // false when strace cannot trace here.
    bool atCall(const QString& calls, int delayUs, const QString& text,
                std::function<void()> interference) {
        tracer = std::make_unique<TracedCalls>(
            calls, QStringList{calls + ":delay_enter=" + QString::number(delayUs)});
        tracer->onCall(text, [this, interference] { interference(), done = true; });
        return tracer->why().isEmpty();
    }
    // Whether bytes stand whole under some name of either folder.
    bool wholeSomewhere(const QByteArray& bytes) const {
        for (const QString& folder : {source, destination}) {
            for (const QString& name : entriesOf(folder)) {
                if (bytesOf(folder + name) == bytes)
                    return true;
            }
        }
        return false;
    }
};

enum class Where { OneFileSystem, DestinationOnTmpfs, WatchedOnExfat };

struct Interference {
    const char* what;
    Where where;
    bool leased;  // false: a file of another user with CAP_LEASE lowered, which gets no lease
    // Sets up the interference; false when this machine cannot do it.
    std::function<bool(Case&)> arrange;
    // Checks the outcome after the tick in which the interference came.
    std::function<void(Case&, const QStringList& log)> check;
};

// The file with its last bytes stays under its name in the watched folder.
void stays(Case& c, const QByteArray& bytes, const QStringList& log) {
    EXPECT_EQ(bytesOf(c.in("a.bin")), bytes) << log.join('\n').toStdString();
    EXPECT_TRUE(log.filter(QRegularExpression("^Move ")).isEmpty()) << log.join('\n').toStdString();
}

const std::vector<Interference>& interferences() {
    static const std::vector<Interference> table = {
        {"a same-size rewrite in place during the copy of a file without a lease",
         Where::DestinationOnTmpfs, false,
         [](Case& c) { return c.inCopy([&c] { c.rewriteInPlace(); }); },
         [](Case& c, const QStringList& log) { stays(c, c.changed, log); }},
        {"the same, the modification time then set back by the writer", Where::DestinationOnTmpfs,
         false,
         [](Case& c) {
             return c.inCopy([&c] {
                 struct stat st {};
                 ::stat(encodeLocal(c.in("a.bin")).constData(), &st);
                 c.rewriteInPlace();
                 EXPECT_EQ(runToEnd({"touch", "-m", "-d",
                                     QStringLiteral("@%1.%2")
                                         .arg(st.st_mtim.tv_sec)
                                         .arg(st.st_mtim.tv_nsec, 9, 10, QLatin1Char('0')),
                                     c.in("a.bin")}),
                           0);
             });
         },
         [](Case& c, const QStringList& log) { stays(c, c.changed, log); }},
        {"a program opening the leased file for writing while a multi-chunk copy runs",
         Where::DestinationOnTmpfs, true,
         [](Case& c) { return c.inCopy([&c] { c.openForWriting(); }); },
         [](Case& c, const QStringList& log) { stays(c, c.original, log); }},
        {"the same for a user's own file without CAP_LEASE, as an ordinary user runs it",
         Where::DestinationOnTmpfs, true,
         [](Case& c) {
             c.noLease.emplace();
             return c.inCopy([&c] { c.openForWriting(); }) && c.noLease->active();
         },
         [](Case& c, const QStringList& log) { stays(c, c.original, log); }},
        {"a file saved over the name between the copy and the deletion on exFAT through FUSE",
         Where::WatchedOnExfat, true,
         [](Case& c) {
             c.data.My.SoundFile = "copy.wav";  // played between the copy and the deletion
             c.desktop.onPlaySound = [&c] { c.saveOver(), c.done = true; };
             return true;
         },
         [](Case& c, const QStringList& log) { stays(c, c.changed, log); }},
        {"a file renamed onto the name while the rename that moves it waits", Where::OneFileSystem,
         true,
         [](Case& c) {
             return c.atCall("renameat2", 800'000, "\"a.bin\"", [&c] { c.saveOver(); });
         },
         [](Case& c, const QStringList& log) { stays(c, c.changed, log); }},
        {"a program opening the file for writing while the rename that moves it waits",
         Where::OneFileSystem, true,
         [](Case& c) {
             return c.atCall("renameat2", 800'000, "\"a.bin\"", [&c] { c.openForWriting(); });
         },
         [](Case& c, const QStringList& log) { stays(c, c.original, log); }},
        {"a shorter file in the destination that is the source's beginning", Where::OneFileSystem,
         true,
         [](Case& c) {
             writeBytes(c.out("a.bin"), c.original.left(kSize - 1'000'000));
             c.done = true;
             return true;
         },
         [](Case& c, const QStringList& log) {
             EXPECT_TRUE(c.wholeSomewhere(c.original)) << log.join('\n').toStdString();
             EXPECT_EQ(bytesOf(c.out("a.bin")), c.original.left(kSize - 1'000'000));
         }},
        {"the destination's stick unmounted between the check that it is there and the copy's "
         "name",
         Where::DestinationOnTmpfs, true,
         [](Case& c) {
             return c.atCall("syncfs", 800'000, "syncfs(", [&c] { c.destinationFs->unmount(); });
         },
         [](Case& c, const QStringList& log) { stays(c, c.original, log); }},
        {"the deletion of a copied source, which comes after its register line",
         Where::DestinationOnTmpfs, true,
         [](Case& c) {
             return c.atCall("unlink,unlinkat", 300'000, "\"a.bin\"",
                             [&c] { c.registerAtDeletion = bytesOf(c.data.My.CopyListFile); });
         },
         [](Case& c, const QStringList& log) {
             EXPECT_FALSE(fs::facts(c.in("a.bin"))) << log.join('\n').toStdString();
             EXPECT_EQ(bytesOf(c.out("a.bin")), c.original);
             EXPECT_TRUE(c.registerAtDeletion.contains(encodeLocal(c.in("a.bin")) + '\0'))
                 << "the source was deleted before its register line was written";
         }},
    };
    return table;
}

TEST(CheckedNames, NoInterferenceEverLetsANameGoThatNoLongerNamesTheCheckedFile) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts, other users' files and strace need root");
    for (const Interference& row : interferences()) {
        SCOPED_TRACE(row.what);
        Case c;
        QString why;
        if (row.where == Where::DestinationOnTmpfs)
            c.destinationFs = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, c.destination,
                                                      64 << 20, &why);
        if (row.where == Where::WatchedOnExfat)
            c.watchedFs =
                ScratchFileSystem::make(ScratchFileSystem::Type::Exfat, c.source, 64 << 20, &why);
        if (row.where != Where::OneFileSystem && !c.destinationFs && !c.watchedFs) {
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
        ASSERT_TRUE(c.done) << "the interference never came: " << log.join('\n').toStdString();
        row.check(c, log);
    }
}

}  // namespace
