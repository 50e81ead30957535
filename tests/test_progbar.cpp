#include "tests/support/qtapp.h"
#include "ui/progbar.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>

#include <tuple>

// The range is scaled to 16 bits whatever the size; an empty file shows no percentage; the
// message, a pair of paths, is plain text.
TEST(ProgBar, ScalesTheRangeShowsThePercentageAndThePathsAsPlainText) {
    kw::test::ensureApplication();
    constexpr qint64 kGiB = qint64(1) << 30;
    const std::tuple<qint64, qint64, int, const char*> cases[] = {
        {0, 0, 0, "xxx%"},
        {327675, 327675, 3277, "100%"},  // divided by ten it would round to 32,768
        {3 * kGiB, 3 * kGiB / 2, 32212, "50%"},
    };
    for (const auto& [size, copied, scaledMaximum, percent] : cases) {
        kw::ProgBar bar;
        bar.SetOption(0, size, "Kopiere", true);
        EXPECT_EQ(bar.findChild<QScrollBar*>("HScroll")->maximum(), scaledMaximum);
        bar.SetValue(copied);
        EXPECT_EQ(bar.findChild<QLabel*>("Label1")->text(), percent);
    }
    kw::ProgBar bar;
    bar.SetMessage("/quelle/<b>fett</b>&amp;.txt");
    EXPECT_EQ(bar.findChild<QLabel*>("Message")->textFormat(), Qt::PlainText);
}
