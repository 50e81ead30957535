#include "app/passdesktop.h"
#include "scan/bincopy.h"
#include "tests/support/qtapp.h"
#include "ui/progbar.h"
#include "ui/widgetdesktop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <functional>
#include <thread>
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
        if (watched->objectName() != "ProgBar")
            return false;
        if (event->type() == QEvent::Show)
            ++count;
        // What it showed last, from its later events; none of its parts are left while it goes.
        const auto* frame = watched->findChild<QGroupBox*>("Frame1");
        const auto* label = watched->findChild<QLabel*>("Message");
        if (frame && label && event->type() == QEvent::Paint) {
            caption = frame->title();
            message = label->text();
        }
        return false;
    }
    int count = 0;
    QString caption;
    QString message;
};

QString writeFile(const QString& path, qint64 size) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(size, 'k'));
    return path;
}

}  // namespace

// Copies made as the program makes them: in a thread of their own, the windows reached through
// the pass desktop, while this thread runs the windows' events.
struct CopyThread {
    kw::WidgetDesktop windows;
    kw::PassDesktop desktop{windows};
    // Copies each source into folder, one after the other, with keepGoing after every chunk.
    void copy(const QStringList& sources, const QString& folder,
              const std::function<bool()>& keepGoing = {}) {
        std::atomic<bool> done = false;
        std::thread copies([&] {
            for (const QString& source : sources)
                EXPECT_TRUE(
                    kw::BinCopy(desktop, source, folder, true, "Kopiere", nullptr, keepGoing).ok());
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        copies.join();
        QCoreApplication::processEvents();
    }
};

// A copy that takes a while shows its window with caption and paths; it goes with its copy.
TEST(DelayedProgressWindow, ALongCopyShowsItsWindowWithWhatItWasToldBefore) {
    kw::test::ensureApplication();
    QTemporaryDir dir;
    const QString source = writeFile(dir.path() + "/gross.bin", 5 * kw::kCopyChunk);
    ShownProgressWindows shown;
    CopyThread thread;
    std::atomic<int> chunks = 0;
    // The test slows the copy down at every chunk, as a slow disk would.
    thread.copy({source}, dir.path() + "/ziel", [&] {
        QThread::msleep(kw::kProgressWindowDelayMs / 3 + 5);
        ++chunks;
        return true;
    });
    EXPECT_EQ(chunks, 6);
    EXPECT_EQ(shown.count, 1);
    EXPECT_EQ(shown.caption, "Kopiere");
    EXPECT_EQ(shown.message, source + " -> " + dir.path() + "/ziel/gross.bin");
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_NE(window->objectName(), "ProgBar") << "the window goes with its copy";
}

// Small files copied one after the other show no window at all.
TEST(DelayedProgressWindow, ABurstOfSmallCopiesShowsNoWindow) {
    kw::test::ensureApplication();
    QTemporaryDir dir;
    QStringList sources;
    for (int i = 0; i < 200; ++i)
        sources.append(writeFile(dir.path() + QString("/klein%1.bin").arg(i), 10'000));
    ShownProgressWindows shown;
    CopyThread().copy(sources, dir.path() + "/ziel");
    EXPECT_EQ(shown.count, 0);
}
