#include "tests/program_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

using namespace kw;
using namespace kw::apptest;

TEST(MainWindow, CopiesMadeAtStartAndByScanNowShowInCaptionAndListAndTheIntervalIsSet) {
    FoldersRig rig({"b.bin", "a.bin"});
    Program& program = rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_TRUE(waitUntil([&] { return list->count() == 2; }));
    EXPECT_EQ(list->item(0)->text(), rig.destination + "a.bin");
    fs::replaceAtomically(rig.source + "c.bin", "third");
    rig.control<QPushButton>("butGoTimer")->click();
    ASSERT_TRUE(waitUntil([&] { return list->count() == 3; }));
    EXPECT_TRUE(rig.control<QGroupBox>("Frame")->title().startsWith("3 Gesicherte Dateien ("));
    EXPECT_EQ(bytesOf(rig.destination + "c.bin"), "third");

    rig.control<QScrollBar>("HScroll")->setValue(60);
    EXPECT_EQ(program.engine().Timer().interval(), 60000);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "60");
}

// "Löschen" asks first, naming the file as plain text, and deletes only on "Ja" and only a file
// still standing under the name; the line goes once the name is free.
TEST(DeleteAnswer, KeepsTheLineWhileSomethingStillStandsUnderTheNameAndDropsItWhenTheNameIsFree) {
    const QString html = "<b>movie<i> &amp;.avi";
    FoldersRig rig({html, "kept.bin", "gone.bin"});
    Program& program = rig.start(true);
    program.window().showNormal();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_TRUE(waitUntil([&] { return list->count() == 3; }));
    const QString moved = rig.destination + html;
    const QString gone = rig.destination + "gone.bin", kept = rig.destination + "kept.bin";
    // Since the copy, a folder took one name and the other file was deleted elsewhere.
    ASSERT_EQ(fs::removeFile(kept), 0);
    ASSERT_EQ(fs::makePath(kept), 0);
    ASSERT_EQ(fs::removeFile(gone), 0);
    QString question;
    const auto deleteLine = [&](const QString& path, QMessageBox::StandardButton press) {
        list->setCurrentItem(list->findItems(path, Qt::MatchExactly).value(0));
        test::onNextModal<QMessageBox>([&question, press](QMessageBox* box) {
            question = box->textFormat() == Qt::PlainText ? box->text() : QString();
            box->button(press)->click();
        });
        program.window().mnuDelete_Click();
    };

    deleteLine(moved, QMessageBox::No);
    EXPECT_TRUE(question.contains("\r\n" + moved + "\r\n"));
    EXPECT_TRUE(fs::facts(moved));
    deleteLine(moved, QMessageBox::Yes);
    EXPECT_FALSE(fs::facts(moved));
    deleteLine(kept, QMessageBox::Yes);
    EXPECT_TRUE(fs::isDirectory(kept));
    EXPECT_TRUE(logLines(rig.log()).last().startsWith("Error deleting '" + kept + "': "));
    deleteLine(gone, QMessageBox::Yes);
    EXPECT_EQ(program.engine().LBfiles(), QStringList{kept});
    EXPECT_EQ(list->count(), 1);
}

// A burst of copies reaches the list in batches, each in the place one insert after the other
// gives it: alphabetical without regard to case, the later of two equal-looking paths first.
TEST(MainWindow, ABurstOfCopiesEndsUpInTheListAsTheEngineHasIt) {
    ProgramRig rig;
    Program& program = rig.start();
    program.window().showNormal();
    auto* list = rig.control<QListWidget>("LBfiles");
    QStringList& engineList = program.engine().LBfiles();
    const auto caseLess = [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    };
    // As the engine adds a copy, then the window's events run.
    const auto copied = [&](const QString& path) {
        const auto at = std::lower_bound(engineList.begin(), engineList.end(), path, caseLess);
        const int row = int(at - engineList.begin());
        engineList.insert(row, path);
        Q_EMIT program.engine().copiedFileAdded(row, path);
        QCoreApplication::processEvents();
    };
    const int files = 50'000;
    QElapsedTimer took;
    took.start();
    for (int i = 0; i < files; ++i)
        copied(QStringLiteral("/ziel/Datei %1.bin").arg((i * 7919) % files));
    for (const char* name : {"/ziel/datei 7.BIN", "/ziel/DATEI 7.bin", "/ziel/0"})
        copied(QString::fromLatin1(name));
    ASSERT_TRUE(waitUntil([&] { return list->count() == engineList.size(); }, 120'000));
    std::printf("%d copies into the shown list: %lld ms\n", files + 3,
                static_cast<long long>(took.elapsed()));
    EXPECT_EQ(itemTexts(list), engineList);
    EXPECT_EQ(list->item(0)->text(), "/ziel/0");
}
