#include "tests/support/xserver.h"

#include "tests/support/cannotrun.h"
#include "tests/support/launch.h"
#include "tests/support/qtapp.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

#include <xcb/xcb.h>

#include <cstring>

namespace kw::test {

XvfbServer::~XvfbServer() {
    for (QProcess* each : {trayer.get(), process.get()})
        if (each) {
            each->terminate();
            each->waitForFinished(5000);
        }
}

QString XvfbServer::start(bool withTray) {
    // It names the free display it picked once it accepts clients; -noreset: no reset when its
    // last client leaves.
    process = launched({{"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                         "tcp", "-noreset"}});
    while (!process->canReadLine())
        if (!process->waitForReadyRead(15000))
            return QStringLiteral("Xvfb (needed) did not start");
    display = ':' + process->readLine().trimmed();
    if (withTray) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
        trayer = launched(
            {.command = {"trayer", "--edge", "bottom", "--align", "right", "--height", "24"},
             .environment = environment});
    }
    return {};
}

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return result;
}

// Waits until the server has handled every request sent so far.
void waitForServer(xcb_connection_t* connection) {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void setText(xcb_connection_t* connection, xcb_window_t window, const char* property,
             const char* type, const QByteArray& value) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(connection, property),
                        atom(connection, type), 8, uint32_t(value.size()), value.constData());
}

xcb_window_t create(xcb_connection_t* connection, xcb_window_t parent, int x, int y) {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {screen->white_pixel};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, parent ? parent : screen->root,
                      int16_t(x), int16_t(y), 160, 60, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL, values);
    return window;
}

}  // namespace

TestWindows::TestWindows(const QByteArray& display)
    : m_display(display), m_connection(xcb_connect(display.constData(), nullptr)) {}

TestWindows::~TestWindows() {
    xcb_disconnect(m_connection);
}

WindowId TestWindows::window(const QString& className, const QString& instanceName, bool mapped,
                             const QString& netWmName, const QString& wmName, WindowId parent) {
    const xcb_window_t window = create(m_connection, parent, parent ? 0 : 20, 20);
    setText(m_connection, window, "WM_CLASS", "STRING",
            instanceName.toUtf8() + '\0' + className.toUtf8() + '\0');
    if (!netWmName.isEmpty())
        setText(m_connection, window, "_NET_WM_NAME", "UTF8_STRING", netWmName.toUtf8());
    if (!wmName.isEmpty())
        setText(m_connection, window, "WM_NAME", "STRING", wmName.toLatin1());
    if (mapped)
        xcb_map_window(m_connection, window);
    waitForServer(m_connection);
    return window;
}

WindowId TestWindows::framed(const QString& className, const QString& caption) {
    // A frame without class, the client inside with WM_STATE, a decoration beside it.
    const xcb_window_t frame = create(m_connection, 0, 40, 40);
    const WindowId client = window(className, className, true, caption, {}, frame);
    const xcb_atom_t wmState = atom(m_connection, "WM_STATE");
    const uint32_t normalState[] = {1, 0};
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, client, wmState, wmState, 32, 2,
                        normalState);
    xcb_map_window(m_connection, create(m_connection, frame, 0, 0));
    xcb_map_window(m_connection, frame);
    waitForServer(m_connection);
    return client;
}

void TestWindows::destroy(WindowId window) {
    xcb_destroy_window(m_connection, window);
    waitForServer(m_connection);
}

void TestWindows::startStorm() {
    m_storm = std::jthread([this](std::stop_token stop) {
        xcb_connection_t* connection = xcb_connect(m_display.constData(), nullptr);
        while (!xcb_connection_has_error(connection) && !stop.stop_requested()) {
            xcb_window_t windows[20];
            for (xcb_window_t& window : windows) {
                window = create(connection, 0, 20, 20);
                setText(connection, window, "WM_CLASS", "STRING", QByteArray("storm\0Storm", 12));
                setText(connection, window, "WM_NAME", "STRING", "Sturm");
                xcb_map_window(connection, window);
            }
            for (const xcb_window_t window : windows)
                xcb_destroy_window(connection, window);
            xcb_flush(connection);
            m_stormCount += std::size(windows);
        }
        waitForServer(connection);
        xcb_disconnect(connection);
    });
}

unsigned long TestWindows::stopStorm() {
    m_storm.request_stop();
    m_storm.join();
    return m_stormCount;
}

namespace {

// Losing the connection would end us: the application goes first.
struct XSuiteEnd : ::testing::Environment {
    void TearDown() override {
        if (XSuite::s_xvfb && qgetenv("DISPLAY") == XSuite::s_xvfb->display)
            delete QCoreApplication::instance();
        XSuite::s_xvfb.reset();
    }
};
[[maybe_unused]] ::testing::Environment* const xSuiteEnd =
    ::testing::AddGlobalTestEnvironment(new XSuiteEnd);

}  // namespace

void XSuite::SetUpTestSuite() {
    if (s_xvfb)
        return;
    s_xvfb = std::make_unique<XvfbServer>();
    if (!(s_whyNot = s_xvfb->start(true)).isEmpty())
        return ensureApplication();
    qputenv("DISPLAY", s_xvfb->display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    ensureApplication();
    if (!waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        s_whyNot = QStringLiteral("trayer (needed) did not become the notification area");
}

void XSuite::SetUp() {
    if (!s_whyNot.isEmpty())
        KW_CANNOT_RUN(s_whyNot.toStdString());
}

}  // namespace kw::test
