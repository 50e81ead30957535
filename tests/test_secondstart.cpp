// A second start of the real program while the first runs in the tray of a real notification
// area: trayer on the suite's own Xvfb, the first program's window watched there as another X
// client sees it.

#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

using namespace kw;
using namespace kw::apptest;

namespace {

struct SecondStart : test::XSuite {
    static void SetUpTestSuite() { startSuite(Toolkit::OnDisplayWithTray); }
};

}  // namespace

TEST_F(SecondStart, ShowsTheRunningProgramsWindowAndTouchesNoFile) {
    if (IsSkipped())
        return;
    QTemporaryDir dir;
    const QString folder = dir.path() + "/Programm/";
    ASSERT_EQ(fs::makePath(folder), 0);
    ProgramProcess program(folder);
    QProcess first, second;
    program.start(first);
    ASSERT_TRUE(
        waitUntil([&] { return logLines(program.log()).contains("Starting P2Pfinder....."); }));

    const auto search = CreateX11WindowSearch(display(), {});
    ASSERT_TRUE(search);
    const auto mainWindow = [&search]() -> WindowId {
        for (const TopWindow& window : search->ListTopWindows()) {
            if (search->GetWindowCaption(window.id) == "Kopierwart " KW_PROJECT_VERSION)
                return window.id;
        }
        return 0;
    };
    WindowId window = 0;
    // The first start ends in the tray, its window hidden.
    ASSERT_TRUE(waitUntil([&] {
        window = mainWindow();
        return window && !search->IsWindowVisible(window);
    }));
    const QStringList before = folderSnapshot(folder, true);

    program.start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return search->IsWindowVisible(window); }));
    // Neither program wrote a line or a setting.
    EXPECT_EQ(folderSnapshot(folder, true), before);

    first.terminate();
    EXPECT_TRUE(first.waitForFinished(10000));
}
