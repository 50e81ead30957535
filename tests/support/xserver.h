#pragma once

#include "platform/windowsearch.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>

struct xcb_connection_t;

namespace kw::test {

// A helper program that must not outlive a test run killed before its tear-down.
std::unique_ptr<QProcess> startHelper(
    const QString& program, const QStringList& arguments,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// An X server of our own (Xvfb) on a display it picks itself.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Empty text when the server accepts clients; otherwise why it does not.
    QString start();
    // ":N", once started.
    QByteArray display() const { return m_display; }

private:
    std::unique_ptr<QProcess> m_process;
    QByteArray m_display;
};

// Top-level windows of another X client on a display: a connection of its own, as another
// program has. Each call returns once the server has handled it.
class TestWindows {
public:
    TestWindows() = default;
    // Closes the connection; the server then removes its windows.
    ~TestWindows();
    TestWindows(const TestWindows&) = delete;
    TestWindows& operator=(const TestWindows&) = delete;

    // Empty text when connected to display; otherwise why not.
    QString start(const QByteArray& display);

    // A top-level window with the class names; an empty text leaves that property out. WM_NAME
    // is stored as Latin-1, _NET_WM_NAME as UTF-8.
    WindowId window(const QString& className, const QString& instanceName, bool mapped,
                    const QString& netWmName, const QString& wmName = {});
    // A client inside a frame, as a reparenting window manager leaves it.
    WindowId framed(const QString& className, const QString& caption);
    WindowId child(WindowId parent, const QString& className);
    void unmap(WindowId window);
    void destroy(WindowId window);
    // Windows created and destroyed on a connection of their own as fast as the server takes
    // them, until stopStorm, which answers how many.
    void startStorm();
    unsigned long stopStorm();

private:
    QByteArray m_display;
    xcb_connection_t* m_connection = nullptr;
    std::thread m_storm;
    std::atomic<bool> m_stopStorm = false;
    unsigned long m_stormCount = 0;
};

// A suite on an Xvfb of its own, with test windows connected for each test. The toolkit stays
// offscreen or runs on that display, there with trayer as notification area if asked.
class XSuite : public ::testing::Test {
protected:
    enum class Toolkit { Offscreen, OnDisplay, OnDisplayWithTray };
    // From SetUpTestSuite.
    static void startSuite(Toolkit toolkit);
    static void TearDownTestSuite();
    // Derived fixtures return when it skipped: if (IsSkipped()) return;
    void SetUp() override;
    static QByteArray display() { return s_xvfb->display(); }

    static inline XvfbServer* s_xvfb = nullptr;
    static inline QProcess* s_trayer = nullptr;
    static inline bool s_toolkitOnDisplay = false;
    static inline QString s_whyNot;
    TestWindows windows;
};

}  // namespace kw::test
