#include "tests/support/qtapp.h"
#include "ui/progbar.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>

#include <tuple>

namespace {

constexpr qint64 kChunk = 1024000;
constexpr qint64 kGiB = qint64(1) << 30;

QString percentOf(const kw::ProgBar& bar) {
    return bar.findChild<QLabel*>("Label1")->text();
}
QScrollBar* scrollOf(const kw::ProgBar& bar) {
    return bar.findChild<QScrollBar*>("HScroll");
}

TEST(ProgBar, ScalesTheRangeToSixteenBitsAndShowsTheCopiedPercentage) {
    kw::test::ensureApplication();
    // File size, bytes copied, scaled maximum, percentage shown.
    const std::tuple<qint64, qint64, int, const char*> cases[] = {
        {0, 0, 0, "xxx%"},  // an empty file: no percentage, no division by zero
        {kChunk, kChunk, 10240, "100%"},
        {5000000, kChunk, 5000, "20%"},
        {327675, 327675, 3277, "100%"},  // divided by ten it would round to 32,768
        {3 * kGiB, 3 * kGiB / 2, 32212, "50%"},
        {3 * kGiB, 5 * kGiB / 2, 32212, "83%"},
        {3 * kGiB, 3 * kGiB, 32212, "100%"},
    };
    for (const auto& [size, copied, scaledMaximum, percent] : cases) {
        SCOPED_TRACE(testing::Message() << size << " bytes, " << copied << " copied");
        kw::ProgBar bar;
        bar.SetOption(0, size, "Kopiere", true);
        EXPECT_EQ(scrollOf(bar)->maximum(), scaledMaximum);
        bar.SetValue(copied);
        EXPECT_EQ(percentOf(bar), percent);
    }
}

TEST(ProgBar, IgnoresValuesBeforeTheRangeOrBeyondTheMaximumAndShowsTheMessageAsPlainText) {
    kw::test::ensureApplication();
    kw::ProgBar bar;
    bar.SetValue(kChunk);
    EXPECT_EQ(percentOf(bar), "xxx%");

    bar.SetOption(0, 5000000, "Kopiere", true);
    bar.SetValue(kChunk);
    bar.SetValue(6000000);
    EXPECT_EQ(scrollOf(bar)->value(), 1024);
    EXPECT_EQ(percentOf(bar), "20%");

    const QString message = "/quelle/<b>fett</b>&amp;.txt -> /ziel/<b>fett</b>&amp;.txt";
    bar.SetMessage(message);
    const auto* label = bar.findChild<QLabel*>("Message");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), message);
}

}  // namespace
