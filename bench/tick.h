#pragma once

#include "scan/engine.h"

#include <QEventLoop>

namespace kw::bench {

// One tick of engine, waited for with the events running, as they do under the program's window.
inline void runTick(ScanEngine& engine) {
    QEventLoop loop;
    QObject::connect(&engine, &ScanEngine::tickFinished, &loop, &QEventLoop::quit);
    engine.Timer_Timer();
    if (engine.ScanBusy())
        loop.exec();
}

}  // namespace kw::bench
