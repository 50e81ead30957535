#include "tests/support/scanrig.h"

#include "platform/textcodec.h"
#include "scan/listing.h"
#include "tests/support/tracedcalls.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

namespace kw::test {

ScanRig::ScanRig() : engine(data, log, desktop) {
    registerFileWorkThread(engine.findChild<QThread*>());
    waitUntil(fileWorkThreadNamed);  // traces find the file work by its thread's name
    const QString dataFolder = dir.path() + QStringLiteral("/data/");
    for (const QString& folder : {source, destination, dataFolder})
        fs::makePath(folder);
    data.My = fileSetFor(dataFolder, QStringLiteral("Kopierwart"));
    data.My.Source = source;
    data.My.Destination = destination;
    data.My.QuietSeconds = 2;  // the least quiet time
    data.BlockedExtensions = data.TaskList = QStringList();
    data.CopiedFiles = CopyRegister(QStringList());
    log.setLogFile(data.My.Log);
    log.setDebugWindow(&window);
}

ScanRig::~ScanRig() {
    unregisterFileWorkThread(engine.findChild<QThread*>());
    for (const QString& folder : {source, destination}) {
        for (const QString& name : entriesOf(folder))
            fs::removeFile(folder + name);
    }
}

void runTick(ScanEngine& engine) {
    engine.Timer_Timer();
    waitUntil([&] { return !engine.ScanBusy(); }, 600'000);
}

bool validateFolders(ScanEngine& engine) {
    std::optional<bool> valid;
    engine.ValidateDirectories([&](bool answer) { valid = answer; });
    waitUntil([&] { return valid.has_value(); }, 60'000);
    return valid.value_or(false);
}

void removeAbandonedCopies(ScanEngine& engine) {
    bool done = false;
    engine.RemoveAbandonedCopies([&] { done = true; });
    waitUntil([&] { return done; }, 60'000);
}

QStringList ScanRig::tick() {
    runTick(engine);
    return takeLog();
}

QStringList ScanRig::ticksUntil(const std::function<bool()>& done, int ticks) {
    QStringList log;
    QElapsedTimer clock;
    clock.start();
    for (int made = 0; made < ticks && !(made > 0 && done()); ++made) {
        if (made > 0)
            waitUntil([&] { return clock.elapsed() > 2200 * made; }, 3000);
        log += tick();
    }
    return log;
}

QStringList ScanRig::takeLog() {
    QStringList texts = std::exchange(window.lines, {});
    for (QString& line : texts)
        line = line.section(QStringLiteral(" ~~> "), 1);
    return texts;
}

}  // namespace kw::test
