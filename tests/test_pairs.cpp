// Several watched folders, each with its own destination: every pair's files move once and whole
// into their own destination, whatever the others' destinations do; a pair whose folders clash
// with another's is refused and changes nothing; settings from before pairs stay one pair.
#include "core/folderpairs.h"
#include "platform/textcodec.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "ui/frmpairs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>

using namespace kw;
using namespace kw::test;

namespace {

// Where a further pair's files go.
enum class Goes { Folder, Disk, FullDisk, Stick, FirstDestination, FirstWatched };
// When the stick is pulled: never, before the burst, or inside the first copy onto it.
enum class Pull { Never, BeforeBurst, DuringItsCopy };

struct Burst {
    const char* name;
    QList<Goes> further;  // the destination of each pair beyond the main window's
    Pull pull;
    const char* ends;   // per pair, the main window's first: moves (m), stays (s), partly (p)
    int troubled = -1;  // the pair every problem names
    ProblemKind trouble = ProblemKind::DestinationGone;
};

void PrintTo(const Burst& row, std::ostream* out) {
    *out << row.name;
}

constexpr int kFiles = 30;

QString fileName(int pair, int i) {
    return QStringLiteral("pair%1 file %2.bin").arg(pair).arg(i);
}
QByteArray fileBytes(int pair, int i) {
    return ownBytes(pair * 1000 + i, 70'000 + i);
}

class PairBursts : public ::testing::TestWithParam<Burst> {
protected:
    void SetUp() override {
        pairs.append({rig.source, rig.destination});
        for (int p = 1; p <= GetParam().further.size(); ++p) {
            const Goes goes = GetParam().further[p - 1];
            const QString base = rig.dir.path() + '/' + QString::number(p);
            QString destination = goes == Goes::FirstDestination ? rig.destination
                                  : goes == Goes::FirstWatched   ? rig.source + "Unterordner/"
                                                                 : base + "out/";
            if (goes == Goes::Disk || goes == Goes::FullDisk || goes == Goes::Stick) {
                QString why;
                // The full disk has room for about a third of a burst.
                mounts.push_back(ScratchFileSystem::make(
                    goes == Goes::Stick ? ScratchFileSystem::Type::Exfat
                                        : ScratchFileSystem::Type::Tmpfs,
                    base + "disk", goes == Goes::FullDisk ? 768 << 10 : 32 << 20, &why));
                if (!mounts.back())
                    KW_CANNOT_RUN(why.toStdString());
                destination = base + "disk/Ziel/";
                if (goes == Goes::Stick)
                    stickPair = p, stick = mounts.back().get();
            }
            fs::makePath(base + "in/");
            fs::makePath(destination);
            pairs.append({base + "in/", destination});
            rig.data.Pairs.append(pairs.back());
        }
        QObject::connect(&rig.engine, &ScanEngine::problemsChanged,
                         [this](const Problems& now) { problems = now; });
    }

    bool movedInto(int p, int i, const QByteArray& ends) const {
        return ends[p] == 'm' || (ends[p] == 'p' && !fs::facts(pairs[p].Source + fileName(p, i)));
    }
    // Each file once and whole: in its own destination when its pair moves, else where it was;
    // nothing else in a destination.
    void expectEveryFileOnceAndWhere(const QByteArray& ends) {
        for (int p = 0; p < pairs.size(); ++p) {
            QStringList expected;
            for (int q = 0; q < pairs.size(); ++q)
                for (int i = 0; i < kFiles; ++i)
                    if (pairs[q].Destination == pairs[p].Destination && movedInto(q, i, ends))
                        expected.append(fileName(q, i));
            if (ends[p] == 'p') {
                EXPECT_TRUE(!expected.isEmpty() && expected.size() < kFiles) << expected.size();
            }
            for (int i = 0; i < kFiles; ++i) {
                const QString in = pairs[p].Source + fileName(p, i),
                              out = pairs[p].Destination + fileName(p, i);
                EXPECT_EQ(bytesOf(movedInto(p, i, ends) ? out : in), fileBytes(p, i))
                    << in.toStdString();
                EXPECT_FALSE(fs::facts(movedInto(p, i, ends) ? in : out)) << in.toStdString();
            }
            expected.sort();
            if (!pairs[p].Destination.startsWith(rig.source)) {
                EXPECT_EQ(entriesOf(pairs[p].Destination).filter(".bin"), expected) << p;
            }
        }
    }

    ScanRig rig;
    std::vector<std::unique_ptr<ScratchFileSystem>> mounts;
    QList<FolderPair> pairs;  // the main window's first
    Problems problems;
    int stickPair = -1;
    ScratchFileSystem* stick = nullptr;
};

TEST_P(PairBursts, EveryFileMovesOnceAndWholeIntoItsOwnPairsDestination) {
    const Burst& row = GetParam();
    QStringList log = rig.tick();
    if (row.pull == Pull::BeforeBurst)
        stick->unmount();
    if (row.pull == Pull::DuringItsCopy)
        rig.duringNextCopy([this] { stick->unmount(); });
    for (int p = 0; p < pairs.size(); ++p)
        for (int i = 0; i < kFiles; ++i)
            writeBytes(pairs[p].Source + fileName(p, i), fileBytes(p, i));
    log += rig.ticksUntil(
        [&] {
            for (int p = 0; p < pairs.size(); ++p)
                if (row.ends[p] == 'm' && !entriesOf(pairs[p].Source).filter(".bin").isEmpty())
                    return false;
            return true;
        },
        8);
    expectEveryFileOnceAndWhere(row.ends);
    for (int p = 1; p < pairs.size(); ++p) {
        if (row.ends[p] == 's' && row.pull == Pull::Never) {
            EXPECT_TRUE(log.join('\n').contains("Pair refused: '" + pairs[p].Source)) << p;
        }
    }
    // A destination's trouble is its own pair's alone.
    if (row.troubled >= 0) {
        EXPECT_TRUE(std::any_of(problems.begin(), problems.end(), [&](const Problem& problem) {
            return problem.kind == row.trouble;
        }));
        for (const Problem& problem : std::as_const(problems))
            EXPECT_EQ(problem.pair, pairs[row.troubled].Source);
    }
    if (row.pull == Pull::Never)
        return;
    // The pulled stick's files go once it is back, and a copy cut off there is gone.
    ASSERT_TRUE(stick->mountAgain());
    rig.ticksUntil([this] { return entriesOf(pairs[stickPair].Source).isEmpty(); }, 8);
    expectEveryFileOnceAndWhere(QByteArray(pairs.size(), 'm'));
    EXPECT_TRUE(problems.isEmpty());
}

const Burst kBursts[] = {
    {"ThreeKindsOfDestinationAtOnce", {Goes::Disk, Goes::Stick}, Pull::Never, "mmm"},
    {"StickPulledBeforeTheBurst", {Goes::Stick, Goes::Disk}, Pull::BeforeBurst, "msm", 1},
    {"StickPulledDuringItsCopy", {Goes::Stick, Goes::Disk}, Pull::DuringItsCopy, "msm", 1},
    {"FullDisk", {Goes::FullDisk, Goes::Folder}, Pull::Never, "mpm", 1, ProblemKind::NoSpace},
    {"TwoPairsShareADestination", {Goes::FirstDestination, Goes::Folder}, Pull::Never, "mmm"},
    {"DestinationInAnotherWatchedFolderIsRefused", {Goes::FirstWatched}, Pull::Never, "ms"},
};
INSTANTIATE_TEST_SUITE_P(Pairs, PairBursts, ::testing::ValuesIn(kBursts),
                         [](const auto& info) { return std::string(info.param.name); });

// The real program over a settings folder, its pair editor driven as clicks would.
struct Editing {
    const char* name;
    const char* watched;      // the further pair the editor adds; none: the editor stays closed
    const char* destination;  // "<first>" for a folder inside the main window's watched folder
    bool cancel;
    bool stored;                   // the pair ends up in the list file and moves its file
    bool withPairGivenUp = false;  // the list file also holds a pair whose folder cannot be made
};

void PrintTo(const Editing& row, std::ostream* out) {
    *out << row.name;
}

class PairEditor : public ::testing::TestWithParam<Editing> {};

TEST_P(PairEditor, StoresAPairOnlyWhenItBreaksNoRuleAndOnlyThen) {
    apptest::FoldersRig rig({"main.bin"});
    const Editing& row = GetParam();
    const QString pairFile = rig.dataFolder + "Kopierwart.Pairlst";
    FolderPair added;
    if (row.watched) {
        added = {rig.folder(decodeLocal(row.watched)),
                 qstrcmp(row.destination, "<first>") == 0
                     ? rig.source + "Unterordner/"
                     : rig.folder(decodeLocal(row.destination))};
        fs::makePath(added.Destination);
    }
    QList<FolderPair> kept;  // what the list file holds besides the added pair
    if (row.withPairGivenUp) {
        writeBytes(rig.dataFolder + "Datei", "");
        kept = {{rig.dataFolder + "Datei/Upload/", rig.folder("Ziel nie")}};
        ASSERT_EQ(SaveFolderPairs(kept, pairFile), 0);
    }
    rig.start();
    ASSERT_TRUE(waitUntil([&] { return fs::facts(rig.destination + "main.bin").has_value(); }));
    ASSERT_TRUE(waitUntil([&] { return rig.program->data().PairsGivenUp == kept; }));
    if (row.watched) {
        rig.control<QPushButton>("ButPairs")->click();
        FrmPairs* editor = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            editor = editor ? editor : qobject_cast<FrmPairs*>(window);
        ASSERT_TRUE(editor && editor->isVisible());
        const size_t messages = rig.desktop.messages.size();
        EXPECT_EQ(editor->addPair(added), row.stored || row.cancel);
        EXPECT_EQ(rig.desktop.messages.size(), messages + (row.stored || row.cancel ? 0 : 1));
        row.cancel ? editor->ButCancel_Click() : editor->ButOK_Click();
        EXPECT_TRUE(rig.program->window().isVisible());
    }
    if (!row.stored) {
        // A settings folder from before pairs, or an edit that changed nothing, keeps one pair
        // and no pair file.
        EXPECT_FALSE(fs::facts(pairFile)) << "a pair file was written";
        EXPECT_TRUE(rig.program->data().Pairs.isEmpty());
        return;
    }
    const QByteArray stored = bytesOf(pairFile);
    EXPECT_TRUE(stored.startsWith(encodeLocal(added.Source) + '\0' +
                                  encodeLocal(added.Destination) + "\r\n"))
        << stored.toStdString();
    fs::replaceAtomically(added.Source + "further.bin", "further");
    rig.program->engine().butGoTimer_Click();
    EXPECT_TRUE(waitUntil([&] { return bytesOf(added.Destination + "further.bin") == "further"; }));
    EXPECT_EQ(LoadFolderPairs(pairFile), QList<FolderPair>{added} + kept);
    // Names Qt cannot spell are removed by their bytes.
    fs::removeFile(added.Destination + "further.bin");
    for (const QString& folder : {added.Source, added.Destination})
        ::rmdir(encodeLocal(folder).constData());
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PairEditor,
    ::testing::Values(
        Editing{"SettingsFromBeforePairsStayOnePair", nullptr, nullptr, false, false},
        Editing{"AddedPairWithNonUtf8NameIsStoredAndMoves", "Upload \xff", "Ziel \xfe", false,
                true},
        Editing{"DestinationInTheMainWatchedFolderIsRefused", "Upload 2", "<first>", false, false},
        Editing{"CancelKeepsThePairsAsTheyWere", "Upload 2", "Ziel 2", true, false},
        Editing{"APairGivenUpInThisRunStaysInTheFile", "Upload 3", "Ziel 3", false, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
