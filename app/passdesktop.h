#pragma once

#include "core/desktop.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace kw {

// How long a copy runs before its progress window appears.
inline constexpr int kProgressWindowDelayMs = 300;

// The desktop as the pass thread sees it: each call is carried out on the thread of the windows.
// A message is a question the windows ask without stopping their own events; only the pass thread
// waits for the answer. Everything else is handed over without waiting, so a copy never waits for
// the windows. A copy's progress window appears only once the copy has run
// for kProgressWindowDelayMs, as desktop file managers do; it is made, fed and closed in the
// order the copy asks for it.
class PassDesktop : public QObject, public Desktop {
    Q_OBJECT

public:
    // windows: the real desktop; this object must be made on its thread.
    explicit PassDesktop(Desktop& windows);

    // Shutdown: messages are answered with IDCANCEL at once instead of being shown, and one that
    // waits for the user now is answered so.
    void close();
    // Told on the pass thread when it begins (true) and ends (false) to wait for the user.
    void onWaitingForUser(std::function<void(bool waiting)> waiting) {
        m_waitingForUser = std::move(waiting);
    }

    int ShowMessage(const QString& caption, const QString& text, int style) override;
    bool PlaySoundFile(int code, const QString& file) override;
    void ShellOpen(const QString& file, const QString& parameters) override;
    void OpenDocument(const QString& path) override;
    void OpenTextFile(const QString& path) override;
    std::unique_ptr<CopyProgress> CreateProgressWindow() override;

private:
    // Shared with the questions on the windows' thread, which may be answered after this is gone.
    struct Answers {
        std::mutex lock;
        std::condition_variable given;
        bool closed = false;
    };

    Desktop& m_windows;
    std::shared_ptr<Answers> m_answers = std::make_shared<Answers>();
    std::function<void(bool waiting)> m_waitingForUser;
};

}  // namespace kw
