#include "scan/engine.h"
#include "tests/program_rig.h"
#include "ui/colors.h"
#include "ui/hyperlinks.h"
#include "ui/listhover.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

using namespace kw;
using namespace kw::apptest;

namespace {

// A program whose two folders are set and usable, with the given files waiting in the watched
// folder when it starts.
struct FoldersRig : ProgramRig {
    explicit FoldersRig(const QStringList& waiting = {}) {
        source = folder("watched");
        destination = folder("moved");
        setting("Source", source);
        setting("Destination", destination);
        for (const QString& name : waiting)
            writeFile(source + name, "content of " + name.toUtf8());
    }
    QString source;
    QString destination;
};

void moveMouse(QWidget* target, const QPoint& pos) {
    QMouseEvent move(QEvent::MouseMove, pos, target->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
}

void press(QWidget* target, const QPoint& pos, Qt::MouseButton button) {
    QMouseEvent event(QEvent::MouseButtonPress, pos, target->mapToGlobal(pos), button, button,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

QPoint centreOfRow(QListWidget* list, int row) {
    return list->visualItemRect(list->item(row)).center();
}

QPoint belowLastRow(QListWidget* list) {
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    return {last.center().x(), last.bottom() + 5};
}

QString plainTextOf(const QString& toolTip) {
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

// Answers the next message box with button once it is shown, noting whether the main window
// was hidden meanwhile.
void answerNextMessageBox(QMessageBox::StandardButton button, QWidget* mainWindow,
                          bool* windowWasHidden) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        *windowWasHidden = !mainWindow->isVisible();
        box->button(button)->click();
        poll->deleteLater();
    });
    poll->start(20);
}

}  // namespace

TEST(MainWindow, CopiesMadeAtStartAndByScanNowShowInCaptionAndList) {
    FoldersRig rig({"b.bin", "a.bin"});
    Program& program = rig.start();

    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), rig.destination + "a.bin");
    EXPECT_EQ(list->item(1)->text(), rig.destination + "b.bin");
    EXPECT_TRUE(rig.control<QGroupBox>("Frame")->title().startsWith("2 Gesicherte Dateien ("));
    EXPECT_EQ(ReadIniValue(rig.ini(), "Fl", "Fl"), "2");

    writeFile(rig.source + "c.bin", "third");
    rig.control<QPushButton>("butGoTimer")->click();
    ASSERT_TRUE(waitUntil([&] { return list->count() == 3; }));
    EXPECT_TRUE(rig.control<QGroupBox>("Frame")->title().startsWith("3 Gesicherte Dateien ("));
    EXPECT_EQ(bytesOf(rig.destination + "c.bin"), "third");
    EXPECT_FALSE(fs::facts(rig.source + "c.bin"));
    EXPECT_TRUE(program.engine().Timer().isActive());
}

TEST(MainWindow, IntervalScrollBarRestartsTheTimerAndWritesTheSetting) {
    ProgramRig rig;
    Program& program = rig.start();
    auto* scroll = rig.control<QScrollBar>("HScroll");
    EXPECT_EQ(scroll->minimum(), 1);
    EXPECT_EQ(scroll->maximum(), 60);

    scroll->setValue(60);
    EXPECT_EQ(program.engine().Timer().interval(), 60000);
    EXPECT_TRUE(program.engine().Timer().isActive());
    EXPECT_EQ(rig.control<QLabel>("LabelScroll")->text(), "TimerIntervall (60 Sec)");
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "60");
    EXPECT_EQ(logLines(rig.log()).last(), "Set Timerintervall to 60s");

    scroll->setValue(1000);  // beyond the range: stays at 60, nothing new happens
    EXPECT_EQ(program.data().My.ScanInterval, 60);
}

class DeleteQuestion : public ::testing::TestWithParam<QMessageBox::StandardButton> {};

TEST_P(DeleteQuestion, DeletesOnlyOnYesAndShowsTheWindowAgainWhateverTheAnswer) {
    FoldersRig rig({"movie.avi"});
    Program& program = rig.start(true);
    program.window().showNormal();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_EQ(list->count(), 1);
    const QString moved = rig.destination + "movie.avi";
    moveMouse(list->viewport(), centreOfRow(list, 0));

    bool hiddenDuringQuestion = false;
    answerNextMessageBox(GetParam(), &program.window(), &hiddenDuringQuestion);
    program.window().mnuDelete_Click();

    EXPECT_TRUE(hiddenDuringQuestion);
    EXPECT_TRUE(program.window().isVisible());
    const bool yes = GetParam() == QMessageBox::Yes;
    EXPECT_EQ(fs::facts(moved).has_value(), !yes);
    EXPECT_EQ(list->count(), yes ? 0 : 1);
    EXPECT_EQ(program.engine().LBfiles().size(), yes ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, DeleteQuestion,
                         ::testing::Values(QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel));

TEST(MainWindow, RemovingALineLeavesTheFileAndTheQuestionNamesTheFileAsPlainText) {
    FoldersRig rig({"<b>bold<i> &amp;.txt"});
    Program& program = rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_EQ(list->count(), 1);
    const QString moved = rig.destination + "<b>bold<i> &amp;.txt";
    moveMouse(list->viewport(), centreOfRow(list, 0));

    rig.desktop.answer = IDNO;
    program.window().mnuDelete_Click();
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_EQ(rig.desktop.messages[0].caption, "Datei löschen");
    EXPECT_EQ(rig.desktop.messages[0].text,
              "Wollen Sie die Datei\r\n" + moved + "\r\nwirklich löschen ?");
    EXPECT_EQ(rig.desktop.messages[0].style, MB_YESNOCANCEL | MB_ICONQUESTION);

    program.window().mnuRemove_Click();
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(fs::facts(moved));
}

TEST(ListHover, SelectsTheLineUnderThePointerAndClearsBelowTheLastLine) {
    ProgramRig rig;
    rig.start();
    auto* list = rig.control<QListWidget>("LBdebug");
    list->clear();
    list->addItems({"first", "<i>second</i> & more", "third"});

    moveMouse(list->viewport(), centreOfRow(list, 1));
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_TRUE(list->item(1)->isSelected());
    EXPECT_EQ(plainTextOf(list->toolTip()), "<i>second</i> & more");
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::ArrowCursor);

    moveMouse(list->viewport(), centreOfRow(list, 2));
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(plainTextOf(list->toolTip()), "third");

    moveMouse(list->viewport(), belowLastRow(list));
    EXPECT_EQ(list->currentRow(), -1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_TRUE(list->toolTip().isEmpty());
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::ForbiddenCursor);
}

TEST(ListHover, RightClickOpensTheFileMenuOnlyOverALine) {
    FoldersRig rig({"x.bin"});
    rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_EQ(list->count(), 1);

    QStringList menusSeen;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menusSeen.append(menu->objectName());
            menu->close();
        }
    });
    closer.start(20);

    moveMouse(list->viewport(), belowLastRow(list));
    press(list->viewport(), belowLastRow(list), Qt::RightButton);
    EXPECT_TRUE(menusSeen.isEmpty());

    moveMouse(list->viewport(), centreOfRow(list, 0));
    press(list->viewport(), centreOfRow(list, 0), Qt::RightButton);
    EXPECT_EQ(menusSeen, QStringList({"mnu"}));
}

TEST(ColorScheme, PaintsTheNamedControlsAndLeavesTheOthersAndAllTextColours) {
    ProgramRig rig;
    Program& program = rig.start();
    FrmMain& window = program.window();
    const QColor red(255, 0, 0);
    ApplyColorScheme(&window, 0x000000FF, program.log());

    EXPECT_EQ(window.palette().color(QPalette::Window), red);
    for (const char* name : {"Text(0)", "Text(1)", "TextSound", "Frame1", "Frame2", "Frame3",
                             "Frame", "Frame5", "LBfiles", "LBdebug"}) {
        QWidget* control = window.findChild<QWidget*>(name);
        ASSERT_TRUE(control) << name;
        EXPECT_EQ(control->palette().color(control->backgroundRole()), red) << name;
    }
    for (const char* name : {"ButColor", "ButAbout", "butGoTimer", "ButDeleteLog"}) {
        QWidget* control = window.findChild<QWidget*>(name);
        EXPECT_NE(control->palette().color(control->backgroundRole()), red) << name;
    }
    EXPECT_EQ(rig.control<QLineEdit>("Text(0)")->palette().color(QPalette::Text),
              QColor(255, 255, 255));
    EXPECT_EQ(rig.control<QListWidget>("LBdebug")->palette().color(QPalette::Text),
              QColor(255, 255, 0));
    EXPECT_EQ(rig.control<QGroupBox>("Frame1")->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(logLines(rig.log()).last(), "Set ControlColor to #FF0000");
}

TEST(ColorScheme, RightClickOnTheBackgroundAloneChoosesANewColour) {
    ProgramRig rig;
    Program& program = rig.start();
    FrmMain& window = program.window();
    const int linesBefore = logLines(rig.log()).size();

    auto* frame = rig.control<QGroupBox>("Frame1");
    press(frame, {5, 30}, Qt::RightButton);
    press(rig.control<QLabel>("Label1"), {2, 2}, Qt::RightButton);
    EXPECT_EQ(logLines(rig.log()).size(), linesBefore);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Color", "Color"), "12582912");

    // Between the left column and the statistics lies bare background.
    ASSERT_EQ(window.childAt(403, 100), nullptr);
    press(&window, {403, 100}, Qt::RightButton);
    const QString stored = ReadIniValue(rig.ini(), "Color", "Color");
    EXPECT_EQ(stored, QString::number(program.data().My.ControlColor));
    EXPECT_EQ(logLines(rig.log()).last(),
              "Set ControlColor to " + ColorToHtml(program.data().My.ControlColor));
    EXPECT_EQ(window.palette().color(QPalette::Window), toQColor(program.data().My.ControlColor));
}

TEST(Colors, HtmlTextIsRedGreenBlueAndEmptyForSystemColours) {
    EXPECT_EQ(ColorToHtml(0x00C00000), "#0000C0");
    EXPECT_EQ(ColorToHtml(0), "#000000");
    EXPECT_EQ(ColorToHtml(0x000000FF), "#FF0000");
    EXPECT_EQ(ColorToHtml(0x00123456), "#563412");
    EXPECT_EQ(ColorToHtml(qint32(0x80000005)), "");
    EXPECT_EQ(ColorToHtml(-1), "");
    EXPECT_EQ(toQColor(0x00123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(fromQColor(QColor(0x56, 0x34, 0x12)), 0x00123456);
}

TEST(Colors, RandomValuesStayInRangeAndReachBothEnds) {
    bool low = false;
    bool high = false;
    for (int i = 0; i < 20000; ++i) {
        const qint32 value = RandomInRange(0, 255);
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 255);
        low = low || value == 0;
        high = high || value == 255;
        const qint32 color = RandomColor();
        ASSERT_GE(color, 0);
        ASSERT_LE(color, 0x00FFFFFF);
    }
    EXPECT_TRUE(low);
    EXPECT_TRUE(high);
}

TEST(MainWindow, PromptFlashesAndAShownFolderReturnsToWhite) {
    ProgramRig rig;
    Program& program = rig.start();
    auto* watched = rig.control<QLineEdit>("Text(0)");
    const auto colour = [watched] { return watched->palette().color(QPalette::Text); };
    const QColor white(255, 255, 255);
    const QColor black(0, 0, 0);
    ASSERT_EQ(watched->text(), kDirectoryPlaceholder);
    EXPECT_EQ(colour(), white);
    program.window().Blink_Timer();
    EXPECT_EQ(colour(), black);
    program.window().Blink_Timer();
    EXPECT_EQ(colour(), white);
    program.window().Blink_Timer();
    ASSERT_EQ(colour(), black);

    EXPECT_FALSE(rig.control<QPushButton>("ButOpenDir(0)")->isEnabled());
    program.data().My.Source = rig.folder("watched");
    program.window().SetText();
    EXPECT_TRUE(rig.control<QPushButton>("ButOpenDir(0)")->isEnabled());
    program.window().Blink_Timer();
    EXPECT_EQ(colour(), white);

    // Once a folder was shown, the button stays enabled even when the prompt returns.
    program.data().My.Source.clear();
    program.window().SetText();
    EXPECT_TRUE(rig.control<QPushButton>("ButOpenDir(0)")->isEnabled());
}

TEST(MainWindow, PlayLogsTheSettingAndPlaysTheBoxText) {
    ProgramRig rig;
    rig.setting("Sound", "/sounds/done.wav");
    Program& program = rig.start();
    rig.control<QPushButton>("ButPlay")->click();
    EXPECT_EQ(logLines(rig.log()).last(), "Playing '/sounds/done.wav'");
    EXPECT_EQ(rig.desktop.playedSounds.last(), "1 /sounds/done.wav");

    rig.control<QLineEdit>("TextSound")->setText("");
    const int lines = logLines(rig.log()).size();
    program.window().ButPlay_Click();
    EXPECT_EQ(logLines(rig.log()).size(), lines);
}

TEST(MainWindow, AboutBoxHidesTheWindowWhileItIsOpen) {
    struct WatchingDesktop : test::RecordingDesktop {
        int ShowMessage(const QString& caption, const QString& text, int style) override {
            windowVisible = window && window->isVisible();
            return RecordingDesktop::ShowMessage(caption, text, style);
        }
        QWidget* window = nullptr;
        bool windowVisible = true;
    };
    ensureApplication();
    QTemporaryDir dir;
    WatchingDesktop desktop;
    Program program({dir.path() + "/Kopierwart", dir.path() + "/", true, dir.path() + "/dl"},
                    &desktop, [] {});
    desktop.window = &program.window();
    program.Form_Load();
    program.window().ButAbout_Click();
    EXPECT_FALSE(desktop.windowVisible);
    EXPECT_TRUE(program.window().isVisible());
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].caption, "About");
    EXPECT_TRUE(desktop.messages[0].text.startsWith("Kopierwart 1.1.8\r\n     "));
    EXPECT_TRUE(desktop.messages[0].text.contains(
        "\r\n\r\nGenial ist der Kopierwart für P2P-Programme .)\r\n"));
    EXPECT_TRUE(desktop.messages[0].text.endsWith(
        "Keine Dateien im Upload-Verzeichnis = KEIN UPLOAD\r\n\r\n"));
    EXPECT_TRUE(logLines(dir.path() + "/Kopierwart.Log").contains("Showing About"));
}

TEST(Hyperlinks, MailAddressIsPercentEncodedPartByPart) {
    EXPECT_EQ(MailtoAddress("kw@example.org", "Kopierwart (1.1.8)", ""),
              "mailto:kw@example.org?subject=Kopierwart%20%281.1.8%29&body=");
    EXPECT_EQ(MailtoAddress("a&b@example.org", "x&body=evil", "1?2#3\r\n"),
              "mailto:a%26b@example.org?subject=x%26body%3Devil&body=1%3F2%233%0D%0A");
}

TEST(Hyperlinks, ClicksOpenMailAndHomepageAndHoverRecolours) {
    ProgramRig rig;
    rig.start();
    auto* mail = rig.control<QLabel>("LabelMail");
    auto* page = rig.control<QLabel>("LabelPage");
    EXPECT_EQ(mail->textFormat(), Qt::PlainText);

    press(mail, {3, 3}, Qt::LeftButton);
    press(page, {3, 3}, Qt::LeftButton);
    EXPECT_EQ(rig.desktop.opened,
              QStringList({MailtoAddress(contactMailAddress(), "Kopierwart (1.1.8)", ""),
                           homepageAddress()}));
    const QStringList log = logLines(rig.log());
    EXPECT_EQ(log.mid(log.size() - 2),
              QStringList({"Open Email", "Launching WebBrowser for Homepage"}));

    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_FALSE(mail->font().underline());
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), mail->mapToGlobal(QPointF(3, 3)));
    QCoreApplication::sendEvent(mail, &enter);
    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_TRUE(mail->font().underline());
    EXPECT_EQ(mail->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(mail, &leave);
    EXPECT_EQ(mail->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_FALSE(mail->font().underline());
}
