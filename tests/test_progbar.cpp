#include "scan/bincopy.h"
#include "tests/support/qtapp.h"
#include "ui/progbar.h"
#include "ui/widgetdesktop.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>

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

namespace {

// Counts the progress windows that appear, wherever they come from.
struct ShownProgressWindows : QObject {
    ShownProgressWindows() { qApp->installEventFilter(this); }
    ~ShownProgressWindows() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == "ProgBar")
            ++count;
        return false;
    }
    int count = 0;
};

QString writeFile(const QString& path, qint64 size) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(size, 'k'));
    return path;
}

}  // namespace

// A copy that takes a while shows its window with caption, paths and the bytes done so far.
TEST(DelayedProgBar, ALongCopyShowsItsWindowWithWhatItWasToldBefore) {
    kw::test::ensureApplication();
    QTemporaryDir dir;
    const QString source = writeFile(dir.path() + "/gross.bin", 5 * kw::kCopyChunk);
    kw::WidgetDesktop desktop;
    ShownProgressWindows shown;
    QString caption, message, percent;
    int chunks = 0;
    // The test slows the copy down at every chunk, as a slow disk would.
    const auto slowly = [&] {
        QThread::msleep(kw::kProgressWindowDelayMs / 3 + 5);
        ++chunks;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->objectName() == "ProgBar" && window->isVisible()) {
                caption = window->findChild<QGroupBox*>("Frame1")->title();
                message = window->findChild<QLabel*>("Message")->text();
                percent = window->findChild<QLabel*>("Label1")->text();
            }
        return true;
    };
    ASSERT_TRUE(
        kw::BinCopy(desktop, source, dir.path() + "/ziel", true, "Kopiere", nullptr, slowly).ok());
    EXPECT_EQ(chunks, 6);
    EXPECT_EQ(shown.count, 1);
    EXPECT_EQ(caption, "Kopiere");
    EXPECT_EQ(message, source + " -> " + dir.path() + "/ziel/gross.bin");
    EXPECT_EQ(percent, "100%");
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_NE(window->objectName(), "ProgBar") << "the window goes with its copy";
}

// Small files copied one after the other show no window at all.
TEST(DelayedProgBar, ABurstOfSmallCopiesShowsNoWindow) {
    kw::test::ensureApplication();
    QTemporaryDir dir;
    kw::WidgetDesktop desktop;
    ShownProgressWindows shown;
    for (int i = 0; i < 200; ++i) {
        const QString source = writeFile(dir.path() + QString("/klein%1.bin").arg(i), 10'000);
        ASSERT_TRUE(kw::BinCopy(desktop, source, dir.path() + "/ziel", true, "Kopiere").ok());
    }
    EXPECT_EQ(shown.count, 0);
}
