#pragma once

#include "core/desktop.h"

#include <QObject>

#include <atomic>

namespace kw {

// How long a copy runs before its progress window appears.
inline constexpr int kProgressWindowDelayMs = 300;

// The desktop as the pass thread sees it: each call is carried out on the thread of the windows.
// A message waits for the user's answer; everything else is handed over without waiting, so a
// copy never waits for the windows. A copy's progress window appears only once the copy has run
// for kProgressWindowDelayMs, as desktop file managers do; it is made, fed and closed in the
// order the copy asks for it.
class PassDesktop : public QObject, public Desktop {
    Q_OBJECT

public:
    // windows: the real desktop; this object must be made on its thread.
    explicit PassDesktop(Desktop& windows);

    // Shutdown: messages are answered with IDCANCEL at once instead of being shown.
    void close() { m_closed = true; }

    int ShowMessage(const QString& caption, const QString& text, int style) override;
    bool PlaySoundFile(int code, const QString& file) override;
    void ShellOpen(const QString& file, const QString& parameters) override;
    void OpenDocument(const QString& path) override;
    void OpenTextFile(const QString& path) override;
    std::unique_ptr<CopyProgress> CreateProgressWindow() override;

private:
    Desktop& m_windows;
    std::atomic_bool m_closed = false;
};

}  // namespace kw
