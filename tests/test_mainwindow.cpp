#include "platform/none/nowindowsearch.h"
#include "scan/mover.h"
#include "tests/program_rig.h"
#include "ui/frmp2pnew.h"
#include "ui/language.h"
#include "ui/problemnotifier.h"
#include "ui/progbar.h"
#include "ui/tray.h"

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
#include <QXmlStreamReader>

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

// Every text the program shows, per window, started in the given language: the main window with
// its menus, the tray's tooltip, the list windows, the P2P dialog, a progress window, two
// messages and every notification.
QMap<QString, QString> shownTexts(FoldersRig& rig, const QStringList& uiLanguages) {
    using Texts = QMap<QString, QString>;
    Texts texts;
    const auto walk = [&texts](const QString& window, QObject* root) {
        QObjectList all = root->findChildren<QObject*>();
        all.prepend(root);
        for (qsizetype i = 0; i < all.size(); ++i)
            for (const char* property :
                 {"windowTitle", "title", "text", "toolTip", "accessibleName", "placeholderText"})
                if (const QString text = all[i]->property(property).toString(); !text.isEmpty())
                    texts[QStringLiteral("%1 %2 %3.%4")
                              .arg(window, QString::number(i), all[i]->objectName(), property)] =
                        text;
    };
    const std::optional<Language> language =
        uiLanguages.isEmpty() ? std::nullopt : std::make_optional<Language>(uiLanguages);
    rig.program.reset();
    Program& program = rig.start();
    FrmMain& window = program.window();
    const auto search = CreateNoWindowSearch(QStringLiteral("none"), {});
    FrmP2Pnew* p2p = nullptr;
    const auto named = [](const char* name) {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String(name))
                return widget;
        return static_cast<QWidget*>(nullptr);
    };
    ProgBar progress;
    progress.SetOption(0, 10, CopyCaption(), true);
    const struct {
        const char* window;
        std::function<QObject*()> open;
    } windows[] = {
        {"main", [&] { return &window; }},
        {"tray", [&] { return &program.tray().icon(); }},
        {"prefix", [&] { return window.ButPrefix_Click(), named("frmPrefix"); }},
        {"task", [&] { return window.ButTasklist_Click(), named("frmTask"); }},
        {"list", [&] { return window.ButList_Click(), named("frmList"); }},
        {"p2p",
         [&] { return p2p = new FrmP2Pnew(program.data(), program.log(), rig.desktop, *search); }},
        {"progress", [&] { return &progress; }},
    };
    for (const auto& row : windows)
        walk(row.window, row.open());
    rig.desktop.messages.clear();
    window.ButAbout_Click();
    window.findChild<QPushButton*>("ButDeleteLog")->click();
    for (const ShownMessage& message : rig.desktop.messages)
        texts["message " + message.caption] = message.text;
    for (int kind = 0; kind <= int(ProblemKind::SettingsUnreadable); ++kind) {
        const Problems one{{ProblemKind(kind), "a.bin"}}, two{one[0], {ProblemKind(kind), "b.bin"}};
        texts[QStringLiteral("notification %1").arg(kind)] =
            ProblemTitle(ProblemKind(kind)) + ProblemEndTitle(ProblemKind(kind)) +
            ProblemStartText(ProblemKind(kind), one) + ProblemStartText(ProblemKind(kind), two) +
            ProblemEndText(ProblemKind(kind), one) + ProblemEndText(ProblemKind(kind), two);
    }
    delete p2p;  // before the window search it uses
    return texts;
}

// German desktops and the C locale see the texts as written; every other one sees no German
// word: none that the translation's sources have and its translations lack, no umlaut, and no
// text the same in both languages that has a word outside the translations.
TEST(Language, GermanAndCDesktopsSeeTheGermanTextsAndEveryOtherOneSeesEnglish) {
    QFile ts(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../i18n/kopierwart_en.ts"));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QSet<QString> germanWords, englishWords;
    const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
    const auto wordsOf = [&word](const QString& text) {
        QSet<QString> words;
        for (const auto& match : word.globalMatch(text))
            words.insert(match.captured());
        return words;
    };
    for (QXmlStreamReader xml(&ts); xml.readNextStartElement() || !xml.atEnd();) {
        if (xml.isStartElement() && (xml.name() == u"source" || xml.name() == u"translation"))
            (xml.name() == u"source" ? germanWords : englishWords) +=
                wordsOf(xml.readElementText());
        else if (!xml.isStartElement())
            xml.readNext();
    }
    germanWords -= englishWords;
    ASSERT_GT(germanWords.size(), 100);

    FoldersRig rig({"a.bin"});  // one folder for every language, so paths are alike
    const auto written = shownTexts(rig, {});
    for (const QStringList& german :
         {QStringList{"de-DE"}, QStringList{"C"}, QStringList{"fr-FR", "de"}})
        EXPECT_EQ(shownTexts(rig, german), written) << german.join(',').toStdString();
    for (const QStringList& english :
         {QStringList{"en-US"}, QStringList{"fr-FR"}, QStringList{"en-GB", "de-DE"}}) {
        const auto texts = shownTexts(rig, english);
        ASSERT_EQ(texts.keys(), written.keys());
        for (auto text = texts.begin(); text != texts.end(); ++text) {
            QSet<QString> wrong = wordsOf(*text) & germanWords;
            if (*text == written[text.key()] && !text->contains(QRegularExpression("[/@]")))
                wrong += wordsOf(*text) - englishWords;
            EXPECT_TRUE(wrong.isEmpty() && !text->contains(QRegularExpression("[äöüÄÖÜß]|\\d,\\d")))
                << english.join(',').toStdString() << " " << text.key().toStdString() << ": "
                << text->toStdString();
        }
    }
}
