// Detection of P2P programs against real X windows: an Xvfb of the suite's own, windows made by
// the helper program, and the X11 window search on its own connection to that display. The
// toolkit itself stays on the offscreen platform, so the display holds the helper's windows only.

#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"
#include "p2p/detector.h"
#include "platform/fs.h"
#include "platform/none/nowindowsearch.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <ostream>

using namespace kw;
using namespace kw::test;

inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << "{\"" << texts.join(QLatin1String("\", \"")).toStdString() << "\"}";
}

namespace {

QString entry(const QString& name, const QString& windowClass) {
    return name + QChar(0) + windowClass;
}

class Detection : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ensureApplication();
        s_xvfb = new XvfbServer;
        s_skipReason = s_xvfb->start();
    }
    static void TearDownTestSuite() {
        delete s_xvfb;
        s_xvfb = nullptr;
    }

    void SetUp() override {
        if (!s_skipReason.isEmpty())
            KW_CANNOT_RUN(s_skipReason.toStdString());
        const QString whyNot = windows.start(s_xvfb->display());
        if (!whyNot.isEmpty())
            KW_CANNOT_RUN(whyNot.toStdString());
        search = CreateX11WindowSearch(s_xvfb->display(),
                                       [this](const QString& line) { logged.append(line); });
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

    static inline XvfbServer* s_xvfb = nullptr;
    static inline QString s_skipReason;

    TestWindows windows;
    AppData data;
    QStringList logged;
    std::unique_ptr<WindowSearch> search;
    std::unique_ptr<P2PDetector> detector;
};

}  // namespace

TEST_F(Detection, ListsEachProgramWhileAWindowOfItsClassExistsInAlphabeticalOrder) {
    data.UserP2PList = QStringList{entry("Zeta Tausch", "ZetaClass"),
                                   entry("alpha Tausch", "alpha"), entry("Mittel", "Versteckt")};
    QSignalSpy changed(detector.get(), &P2PDetector::LBp2pChanged);
    EXPECT_EQ(pass(), QStringList());
    EXPECT_EQ(changed.count(), 0);

    // Class and instance names both count, without regard to case; hidden windows count too.
    const WindowId overnet = windows.window("OVERNET", "main", true, "Overnet 0.5");
    const WindowId qwidget = windows.window("Anything", "qwidget", false, "");
    windows.window("ZetaClass", "zeta", true, "Zeta");
    const WindowId alpha = windows.window("Alpha", "alpha", true, "Alpha");
    const WindowId hidden = windows.window("Versteckt", "versteckt", false, "");
    EXPECT_EQ(pass(), QStringList({"alpha Tausch", "eDonkey 2000 >= v1.0", "Mittel", "Overnet",
                                   "Zeta Tausch"}));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(pass().size(), 5);
    EXPECT_EQ(changed.count(), 1) << "a pass that changes nothing tells nobody";

    windows.destroy(overnet);
    windows.destroy(alpha);
    windows.map(hidden);
    windows.unmap(qwidget);
    EXPECT_EQ(pass(), QStringList({"eDonkey 2000 >= v1.0", "Mittel", "Zeta Tausch"}));
    windows.window("eDonkey2000", "edonkey", true, "eDonkey");
    EXPECT_EQ(pass(), QStringList({"eDonkey 2000 <= v.053", "eDonkey 2000 >= v1.0", "Mittel",
                                   "Zeta Tausch"}));
}

TEST_F(Detection, EmptyClassMatchesAnyTopLevelWindowEvenOneWithoutClass) {
    data.UserP2PList = QStringList{entry("Irgendein Fenster", "")};
    EXPECT_EQ(pass(), QStringList());
    const WindowId window = windows.window("", "", false, "");
    EXPECT_EQ(pass(), QStringList({"Irgendein Fenster"}));
    windows.destroy(window);
    EXPECT_EQ(pass(), QStringList());
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

TEST_F(Detection, UserLinesWithoutSeparatorAreSkippedAndTheRestStillDetected) {
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
}

TEST(DetectionWithoutDisplay, FindsNothingAndSaysSoOnce) {
    ensureApplication();
    const QByteArray display = qgetenv("DISPLAY");
    QStringList logged;
    const auto log = [&logged](const QString& line) { logged.append(line); };
    AppData data;
    data.UserP2PList = QStringList{entry("Alles", "")};

    qunsetenv("DISPLAY");
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    std::unique_ptr<WindowSearch> none = CreateWindowSearch(log);
    qputenv("DISPLAY", ":4095");
    std::unique_ptr<WindowSearch> unreachable = CreateWindowSearch(log);
    qputenv("DISPLAY", display);

    for (WindowSearch* search : {none.get(), unreachable.get()}) {
        P2PDetector detector(data, *search);
        detector.Timer_CheckP2P();
        detector.Timer_CheckP2P();
        EXPECT_TRUE(detector.LBp2p().isEmpty());
    }
    EXPECT_EQ(logged, QStringList({"P2P detection: no X display, no P2P programs are found",
                                   "P2P detection: cannot open the X display ':4095', no P2P "
                                   "programs are found"}));
}

TEST(DetectionWithoutDisplay, ALostDisplayEndsNothingAndIsLoggedOnce) {
    ensureApplication();
    auto xvfb = std::make_unique<XvfbServer>();
    const QString whyNot = xvfb->start();
    if (!whyNot.isEmpty())
        KW_CANNOT_RUN(whyNot.toStdString());
    QStringList logged;
    auto search = CreateX11WindowSearch(xvfb->display(),
                                        [&logged](const QString& line) { logged.append(line); });
    ASSERT_TRUE(search);
    EXPECT_TRUE(search->ListTopWindows().empty());
    xvfb.reset();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(search->ListTopWindows().empty());
        EXPECT_EQ(search->GetWindowClassName(1), std::nullopt);
    }
    EXPECT_EQ(logged,
              QStringList({"P2P detection: lost the X display, no P2P programs are found"}));
}
