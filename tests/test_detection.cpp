// Detection of P2P programs against real X windows: an Xvfb of the suite's own, windows made by
// another client, and the X11 window search on its own connection to that display. The toolkit
// itself stays on the offscreen platform, so the display holds the test's windows only.

#include "core/files.h"
#include "p2p/detector.h"
#include "platform/none/nowindowsearch.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QSignalSpy>

using namespace kw;
using namespace kw::apptest;

namespace {

QString entry(const QString& name, const QString& windowClass) {
    return name + QChar(0) + windowClass;
}

class Detection : public test::XSuite {
protected:
    static void SetUpTestSuite() { startSuite(Toolkit::Offscreen); }

    void SetUp() override {
        XSuite::SetUp();
        if (IsSkipped())
            return;
        search = CreateX11WindowSearch(display(), {});
        ASSERT_TRUE(search);
        detector = std::make_unique<P2PDetector>(data, *search);
        data.UserP2PList = QStringList{};
        // The previous test's helper has gone; the server may still be removing its windows.
        ASSERT_TRUE(waitUntil([this] { return search->ListTopWindows().empty(); }));
    }

    QStringList pass() {
        detector->Timer_CheckP2P();
        return detector->LBp2p();
    }

    AppData data;
    std::unique_ptr<WindowSearch> search;
    std::unique_ptr<P2PDetector> detector;
};

}  // namespace

TEST_F(Detection, ListsEachProgramWhileAWindowOfItsClassExistsInAlphabeticalOrder) {
    data.UserP2PList = QStringList{entry("Zeta Tausch", "ZetaClass"),
                                   entry("alpha Tausch", "alpha"), entry("Mittel", "Versteckt")};
    QSignalSpy changed(detector.get(), &P2PDetector::LBp2pChanged);
    EXPECT_EQ(pass(), QStringList());

    // Class and instance names both count, without regard to case; hidden windows count too.
    const WindowId overnet = windows.window("OVERNET", "main", true, "Overnet 0.5");
    const WindowId qwidget = windows.window("Anything", "qwidget", false, "");
    windows.window("ZetaClass", "zeta", true, "Zeta");
    const WindowId alpha = windows.window("Alpha", "alpha", true, "Alpha");
    EXPECT_EQ(pass(),
              QStringList({"alpha Tausch", "eDonkey 2000 >= v1.0", "Overnet", "Zeta Tausch"}));
    EXPECT_EQ(pass().size(), 4);
    EXPECT_EQ(changed.count(), 1) << "a pass that changes nothing tells nobody";

    windows.destroy(overnet);
    windows.destroy(alpha);
    windows.unmap(qwidget);
    windows.window("Versteckt", "versteckt", false, "");
    EXPECT_EQ(pass(), QStringList({"eDonkey 2000 >= v1.0", "Mittel", "Zeta Tausch"}));
}

TEST_F(Detection, EmptyClassMatchesAnyWindowButALineWithoutSeparatorIsNoEntry) {
    QTemporaryDir dir;
    const QString file = dir.filePath("Kopierwart.Tasklst");
    static const char text[] = "\r\nLose Zeile\r\n\0Ohne Name\r\nGut\0Good\r\n";
    fs::append(file, QByteArray(text, sizeof text - 1));
    data.UserP2PList = LoadListFile(file);
    ASSERT_EQ(data.UserP2PList->size(), 4);
    // Taken as entries with an empty class, the first two lines would match any window.
    windows.window("Lose Zeile", "lose", true, "");
    windows.window("Good", "good", true, "");
    EXPECT_EQ(pass(), QStringList({"Gut"}));

    data.UserP2PList = QStringList{entry("Irgendein Fenster", "")};
    detector = std::make_unique<P2PDetector>(data, *search);
    const WindowId window = windows.window("", "", false, "");
    EXPECT_EQ(pass(), QStringList({"Irgendein Fenster"}));
    windows.destroy(window);
}

TEST_F(Detection, TwoEntriesWithOneNameShareALineThatTheLaterDecides) {
    data.UserP2PList = QStringList{entry("Tausch", "First"), entry("TAUSCH", "Second")};
    const WindowId first = windows.window("First", "first", true, "");
    EXPECT_EQ(pass(), QStringList()) << "the later entry found no window and removed the line";
    const WindowId second = windows.window("Second", "second", true, "");
    EXPECT_EQ(pass(), QStringList({"Tausch"})) << "the line keeps the spelling of the one added";
    windows.destroy(second);
    windows.destroy(first);
    windows.window("Second", "second", true, "");
    EXPECT_EQ(pass(), QStringList({"TAUSCH"}));
}

TEST_F(Detection, FindsClientsInsideFramesButNoWindowInsideAClient) {
    data.UserP2PList =
        QStringList{entry("Gerahmt", "Framed"), entry("Innen", "Inner"), entry("Oben", "Top")};
    const WindowId client = windows.framed("Framed", "Gerahmt");
    const WindowId top = windows.window("Top", "top", true, "Oben");
    windows.child(client, "Inner");
    windows.child(top, "Inner");
    EXPECT_EQ(pass(), QStringList({"Gerahmt", "Oben"}));

    std::vector<WindowId> ids;
    for (const TopWindow& window : search->ListTopWindows())
        ids.push_back(window.id);
    EXPECT_EQ(ids, std::vector<WindowId>({top, client})) << "the client, frontmost first";
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
    std::unique_ptr<WindowSearch> lost = CreateX11WindowSearch(xvfb->display(), log);
    ASSERT_TRUE(lost);
    EXPECT_TRUE(lost->ListTopWindows().empty());
    xvfb.reset();
    EXPECT_EQ(lost->GetWindowClassName(1), std::nullopt);

    for (WindowSearch* search : {none.get(), unreachable.get(), lost.get()}) {
        P2PDetector detector(data, *search);
        detector.Timer_CheckP2P();
        detector.Timer_CheckP2P();
        EXPECT_TRUE(detector.LBp2p().isEmpty());
    }
    EXPECT_EQ(logged,
              QStringList({"P2P detection: lost the X display, no P2P programs are found",
                           "P2P detection: no X display, no P2P programs are found",
                           "P2P detection: cannot open the X display ':4095', no P2P programs "
                           "are found"}));
}
