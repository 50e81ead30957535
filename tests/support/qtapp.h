#pragma once

#include <QApplication>
#include <QListWidget>
#include <QTimer>

#include <functional>
#include <ostream>

// Readable failure messages for texts, and through them for lists of texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kw::test {

// One application object for the test program, offscreen unless the test chose a platform.
void ensureApplication();
// A base making the application before members that need it (an engine's thread).
struct ApplicationReady {
    ApplicationReady() { ensureApplication(); }
};

// Lets events run until condition holds or the deadline passes; answers the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// The texts of the list's lines, top to bottom.
QStringList itemTexts(const QListWidget* list);

// Runs answer on the next modal window of type T while the caller sits in its exec().
template <typename T>
void onNextModal(std::function<void(T*)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            // Stopped first: the answer may sit in an exec() of its own.
            poll->stop();
            poll->deleteLater();
            answer(modal);
        }
    });
    poll->start(10);
}

// Types name into the next file dialog and accepts it, as a user would.
void chooseInNextFileDialog(const QString& name);

}  // namespace kw::test
