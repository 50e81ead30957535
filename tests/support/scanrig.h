#pragma once

#include "core/settings.h"
#include "platform/fs.h"
#include "scan/engine.h"
#include "tests/support/files.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"
#include "tests/support/scratchfs.h"

#include <QTemporaryDir>

#include <string>

namespace kw::test {

// Log lines as one text, for a failure's message.
inline std::string text(const QStringList& lines) {
    return lines.join(QLatin1Char('\n')).toStdString();
}

// One tick of engine, waited for with the test's own events; so are the folder check and the
// removal of abandoned copies.
void runTick(ScanEngine& engine);
bool validateFolders(ScanEngine& engine);
void removeAbandonedCopies(ScanEngine& engine);

// A watched, a destination and a data folder in a fresh temporary folder, settings pointing at
// them, a log into a recording debug window, a recording desktop and an engine over all of it.
class ScanRig : private ApplicationReady {
public:
    ScanRig();
    ~ScanRig();  // removes the files by their byte names, which QTemporaryDir cannot

    QString in(const QString& name) const { return source + name; }
    QString out(const QString& name) const { return destination + name; }
    // A tmpfs over the destination folder, so that moves copy; false without root.
    bool destinationOnOtherFileSystem() {
        m_other = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, destination, 64 << 20);
        return m_other != nullptr;
    }
    // A stick: a file system at out(name), the destination its folder "Backup"; nullptr, with why.
    std::unique_ptr<ScratchFileSystem> stick(ScratchFileSystem::Type type, const QString& name,
                                             qint64 bytes, QString* why) {
        auto made = ScratchFileSystem::make(type, out(name), bytes, why);
        if (made) {
            data.My.Destination = out(name) + "/Backup/";
            fs::makePath(data.My.Destination);
        }
        return made;
    }
    // Runs action once, inside the next copy, right after its first chunk.
    void duringNextCopy(std::function<void()> action) {
        auto pending = std::make_shared<std::function<void()>>(std::move(action));
        desktop.onCopyProgress = [pending] {
            if (*pending)
                std::exchange(*pending, nullptr)();
        };
    }
    QStringList tick();  // one tick; answers takeLog()
    // Ticks 2.2 s apart (a file no lease speaks for holds still that long first) until done
    // answers true or ticks have run; answers the log.
    QStringList ticksUntil(const std::function<bool()>& done, int ticks);
    QStringList takeLog();  // the log lines since the last call, without their stamps

    // The engine's lines for a file of the watched folder and the current destination.
    QString moveLine(const QString& name, const QString& verb = "Move") const {
        return verb + " " + in(name) + " -> " + data.My.Destination + name;
    }
    QString copyLine(const QString& name) const { return moveLine(name, "Copy"); }
    QString deletedLine(const QString& name) const {
        return "Trying to Delete '" + in(name) + "' .....Success";
    }
    QString notMovedLine(const QString& name, const QString& reason) const {
        return "Not moved: '" + in(name) + "', " + reason +
               "; tried again when the file or the destination changes, or in 10 minutes";
    }
    static QString copyErrorLine(int code) {
        return QString("CopyError (%1) - Delete Destination.....Success").arg(code);
    }

    QTemporaryDir dir;
    QString source = dir.path() + QStringLiteral("/in/");
    QString destination = dir.path() + QStringLiteral("/out/");
    AppData data;
    EventLog log;
    RecordingDebugWindow window;
    RecordingDesktop desktop;
    ScanEngine engine;

private:
    std::unique_ptr<ScratchFileSystem> m_other;  // the destination's own file system
};

}  // namespace kw::test
