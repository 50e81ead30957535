// Detection of P2P programs against real X windows: an Xvfb of the suite's own, windows made by
// another client, and the X11 window search on its own connection to that display. The toolkit
// itself stays on the offscreen platform, so the display holds the test's windows only.

#include "core/files.h"
#include "p2p/detector.h"
#include "platform/none/nowindowsearch.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/writers.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace kw;
using namespace kw::apptest;

namespace {

QString entry(const QString& name, const QString& windowClass) {
    return name + QChar(0) + windowClass;
}

struct Detection : test::XSuite {
    static void SetUpTestSuite() { startSuite(Toolkit::Offscreen); }
};

}  // namespace

TEST_F(Detection, ListsEachProgramWhileAWindowOfItsClassExistsInAlphabeticalOrder) {
    // A line without separator is no entry: with an empty class it would match any window.
    static const char list[] =
        "Zeta Tausch\0ZetaClass\r\nLose Zeile\r\nalpha Tausch\0alpha\r\nGerahmt\0Framed\r\n";
    QTemporaryDir dir;
    fs::append(dir.filePath("list"), QByteArray(list, sizeof list - 1));
    AppData data;
    data.UserP2PList = LoadListFile(dir.filePath("list"));
    const auto search = CreateX11WindowSearch(display(), {});
    ASSERT_TRUE(search);
    P2PDetector detector(data, *search);
    const auto pass = [&detector] {
        detector.Timer_CheckP2P();
        return detector.LBp2p();
    };
    QSignalSpy changed(&detector, &P2PDetector::LBp2pChanged);
    // Class and instance names both count, without regard to case; hidden windows count too, and
    // a client inside a window manager's frame.
    const WindowId overnet = windows.window("OVERNET", "main", true, "Overnet 0.5");
    windows.window("Anything", "qwidget", false, "");
    windows.window("ZetaClass", "zeta", true, "Zeta");
    windows.window("Lose Zeile", "lose", true, "");
    windows.window("Alpha", "alpha", true, "Alpha");
    windows.framed("Framed", "Im Rahmen");
    EXPECT_EQ(pass(), QStringList({"alpha Tausch", "eDonkey 2000 >= v1.0", "Gerahmt", "Overnet",
                                   "Zeta Tausch"}));
    EXPECT_EQ(pass().size(), 5);
    EXPECT_EQ(changed.count(), 1);  // a pass that changes nothing tells nobody
    windows.destroy(overnet);
    EXPECT_EQ(pass(),
              QStringList({"alpha Tausch", "eDonkey 2000 >= v1.0", "Gerahmt", "Zeta Tausch"}));
}

// A program is also found by its process: the executable's name, longer than the kernel's short
// name of a process, in any letter case; with or without an X display to search. A detector
// that has already looked at the processes finds one started after that look.
TEST_F(Detection, FindsAUsersProgramByItsExecutableNameWithAndWithoutADisplay) {
    QTemporaryDir dir;
    AppData data;
    data.UserP2PList = QStringList{entry("Esel", "EselTauschProgramm")};
    const QByteArray realDisplay = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    std::unique_ptr<WindowSearch> none = CreateWindowSearch({});
    qputenv("DISPLAY", realDisplay);
    qputenv("WAYLAND_DISPLAY", wayland);
    ASSERT_FALSE(none->HasDisplay());
    std::unique_ptr<WindowSearch> x11 = CreateX11WindowSearch(display(), {});
    ASSERT_TRUE(x11 && x11->HasDisplay());
    P2PDetector withoutDisplay(data, *none);
    P2PDetector withDisplay(data, *x11);
    for (P2PDetector* detector : {&withoutDisplay, &withDisplay})
        detector->Timer_CheckP2P();

    test::NamedProgram program(dir.path(), "eseltauschprogramm");
    ASSERT_TRUE(program.waitRunning());
    for (P2PDetector* detector : {&withoutDisplay, &withDisplay}) {
        detector->Timer_CheckP2P();
        EXPECT_EQ(detector->LBp2p(), QStringList({"Esel"}));
    }
    program.end();
    for (P2PDetector* detector : {&withoutDisplay, &withDisplay}) {
        detector->Timer_CheckP2P();
        EXPECT_EQ(detector->LBp2p(), QStringList());
    }
}

TEST(DetectionWithoutDisplay, NoUnreachableOrLostDisplayEndsAnythingAndEachIsLoggedOnce) {
    ensureApplication();
    QStringList logged;
    const auto log = [&logged](const QString& line) { logged.append(line); };
    AppData data;
    data.UserP2PList = QStringList{entry("Alles", "")};

    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    std::unique_ptr<WindowSearch> none = CreateWindowSearch(log);
    qputenv("DISPLAY", ":4095");
    std::unique_ptr<WindowSearch> unreachable = CreateWindowSearch(log);
    qputenv("DISPLAY", display);

    // The display goes away under the running search.
    auto xvfb = std::make_unique<test::XvfbServer>();
    const QString whyNot = xvfb->start();
    if (!whyNot.isEmpty())
        KW_CANNOT_RUN(whyNot.toStdString());
    std::unique_ptr<WindowSearch> lost = CreateX11WindowSearch(xvfb->display, log);
    ASSERT_TRUE(lost);
    xvfb.reset();

    for (WindowSearch* search : {none.get(), unreachable.get(), lost.get()}) {
        P2PDetector detector(data, *search);
        for (int twice = 0; twice < 2; ++twice)
            detector.Timer_CheckP2P();
        EXPECT_TRUE(detector.LBp2p().isEmpty());
    }
    EXPECT_EQ(logged,
              QStringList({"P2P detection: no X display, windows are not searched, processes are",
                           "P2P detection: cannot open the X display ':4095', windows are not "
                           "searched, processes are",
                           "P2P detection: lost the X display, windows are not searched, "
                           "processes are"}));
}
