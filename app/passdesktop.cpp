#include "app/passdesktop.h"

#include <QElapsedTimer>
#include <QThread>

#include <memory>
#include <optional>

namespace kw {
namespace {

// A progress window fed from the pass thread. Nothing reaches the windows' thread until the copy
// has run for a moment: a burst of small files makes no window and costs the windows nothing.
// Then the real window is made there, told all it missed, and fed from then on.
class RelayedProgress : public CopyProgress {
public:
    RelayedProgress(QObject* windowsThread, Desktop& windows)
        : m_context(windowsThread), m_window(std::make_shared<Held>()), m_windows(windows) {}
    ~RelayedProgress() override {
        if (m_relaying)
            relay([](Held& held) { held.progress.reset(); });
    }

    void SetOption(qint64 minimum, qint64 maximum, const QString& caption, bool showBar) override {
        m_minimum = minimum;
        m_maximum = maximum;
        m_caption = caption;
        m_showBar = showBar;
        m_running.start();
        if (m_relaying)
            relay([minimum, maximum, caption, showBar](Held& held) {
                held.progress->SetOption(minimum, maximum, caption, showBar);
            });
    }
    void SetValue(qint64 value) override {
        if (!m_relaying) {
            // A copy that is done has nothing left to show; a window now would only flash.
            if (!m_running.isValid() || m_running.elapsed() < kProgressWindowDelayMs ||
                value >= m_maximum)
                return;
            m_relaying = true;
            relay([minimum = m_minimum, maximum = m_maximum, caption = m_caption,
                   showBar = m_showBar, message = m_message](Held& held) {
                held.progress->SetOption(minimum, maximum, caption, showBar);
                if (!message.isNull())
                    held.progress->SetMessage(message);
            });
        }
        relay([value](Held& held) { held.progress->SetValue(value); });
    }
    void SetMessage(const QString& message) override {
        m_message = message;
        if (m_relaying)
            relay([message](Held& held) { held.progress->SetMessage(message); });
    }

private:
    struct Held {
        std::unique_ptr<CopyProgress> progress;
    };

    template <typename Call>
    void relay(Call call) {
        QMetaObject::invokeMethod(
            m_context,
            [window = m_window, &windows = m_windows, call] {
                if (!window->progress)
                    window->progress = windows.CreateProgressWindow();
                call(*window);
            },
            Qt::QueuedConnection);
    }

    QObject* m_context;
    std::shared_ptr<Held> m_window;
    Desktop& m_windows;
    bool m_relaying = false;
    QElapsedTimer m_running;
    qint64 m_minimum = 0;
    qint64 m_maximum = 0;
    QString m_caption;
    bool m_showBar = true;
    QString m_message;
};

}  // namespace

PassDesktop::PassDesktop(Desktop& windows) : m_windows(windows) {}

void PassDesktop::close() {
    const std::lock_guard lock(m_answers->lock);
    m_answers->closed = true;
    m_answers->given.notify_all();
}

int PassDesktop::ShowMessage(const QString& caption, const QString& text, int style) {
    if (QThread::currentThread() == thread()) {
        {
            const std::lock_guard lock(m_answers->lock);
            if (m_answers->closed)
                return IDCANCEL;
        }
        return m_windows.ShowMessage(caption, text, style);
    }
    auto answer = std::make_shared<std::optional<int>>();
    {
        const std::lock_guard lock(m_answers->lock);
        if (m_answers->closed)
            return IDCANCEL;
    }
    QMetaObject::invokeMethod(this, [this, caption, text, style, answer] {
        m_windows.AskMessage(caption, text, style, [answers = m_answers, answer](int given) {
            const std::lock_guard lock(answers->lock);
            *answer = given;
            answers->given.notify_all();
        });
    });
    if (m_waitingForUser)
        m_waitingForUser(true);
    int result = IDCANCEL;
    {
        std::unique_lock lock(m_answers->lock);
        m_answers->given.wait(lock, [&] { return answer->has_value() || m_answers->closed; });
        if (!m_answers->closed)
            result = **answer;
    }
    if (m_waitingForUser)
        m_waitingForUser(false);
    return result;
}

bool PassDesktop::PlaySoundFile(int code, const QString& file) {
    QMetaObject::invokeMethod(this, [this, code, file] { m_windows.PlaySoundFile(code, file); });
    return true;
}

void PassDesktop::ShellOpen(const QString& file, const QString& parameters) {
    QMetaObject::invokeMethod(this,
                              [this, file, parameters] { m_windows.ShellOpen(file, parameters); });
}

void PassDesktop::OpenDocument(const QString& path) {
    QMetaObject::invokeMethod(this, [this, path] { m_windows.OpenDocument(path); });
}

void PassDesktop::OpenTextFile(const QString& path) {
    QMetaObject::invokeMethod(this, [this, path] { m_windows.OpenTextFile(path); });
}

std::unique_ptr<CopyProgress> PassDesktop::CreateProgressWindow() {
    return std::make_unique<RelayedProgress>(this, m_windows);
}

}  // namespace kw
