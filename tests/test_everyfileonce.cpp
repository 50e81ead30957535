// Every file once and whole, every refusal said once; each row sets up, is refused, is freed.
#include "core/files.h"
#include "core/problems.h"
#include "platform/textcodec.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"
#include "ui/problemnotifier.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

using namespace kw;
using namespace kw::test;
using Type = ScratchFileSystem::Type;

namespace {

QByteArray digestOf(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// The refusals the quota stand-in has made, when it is loaded.
int* quotaRefusals() {
    return static_cast<int*>(::dlsym(RTLD_DEFAULT, "kw_quota_refusals"));
}

class Rig;

struct Row {
    const char* name;
    Type disk = Type::Tmpfs;  // the destination's file system
    qint64 diskBytes = 32 << 20;
    // Puts the files in place; false, with why, where it cannot be done here.
    std::function<bool(Rig&, QString* why)> setUp;
    int ticks = 3;                           // while the refusal stands
    QString line;                            // part of the one log line the row must say once
    QString title;                           // the notification that must start once
    std::function<void(Rig&)> relieve = {};  // frees the destination; then every file moves
    bool allMove = false;                    // every file moves while the rig ticks
    std::function<void(Rig&)> judge = {};    // what only this row shows
};

class Rig : public ::testing::TestWithParam<Row>, public ScanRig {
public:
    ~Rig() override { ::unsetenv("KW_TEST_QUOTA_FULL"); }

    struct Waiting {
        QByteArray digest;
        qint64 data = 0;
        QString sameAs;  // a second name of that file
    };

    void put(const QString& name, const QByteArray& bytes) {
        writeBytes(in(name), bytes);
        noteWaiting(name);
    }
    void noteWaiting(const QString& name, const QString& sameAs = {}) {
        const struct stat st = statOf(in(name));
        files[name] = {digestOf(in(name)), std::min<qint64>(st.st_size, st.st_blocks * 512),
                       sameAs};
    }
    // A file with a second name; oneFile: the copy keeps them one file, else its data counts twice.
    bool twoNames(bool oneFile) {
        put("first name.bin", patternBytes(3'000'000));
        const bool linked = ::link(encodeLocal(in("first name.bin")).constData(),
                                   encodeLocal(in("second name.bin")).constData()) == 0;
        noteWaiting("second name.bin", oneFile ? "first name.bin" : "");
        return linked;
    }
    QString backup(const QString& name) const { return data.My.Destination + name; }
    bool allMoved() const {
        return std::none_of(files.begin(), files.end(),
                            [this](const auto& file) { return fs::facts(in(file.first)); });
    }

    std::map<QString, Waiting> files;
    QStringList elsewhere;  // folders where a waiting file may end up besides the watched one
    std::unique_ptr<TracedCalls> trace;
    std::unique_ptr<ScratchFileSystem> disk;
};

// How many times a notification of title started, as the engine's problem sets come.
int startsOf(const QSignalSpy& problems, const QString& title) {
    int starts = 0;
    std::set<ProblemKind> before;
    for (const QList<QVariant>& emitted : problems) {
        std::set<ProblemKind> now;
        for (const Problem& problem : emitted.at(0).value<Problems>())
            now.insert(problem.kind);
        for (ProblemKind kind : now)
            starts += !before.count(kind) && ProblemTitle(kind) == title;
        before = now;
    }
    return starts;
}

TEST_P(Rig, EveryFileEndsOnceAndWholeAndEachRefusalIsSaidOnce) {
    const Row& row = GetParam();
    QString why;
    if (!(disk = stick(row.disk, "disk", row.diskBytes, &why)) || !row.setUp(*this, &why))
        KW_CANNOT_RUN(why.toStdString());
    QSignalSpy problems(&engine, &ScanEngine::problemsChanged);

    QStringList lines;
    for (int i = 0; i < row.ticks; ++i)
        lines += tick();
    if (row.relieve) {
        row.relieve(*this);
        lines += ticksUntil([&] { return allMoved(); }, 8);
    }

    const std::string all = text(lines);
    qint64 dataBytes = 0, taken = 0;
    std::set<ino_t> counted;
    for (const auto& [name, file] : files) {
        QStringList whole;
        for (const QString& folder : QStringList{source, data.My.Destination} + elsewhere)
            if (fs::facts(folder + name) && digestOf(folder + name) == file.digest)
                whole.append(folder);
        EXPECT_EQ(whole.size(), 1) << name.toStdString() << " in " << text(whole) << "\n" << all;
        if (file.sameAs.isEmpty())
            dataBytes += file.data;
        const struct stat copy = statOf(backup(name));
        if (copy.st_ino && counted.insert(copy.st_ino).second)
            taken += qint64(copy.st_blocks) * 512;
    }
    EXPECT_TRUE(entriesOf(data.My.Destination).filter(".Kopierwart-").isEmpty());
    // A block's slack for each file, no more: holes stay holes, a second name takes none.
    EXPECT_LE(taken, dataBytes + qint64(files.size()) * 64 * 1024) << "bytes taken for data";
    EXPECT_TRUE(row.line.isEmpty() || lines.filter(row.line).size() == 1) << all;
    EXPECT_LE(lines.filter("CopyError").size(), 1) << all;
    EXPECT_TRUE(row.title.isEmpty() || startsOf(problems, row.title) == 1) << "notified";
    EXPECT_TRUE(!(row.allMove || row.relieve) || allMoved()) << all;
    if (row.judge)
        row.judge(*this);
}

const Row kRows[] = {
    {.name = "HolesStayHoles",
     .diskBytes = 64 << 20,
     .setUp =
         [](Rig& r, QString* why) {
             // 256 MiB of which 1 MiB is data, onto 64 MiB: its data fits, its size would not.
             const QString path = r.in("sparse.bin");
             writeBytes(path, patternBytes(64 * 1024));
             const int fd = ::open(encodeLocal(path).constData(), O_WRONLY);
             const QByteArray middle = patternBytes(1 << 20);
             const bool made = fd >= 0 &&
                               ::pwrite(fd, middle.constData(), size_t(middle.size()), 100 << 20) ==
                                   middle.size() &&
                               ::ftruncate(fd, 256 << 20) == 0;
             ::close(fd);
             r.noteWaiting("sparse.bin");
             if (made && r.files["sparse.bin"].data >= (8 << 20))
                 *why = "the watched folder's file system keeps no holes";
             return made && why->isEmpty();
         },
     .ticks = 1,
     .line = "Copy ",
     .allMove = true},
    {.name = "AUserQuotaIsTriedAgainWhenTheDestinationChangesNotEveryTick",
     .setUp =
         [](Rig& r, QString* why) {
             if (!quotaRefusals()) {
                 *why = "the quota stand-in is not loaded (LD_PRELOAD)";
                 return false;
             }
             writeBytes(r.backup("old.bin"), patternBytes(2 << 20));
             for (int i = 0; i < 3; ++i)
                 r.put(QString("q%1.bin").arg(i), ownBytes(i, 2'000'000));
             *quotaRefusals() = 0;
             ::setenv("KW_TEST_QUOTA_FULL", encodeLocal(r.data.My.Destination).constData(), 1);
             return true;
         },
     .ticks = 4,
     .line = "the disk quota on the destination is used up",
     .title = "Kontingent erschöpft",
     .relieve =
         [](Rig& r) {
             EXPECT_LE(*quotaRefusals(), 3);  // once for each file while nothing changed
             ::unsetenv("KW_TEST_QUOTA_FULL");
             fs::removeFile(r.backup("old.bin"));
         }},
    {.name = "AFileSystemOutOfEntriesIsSaidOnceAndUsedWhenEntriesAreFreed",
     .disk = Type::Ext4,
     .diskBytes = 16 << 20,
     .setUp =
         [](Rig& r, QString*) {
             runToEnd({"sh", "-c",
                       "i=0; while true 2>/dev/null >\"$0filler $i\"; do i=$((i+1)); done",
                       r.data.My.Destination});  // every file entry taken
             for (int i = 0; i < 5; ++i)
                 r.put(QString("e%1.bin").arg(i), ownBytes(i, 100'000));
             return true;
         },
     .line = "no free file entries (inodes) left",
     .title = "Keine freien Dateieinträge",
     .relieve =
         [](Rig& r) {
             for (int i = 0; i < 10; ++i)
                 fs::removeFile(r.backup(QString("filler %1").arg(i)));
         }},
    {.name = "NamesOfOneFileArriveAsNamesOfOneFile",
     .setUp = [](Rig& r, QString*) { return r.twoNames(true); },
     .ticks = 1,
     .allMove = true,
     .judge =
         [](Rig& r) {
             const struct stat first = statOf(r.backup("first name.bin"));
             const struct stat second = statOf(r.backup("second name.bin"));
             EXPECT_NE(first.st_ino, 0u);
             EXPECT_EQ(first.st_ino, second.st_ino) << "two files where one had two names";
             EXPECT_EQ(first.st_nlink, 2u);
         }},
    {.name = "WhereTheDestinationKeepsNoLinksEachNameIsCopiedAndThatIsSaidOnce",
     .disk = Type::Exfat,
     .diskBytes = 32 << 20,
     .setUp = [](Rig& r, QString*) { return r.twoNames(false); },
     .ticks = 1,
     .line = "keeps no second names of a file",
     .allMove = true},
    {.name = "AWatchedFolderRenamedDuringACopyKeepsEveryFileOnce",
     .setUp =
         [](Rig& r, QString*) {
             r.put("big.bin", patternBytes(3'000'000));
             r.put("small.bin", "small");
             const QString moved = r.dir.path() + "/in-moved/";
             r.elsewhere = {moved};
             r.duringNextCopy([&r, moved] {
                 ASSERT_EQ(
                     ::rename(encodeLocal(r.source).constData(), encodeLocal(moved).constData()),
                     0);
                 fs::makePath(r.source);
             });
             return true;
         },
     .ticks = 2,
     .line = "Pass stopped: "},
    {.name = "AMovedFilesDeletionIsFlushedBeforeThePassEnds",
     .setUp =
         [](Rig& r, QString* why) {
             r.put("flushed.bin", patternBytes(100'000));
             r.trace = std::make_unique<TracedCalls>("unlinkat,fsync", QStringList{});
             *why = r.trace->why();
             return why->isEmpty();
         },
     .ticks = 1,
     .allMove = true,
     .judge =
         [](Rig& r) {
             // The deletion's folder, by its descriptor, is flushed after the deletion. strace
             // prints from its own process, so its last lines may still be on their way.
             QString folder;
             const auto flushed = [&r, &folder] {
                 bool flushedSince = false;
                 for (const QString& call : r.trace->calls()) {
                     if (call.startsWith("unlinkat(") && call.contains("\"flushed.bin\""))
                         folder = call.section('(', 1).section(',', 0, 0), flushedSince = false;
                     else if (!folder.isEmpty() && call.startsWith("fsync(" + folder + ")"))
                         flushedSince = true;
                 }
                 return flushedSince;
             };
             EXPECT_TRUE(waitUntil(flushed, 5000))
                 << "deleted in " << folder.toStdString() << "\n"
                 << text(r.trace->calls());
         }},
};

INSTANTIATE_TEST_SUITE_P(EveryFileOnce, Rig, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Two engines on one watched folder, as two users' programs.
TEST(TwoPrograms, OnOneSharedFolderMoveEachFileOnceAndSayNothingOfTheOthersFiles) {
    ScanRig rigs[2];
    for (ScanRig& rig : rigs)
        if (!rig.destinationOnOtherFileSystem())
            KW_CANNOT_RUN("no second file system for the destinations");
    rigs[1].source = rigs[1].data.My.Source = rigs[0].source;
    const QString watched = rigs[0].source;
    std::map<QString, QByteArray> files;
    for (int i = 0; i < 200; ++i) {
        const QString name = QString("geteilt %1.bin").arg(i);
        writeBytes(watched + name, files[name] = ownBytes(i, 200'000));
    }
    // A third holder of one file's lock, as a program moving it would be.
    const QString held = watched + "geteilt 0.bin";
    const pid_t holder =
        startProgram({"sh", "-c", "exec 9<\"$0\" && flock -x 9 && exec sleep 600", held});
    ASSERT_TRUE(waitUntil([&] { return runToEnd({"flock", "-n", "-x", held, "true"}) == 1; }));
    QStringList lines;
    const auto ticks = [&](int count) {
        for (int i = 0; i < count; ++i) {
            for (ScanRig& rig : rigs)
                rig.engine.Timer_Timer();
            waitUntil([&] { return !rigs[0].engine.ScanBusy() && !rigs[1].engine.ScanBusy(); },
                      600'000);
            for (ScanRig& rig : rigs)
                lines += rig.takeLog();
        }
    };
    ticks(3);
    EXPECT_EQ(entriesOf(watched), QStringList{"geteilt 0.bin"});
    EXPECT_LE(lines.filter("geteilt 0.bin").size(), 2) << text(lines.filter("geteilt 0.bin"));
    endProgram(holder);
    ticks(1);
    for (const auto& [name, bytes] : files) {
        int whole = 0;
        for (const QString& folder : {watched, rigs[0].destination, rigs[1].destination})
            whole += fs::facts(folder + name) && bytesOf(folder + name) == bytes;
        EXPECT_EQ(whole, 1) << name.toStdString();
        // Its copy and its deletion, by one program; each program may say once that it waits.
        QStringList said = lines.filter(name);
        said.removeIf([](const QString& line) { return line.contains("held still"); });
        EXPECT_LE(said.size(), 2) << text(said);
    }
    EXPECT_TRUE(lines.filter("Source dont't exist").isEmpty()) << text(lines);
}

class Cycle : public ::testing::Test, public ScanRig {};

// Hidden and read-only files move with their names' bytes; folders, FIFOs and links stay.
TEST_F(Cycle, NewFilesAreMovedWithTheirNamesUnchangedRecordedAndCounted) {
    data.TaskList.reset();  // a task list without entries ends the tick without TimerError
    const QString latin1 = decodeLocal("caf\xe9.bin");
    const QString shelly = "a b;$(x)'\".txt";
    for (const QString& name : {latin1, shelly, QString(".hidden")})
        writeBytes(in(name), encodeLocal(name));
    fs::makePath(in("sub/"));
    makeFile(in("readonly.txt"), "readonly.txt", 0444);
    ::mkfifo(encodeLocal(in("fifo")).constData(), 0644);
    QFile::link("readonly.txt", in("link.txt"));
    const QByteArray bytes = patternBytes(1'048'576);
    writeBytes(in("movie.avi"), bytes);
    EXPECT_EQ(tick().count(moveLine("movie.avi")), 1);
    EXPECT_EQ(entriesOf(source), (QStringList{"fifo", "link.txt", "sub"}));
    EXPECT_EQ(bytesOf(out("movie.avi")), bytes);
    EXPECT_EQ(bytesOf(out(latin1)), "caf\xe9.bin");
    EXPECT_EQ(bytesOf(out(shelly)), shelly.toUtf8());
    ASSERT_EQ(data.CopiedFiles.keys(), LoadListFile(data.My.CopyListFile));
    EXPECT_EQ(bytesOf(out("readonly.txt")), "readonly.txt");
    EXPECT_EQ(data.My.SavedFileCount, 5);
}

TEST_F(Cycle, AFileClosedInTheWatchedFolderMovesLongBeforeTheInterval) {
    data.My.ScanInterval = 60;
    tick();
    engine.Timer().start(60'000);
    ASSERT_EQ(runToEnd({"sh", "-c", "printf angekommen >\"$0\"", in("neu.txt")}), 0);
    EXPECT_TRUE(waitUntil([&] { return !fs::facts(in("neu.txt")); }, 20'000));
    EXPECT_EQ(bytesOf(out("neu.txt")), "angekommen");
}

TEST_F(Cycle, BlockedFilesStayAndRegisteredOnesWithTheirCopyInPlaceAreDeleted) {
    data.BlockedExtensions = QStringList{"avi", ""};  // "" blocks names without extension
    for (const char* name : {"a.AVI", "README", "a.avi.txt"})
        writeBytes(in(name), "bytes");
    writeBytes(out("a.avi.txt"), "bytes");
    data.CopiedFiles =
        CopyRegister(QStringList{CopyKey(in("a.avi.txt"), 5, GetFileDate(in("a.avi.txt")))});
    EXPECT_EQ(tick(), QStringList{deletedLine("a.avi.txt")});
    EXPECT_EQ(entriesOf(source), (QStringList{"README", "a.AVI"}));
    EXPECT_EQ(entriesOf(destination), QStringList{"a.avi.txt"});
}

}  // namespace
