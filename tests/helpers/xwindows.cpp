// Makes top-level windows on the X display for the tests, driven by one command per line on
// standard input (fields separated by tabs; "\r", "\n", "\t" and "\\" in captions are escapes).
// Each command answers one line, "ok" and the window id where there is one:
//   window CLASS INSTANCE MAPPED NET_WM_NAME WM_NAME   a top-level window; an empty name field
//                                                      leaves that property out; WM_NAME is
//                                                      stored as Latin-1
//   framed CLASS CAPTION    a client inside a window-manager-like frame (answers the client)
//   child PARENT CLASS      a child window with a class of its own
//   map ID | unmap ID | destroy ID
//   storm                   creates, maps and destroys windows until the next line, "stop",
//                           which answers "ok COUNT"

#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

xcb_connection_t* connection = nullptr;
xcb_screen_t* screen = nullptr;

xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return result;
}

// Waits until the server has handled every request sent so far.
void waitForServer() {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        result.push_back(field);
    if (!line.empty() && line.back() == '\t')
        result.emplace_back();
    return result;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
    return out;
}

std::string latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = utf8[i];
        if (c >= 0xC2 && c <= 0xC3 && i + 1 < utf8.size()) {
            out += char(((c & 0x1F) << 6) | (utf8[++i] & 0x3F));
        } else {
            out += char(c);
        }
    }
    return out;
}

void setProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 const std::string& value, uint8_t format = 8) {
    const uint32_t length = format == 8 ? uint32_t(value.size()) : uint32_t(value.size() / 4);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format, length,
                        value.data());
}

void setClass(xcb_window_t window, const std::string& windowClass, const std::string& instance) {
    const std::string value = instance + '\0' + windowClass + '\0';
    setProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, value);
}

xcb_window_t create(xcb_window_t parent, int x, int y) {
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {screen->white_pixel};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, parent, int16_t(x), int16_t(y), 160,
                      60, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL,
                      values);
    return window;
}

void storm() {
    unsigned long count = 0;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (::poll(&input, 1, 0) == 0) {
        std::vector<xcb_window_t> windows;
        for (int i = 0; i < 20; ++i) {
            const xcb_window_t window = create(screen->root, i * 5, i * 3);
            setClass(window, "Storm", "storm");
            setProperty(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "Sturm");
            xcb_map_window(connection, window);
            windows.push_back(window);
        }
        for (xcb_window_t window : windows)
            xcb_destroy_window(connection, window);
        xcb_flush(connection);
        count += windows.size();
    }
    waitForServer();
    std::string stop;
    std::getline(std::cin, stop);
    std::cout << "ok " << count << std::endl;
}

}  // namespace

int main() {
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::cerr << "cannot open the display" << std::endl;
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    screen = it.data;
    const xcb_atom_t netWmName = atom("_NET_WM_NAME");
    const xcb_atom_t utf8String = atom("UTF8_STRING");
    const xcb_atom_t wmState = atom("WM_STATE");

    std::string line;
    while (std::getline(std::cin, line)) {
        const std::vector<std::string> f = fields(line);
        if (f.empty())
            continue;
        const std::string& command = f[0];
        xcb_window_t answer = 0;
        if (command == "window" && f.size() >= 6) {
            answer = create(screen->root, 20, 20);
            setClass(answer, f[1], f[2]);
            if (!f[4].empty())
                setProperty(answer, netWmName, utf8String, unescape(f[4]));
            if (!f[5].empty())
                setProperty(answer, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, latin1(unescape(f[5])));
            if (f[3] == "1")
                xcb_map_window(connection, answer);
        } else if (command == "framed" && f.size() >= 3) {
            // As a reparenting window manager leaves it: a frame without class, the client
            // inside with its class and WM_STATE, a decoration window beside it.
            const xcb_window_t frame = create(screen->root, 40, 40);
            const xcb_window_t decoration = create(frame, 0, 0);
            answer = create(frame, 0, 20);
            setClass(answer, f[1], f[1]);
            setProperty(answer, netWmName, utf8String, unescape(f[2]));
            const uint32_t normalState[] = {1, 0};
            setProperty(answer, wmState, wmState,
                        std::string(reinterpret_cast<const char*>(normalState), 8), 32);
            xcb_map_window(connection, decoration);
            xcb_map_window(connection, answer);
            xcb_map_window(connection, frame);
        } else if (command == "child" && f.size() >= 3) {
            answer = create(xcb_window_t(std::stoul(f[1])), 0, 0);
            setClass(answer, f[2], f[2]);
            xcb_map_window(connection, answer);
        } else if ((command == "map" || command == "unmap" || command == "destroy") &&
                   f.size() >= 2) {
            const xcb_window_t window = xcb_window_t(std::stoul(f[1]));
            if (command == "map")
                xcb_map_window(connection, window);
            else if (command == "unmap")
                xcb_unmap_window(connection, window);
            else
                xcb_destroy_window(connection, window);
        } else if (command == "storm") {
            storm();
            continue;
        } else {
            std::cout << "error " << line << std::endl;
            continue;
        }
        waitForServer();
        std::cout << "ok";
        if (answer)
            std::cout << ' ' << answer;
        std::cout << std::endl;
    }
    xcb_disconnect(connection);
    return 0;
}
