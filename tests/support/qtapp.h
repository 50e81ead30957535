#pragma once

#include <QListWidget>
#include <QWidget>

#include <functional>

namespace kw::test {

// One application object for the whole test program, on the offscreen platform unless the test
// chose another (tests of the cycle yield to its event loop, window tests need it).
void ensureApplication();

// Lets events run until condition holds or the deadline passes; answers the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// The texts of the list's lines, top to bottom.
QStringList itemTexts(const QListWidget* list);

// Runs answer on the next modal window that matches, once it is up, while the caller sits in its
// exec().
void onNextModal(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> answer);
template <typename T>
void onNextModal(std::function<void(T*)> answer) {
    onNextModal([](QWidget* modal) { return qobject_cast<T*>(modal) != nullptr; },
                [answer](QWidget* modal) { answer(static_cast<T*>(modal)); });
}

// Types name into the next file dialog and accepts it, as a user would. A dialog that refuses the
// name is given up, with its message, so the caller returns instead of waiting for a user.
void chooseInNextFileDialog(const QString& name);

}  // namespace kw::test
