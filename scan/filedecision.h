#pragma once

#include "platform/filemove.h"
#include "scan/pass.h"

#include <QString>

#include <functional>
#include <memory>

namespace kw {

struct AppData;
class EventLog;
class FolderGuard;
class Mover;
class Refusals;
class WaitingFiles;

// Why a decided file stays in the watched folder, as far as later ticks may take it over, and the
// look at the file it was decided on.
struct Stay {
    enum class Reason {
        None,      // moved, gone, or waiting for something beyond the file itself
        Blocked,   // its extension is blocked
        Writer,    // a program holds it open for writing
        Refused,   // a remembered failure holds it back
        Settling,  // nothing vouches for it but the time it has held still
        Quiet,     // written here: it waits until its writers have left it alone for a while
    };
    Reason reason = Reason::None;
    fs::Snapshot look;
    // Quiet: the monotonic milliseconds from which it may move.
    qint64 untilMs = 0;
};

// Decides what becomes of one file of the watched folder: left alone (blocked, still written,
// a failure that will repeat), deleted as a twin of a file already in the destination, renamed
// with a number when a different file has its name there, or handed to the mover. It reads the
// register and touches the watched folder only through the pass's held folders.
class FileDecision {
public:
    FileDecision(AppData& data, EventLog& log, Refusals& refusals, WaitingFiles& waiting,
                 Mover& mover, FolderGuard& guard, std::function<bool()> yield);

    // stay tells why the file stays, when it does.
    Step decideFile(Pass& pass, const QString& name, Stay& stay);

private:
    // Opens the source for the whole decision; false when it must wait for a later tick.
    bool holdSource(Pass& pass, fs::HeldSource& source, const QString& name, Stay& stay);
    // What the folder's watch heard of the source's writers; false when it must wait for them.
    // *heardAll: the watch knows the whole of its writers' story, so no other sign is needed.
    bool writersDone(Pass& pass, const fs::HeldSource& source, Stay& stay, bool* heardAll);
    // The source waits, said once why, until a change of its own: answers false.
    bool waitForWriter(const fs::HeldSource& source, Stay& stay, const QString& reason);
    enum class Twin { Equal, Different, Unknown, Stop };
    Twin compareWithDestination(Pass& pass, const fs::HeldSource& source, const QString& name);
    Step deleteTwin(Pass& pass, fs::HeldSource& source);
    Step renameCollision(Pass& pass, const fs::HeldSource& source, const QString& name);

    AppData& m_data;
    EventLog& m_log;
    Refusals& m_refusals;
    WaitingFiles& m_waiting;
    Mover& m_mover;
    FolderGuard& m_guard;
    std::function<bool()> m_yield;
    // The lock that kept the last source out is this pass's own (a further name of a file whose
    // copy waits for its name).
    bool m_lockedByOwnCopy = false;
};

}  // namespace kw
