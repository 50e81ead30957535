#include "ui/progbar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_progbar";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr qint64 kChunk = 1024000;
constexpr qint64 kGiB = qint64(1) << 30;

class ProgBarTest : public ::testing::Test {
protected:
    QString percent() const { return bar.findChild<QLabel*>("Label1")->text(); }
    QScrollBar* scroll() const { return bar.findChild<QScrollBar*>("HScroll"); }

    kw::ProgBar bar;
};

TEST_F(ProgBarTest, ControlsCarryTheirNamesAndDesignTexts) {
    ASSERT_NE(bar.findChild<QGroupBox*>("Frame1"), nullptr);
    EXPECT_EQ(bar.findChild<QGroupBox*>("Frame1")->title(), "FrameCaption");
    EXPECT_NE(bar.findChild<QWidget*>("Picture1"), nullptr);
    EXPECT_EQ(percent(), "xxx%");
    ASSERT_NE(bar.findChild<QLabel*>("Message"), nullptr);
    EXPECT_EQ(bar.findChild<QLabel*>("Message")->text(), "Message");
    ASSERT_NE(scroll(), nullptr);
    EXPECT_TRUE(scroll()->isHidden());
    EXPECT_FALSE(bar.isVisible());
}

TEST_F(ProgBarTest, ValueBeforeAnyRangeChangesNothing) {
    bar.SetValue(kChunk);
    EXPECT_EQ(percent(), "xxx%");
}

TEST_F(ProgBarTest, EmptyFileLeavesTheDesignPercentage) {
    bar.SetOption(0, 0, "Kopiere", true);
    bar.SetValue(0);
    EXPECT_EQ(scroll()->minimum(), 0);
    EXPECT_EQ(scroll()->maximum(), 0);
    EXPECT_EQ(percent(), "xxx%");
}

TEST_F(ProgBarTest, FileOfExactlyOneChunkReachesFullPercentage) {
    bar.SetOption(0, kChunk, "Kopiere", true);
    EXPECT_EQ(scroll()->maximum(), 10240);
    bar.SetValue(kChunk);
    EXPECT_EQ(percent(), "100%");
    bar.SetValue(kChunk);  // the final pass copies nothing
    EXPECT_EQ(percent(), "100%");
}

TEST_F(ProgBarTest, FiveMillionBytesScaleByThousandAndShowTwentyPercentAfterFirstChunk) {
    bar.SetOption(0, 5000000, "Kopiere", true);
    EXPECT_EQ(scroll()->maximum(), 5000);
    bar.SetValue(kChunk);
    EXPECT_EQ(scroll()->value(), 1024);
    EXPECT_EQ(percent(), "20%");

    bar.SetValue(6000000);  // beyond the maximum
    EXPECT_EQ(scroll()->value(), 1024);
    EXPECT_EQ(percent(), "20%");
}

TEST_F(ProgBarTest, FilesBeyondTwoGibibytesKeepExactPercentages) {
    bar.SetOption(0, 3 * kGiB, "Kopiere", true);
    EXPECT_LE(scroll()->maximum(), 32767);
    EXPECT_GT(scroll()->maximum(), 30000);
    bar.SetValue(3 * kGiB / 2);
    EXPECT_EQ(percent(), "50%");
    bar.SetValue(5 * kGiB / 2);
    EXPECT_EQ(percent(), "83%");
    bar.SetValue(3 * kGiB);
    EXPECT_EQ(percent(), "100%");
}

TEST_F(ProgBarTest, MaximumThatRoundsUpStillFitsSixteenBits) {
    // 327,675 / 10 rounds to 32,768, one beyond a 16-bit value.
    bar.SetOption(0, 327675, "Kopiere", true);
    EXPECT_LE(scroll()->maximum(), 32767);
    bar.SetValue(327675);
    EXPECT_EQ(percent(), "100%");
}

TEST_F(ProgBarTest, ShowsCentredOnTopWithCaptionAndClearedMessage) {
    bar.SetMessage("alt");
    bar.SetOption(0, 100, "Kopiere Datei", true);
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.findChild<QGroupBox*>("Frame1")->title(), "Kopiere Datei");
    EXPECT_TRUE(bar.findChild<QLabel*>("Message")->text().isEmpty());
    EXPECT_EQ(bar.size(), QSize(378, 87));
    EXPECT_TRUE(bar.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(bar.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    // Placed before it is shown, when the window frame is not known yet: allow for it.
    const QPoint offCentre = bar.geometry().center() - bar.screen()->geometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 6);
}

TEST_F(ProgBarTest, WithoutBarTheWindowIsLowerAndThePictureHidden) {
    bar.SetOption(0, 100, "Kopiere", false);
    EXPECT_EQ(bar.size(), QSize(378, 54));
    EXPECT_TRUE(bar.findChild<QWidget*>("Picture1")->isHidden());
}

TEST_F(ProgBarTest, MessageShowsFileNamesAsPlainText) {
    const QString message = "/quelle/<b>fett</b>&amp;.txt -> /ziel/<b>fett</b>&amp;.txt";
    bar.SetOption(0, 100, "Kopiere", true);
    bar.SetMessage(message);
    const auto* label = bar.findChild<QLabel*>("Message");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), message);
}

TEST_F(ProgBarTest, BarFillsInHighlightColourUpToThePercentage) {
    bar.SetOption(0, 1000, "Kopiere", true);
    bar.SetValue(500);
    auto* picture = bar.findChild<QWidget*>("Picture1");
    const QImage image = picture->grab().toImage();
    const QColor highlight = picture->palette().color(QPalette::Highlight);
    const int middle = image.height() / 2;
    EXPECT_EQ(image.pixelColor(image.width() / 4, middle), highlight);
    EXPECT_NE(image.pixelColor(image.width() * 3 / 4, middle), highlight);
}

}  // namespace
