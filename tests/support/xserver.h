#pragma once

#include "platform/windowsearch.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <memory>
#include <thread>

struct xcb_connection_t;

namespace kw::test {

// An X server of our own (Xvfb) on a display it picks itself, with trayer as notification area
// when asked.
struct XvfbServer {
    ~XvfbServer();
    // Empty text when the server accepts clients; otherwise why it does not.
    QString start(bool withTray = false);

    std::unique_ptr<QProcess> process, trayer;
    QByteArray display;  // ":N", once started
};

// Top-level windows of another X client; each call returns once the server has handled it.
struct TestWindows {
    explicit TestWindows(const QByteArray& display);
    ~TestWindows();  // the server removes its windows
    // An empty text leaves that property out; WM_NAME as Latin-1, _NET_WM_NAME as UTF-8.
    WindowId window(const QString& className, const QString& instanceName, bool mapped,
                    const QString& netWmName, const QString& wmName = {}, WindowId parent = 0);
    // A client inside a frame, as a reparenting window manager leaves it.
    WindowId framed(const QString& className, const QString& caption);
    void destroy(WindowId window);
    // Windows made and destroyed as fast as the server takes them; stopStorm answers how many.
    void startStorm();
    unsigned long stopStorm();

    QByteArray m_display;
    xcb_connection_t* m_connection = nullptr;
    std::jthread m_storm;  // asked to stop and joined when it goes
    unsigned long m_stormCount = 0;
};

// One Xvfb with trayer for the whole test program, the toolkit on it; the application goes
// before the server at the program's end.
struct XSuite : ::testing::Test {
    static void SetUpTestSuite();
    void SetUp() override;
    static QByteArray display() { return s_xvfb->display; }

    static inline std::unique_ptr<XvfbServer> s_xvfb;
    static inline QString s_whyNot;
    TestWindows windows{display()};
};

}  // namespace kw::test
