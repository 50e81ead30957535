#include "tests/program_rig.h"
#include "ui/hyperlinks.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>

using namespace kw;
using namespace kw::apptest;

namespace {

// A program whose two folders are set and usable, with the given files waiting in the watched
// folder when it starts.
struct FoldersRig : ProgramRig {
    explicit FoldersRig(const QStringList& waiting) {
        setting("Source", source);
        setting("Destination", destination);
        for (const QString& name : waiting)
            fs::replaceAtomically(source + name, "content of " + name.toUtf8());
    }
    QString source = folder("watched");
    QString destination = folder("moved");
};

void hover(QListWidget* list, int row) {
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    const QPoint pos = row < list->count() ? list->visualItemRect(list->item(row)).center()
                                           : QPoint(last.center().x(), last.bottom() + 5);
    QMouseEvent move(QEvent::MouseMove, pos, list->viewport()->mapToGlobal(pos), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &move);
}

}  // namespace

TEST(MainWindow, CopiesMadeAtStartAndByScanNowShowInCaptionAndList) {
    FoldersRig rig({"b.bin", "a.bin"});
    rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), rig.destination + "a.bin");
    EXPECT_EQ(ReadIniValue(rig.ini(), "Fl", "Fl"), "2");

    fs::replaceAtomically(rig.source + "c.bin", "third");
    rig.control<QPushButton>("butGoTimer")->click();
    ASSERT_TRUE(waitUntil([&] { return list->count() == 3; }));
    EXPECT_TRUE(rig.control<QGroupBox>("Frame")->title().startsWith("3 Gesicherte Dateien ("));
    EXPECT_EQ(bytesOf(rig.destination + "c.bin"), "third");
    EXPECT_FALSE(fs::facts(rig.source + "c.bin"));
}

TEST(MainWindow, IntervalScrollBarRestartsTheTimerAndWritesTheSetting) {
    ProgramRig rig;
    Program& program = rig.start();
    auto* scroll = rig.control<QScrollBar>("HScroll");
    scroll->setValue(60);
    EXPECT_EQ(program.engine().Timer().interval(), 60000);
    EXPECT_TRUE(program.engine().Timer().isActive());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "60");
    scroll->setValue(1000);  // beyond the range: stays at 60
    EXPECT_EQ(program.data().My.ScanInterval, 60);
}

TEST(DeleteQuestion, DeletesOnlyOnYesNamesTheFileAsPlainTextAndShowsTheWindowAgain) {
    for (const auto press : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Yes}) {
        const QString name = "<b>movie<i> &amp;.avi";
        FoldersRig rig({name});
        Program& program = rig.start(true);
        program.window().showNormal();
        auto* list = rig.control<QListWidget>("LBfiles");
        ASSERT_EQ(list->count(), 1);
        const QString moved = rig.destination + name;
        hover(list, 0);

        bool windowHidden = false;
        QString question;
        test::onNextModal<QMessageBox>([&](QMessageBox* box) {
            windowHidden = !program.window().isVisible();
            question = box->textFormat() == Qt::PlainText ? box->text() : QString();
            box->button(press)->click();
        });
        program.window().mnuDelete_Click();

        EXPECT_TRUE(windowHidden);
        EXPECT_TRUE(question.contains("\r\n" + moved + "\r\n")) << question.toStdString();
        EXPECT_TRUE(program.window().isVisible());
        const bool yes = press == QMessageBox::Yes;
        EXPECT_EQ(fs::facts(moved).has_value(), !yes);
        EXPECT_EQ(program.engine().LBfiles().size(), yes ? 0 : 1);
        EXPECT_EQ(list->count(), program.engine().LBfiles().size());
        // Removing the line forgets the file but never deletes it.
        if (!yes) {
            program.window().mnuRemove_Click();
            EXPECT_EQ(list->count(), 0);
            EXPECT_TRUE(fs::facts(moved));
        }
    }
}

TEST(DeleteAnswer, KeepsTheLineWhileSomethingStillStandsUnderTheNameAndDropsItWhenTheNameIsFree) {
    FoldersRig rig({"kept.bin", "gone.bin"});
    Program& program = rig.start(true);
    program.window().showNormal();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_EQ(list->count(), 2);
    const QString gone = rig.destination + "gone.bin";
    const QString kept = rig.destination + "kept.bin";
    // Since the copy, a folder took one name and the other file was deleted elsewhere.
    ASSERT_EQ(fs::removeFile(kept), 0);
    ASSERT_EQ(fs::makePath(kept), 0);
    ASSERT_EQ(fs::removeFile(gone), 0);
    const auto deleteLine = [&](const QString& path) {
        list->setCurrentItem(list->findItems(path, Qt::MatchExactly).value(0));
        test::onNextModal<QMessageBox>(
            [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        program.window().mnuDelete_Click();
    };

    deleteLine(kept);
    EXPECT_TRUE(fs::isDirectory(kept));
    EXPECT_EQ(program.engine().LBfiles().size(), 2);
    EXPECT_TRUE(logLines(rig.log()).last().startsWith("Error deleting '" + kept + "': "));
    deleteLine(gone);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(program.engine().LBfiles(), QStringList{kept});
}

TEST(ListHover, SelectsTheLineUnderThePointerAsPlainTextAndClearsBelowTheLastLine) {
    ProgramRig rig;
    rig.start();
    auto* list = rig.control<QListWidget>("LBdebug");
    list->clear();
    list->addItems({"first", "<i>second</i> & more", "third"});

    hover(list, 1);
    EXPECT_EQ(list->selectedItems(), QList<QListWidgetItem*>({list->item(1)}));
    QTextDocument toolTip;
    toolTip.setHtml(list->toolTip());
    EXPECT_EQ(toolTip.toPlainText(), "<i>second</i> & more");
    hover(list, 3);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_TRUE(list->toolTip().isEmpty());
}

TEST(Hyperlinks, MailAddressIsPercentEncodedPartByPart) {
    EXPECT_EQ(MailtoAddress("a&b@example.org", "x&body=evil (1.1)", "1?2#3\r\n"),
              "mailto:a%26b@example.org?subject=x%26body%3Devil%20%281.1%29&body=1%3F2%233%0D%0A");
}
