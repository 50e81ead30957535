// One detection pass and one refresh of the add-program list with a hundred windows on the
// desktop, on an Xvfb of the benchmark's own: plain top-level windows, and clients inside frames
// as a reparenting window manager leaves them.

#include "core/settings.h"
#include "p2p/addprogram.h"
#include "p2p/detector.h"
#include "platform/x11/x11windowsearch.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

QByteArray g_display;

// The benchmark's own client that makes the windows.
class WindowMaker {
public:
    WindowMaker() : m_connection(xcb_connect(g_display.constData(), nullptr)) {
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_wmState = atom("WM_STATE");
        m_netWmName = atom("_NET_WM_NAME");
        m_utf8 = atom("UTF8_STRING");
    }
    ~WindowMaker() { xcb_disconnect(m_connection); }

    // count mapped windows with class and caption, each inside a frame when framed.
    void make(int count, bool framed) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "Program " + std::to_string(i);
            xcb_window_t parent = m_screen->root;
            if (framed) {
                parent = create(m_screen->root);
                xcb_map_window(m_connection, create(parent));  // decoration
                xcb_map_window(m_connection, parent);
            }
            const xcb_window_t client = create(parent);
            const std::string wmClass = "program" + std::to_string(i) + '\0' + name + '\0';
            property(client, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.data(), wmClass.size());
            property(client, m_netWmName, m_utf8, 8, name.data(), name.size());
            if (framed) {
                const uint32_t normal[] = {1, 0};
                property(client, m_wmState, m_wmState, 32, normal, 2);
            }
            xcb_map_window(m_connection, client);
        }
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t result = reply->atom;
        std::free(reply);
        return result;
    }
    xcb_window_t create(xcb_window_t parent) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 100, 50, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, 0, nullptr);
        return window;
    }
    void property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type, uint8_t format,
                  const void* data, size_t length) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, name, type, format,
                            uint32_t(length), data);
    }

    xcb_connection_t* m_connection;
    xcb_screen_t* m_screen;
    xcb_atom_t m_wmState, m_netWmName, m_utf8;
};

// The three built-in entries and five user entries, none of which finds its window: every
// entry is compared with every window.
kw::AppData userEntries() {
    kw::AppData data;
    data.UserP2PList = QStringList{};
    for (int i = 0; i < 5; ++i)
        data.UserP2PList->append(QStringLiteral("Tausch %1").arg(i) + QChar(0) +
                                 QStringLiteral("Missing%1").arg(i));
    return data;
}

void DetectionPass(benchmark::State& state) {
    WindowMaker maker;
    maker.make(int(state.range(0)), state.range(1) != 0);
    auto search = kw::CreateX11WindowSearch(g_display, {});
    const kw::AppData data = userEntries();
    kw::P2PDetector detector(data, *search);
    for (auto _ : state)
        detector.Timer_CheckP2P();
    state.counters["windows"] = double(search->ListTopWindows().size());
}
BENCHMARK(DetectionPass)
    ->ArgNames({"windows", "framed"})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Unit(benchmark::kMillisecond);

void RefreshWindowList(benchmark::State& state) {
    WindowMaker maker;
    maker.make(int(state.range(0)), state.range(1) != 0);
    auto search = kw::CreateX11WindowSearch(g_display, {});
    size_t lines = 0;
    for (auto _ : state)
        lines = kw::ListableWindows(*search, {}).size();
    state.counters["lines"] = double(lines);
}
BENCHMARK(RefreshWindowList)
    ->ArgNames({"windows", "framed"})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    while (!xvfb.canReadLine()) {
        if (!xvfb.waitForReadyRead(15000)) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return 1;
        }
    }
    g_display = ':' + xvfb.readLine().trimmed();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    return 0;
}
