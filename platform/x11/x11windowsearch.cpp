#include "platform/x11/x11windowsearch.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace kw {
namespace {

// A window manager puts each client into a frame, sometimes a frame within a frame; deeper
// windows are the programs' own child windows.
constexpr int kFrameDepth = 3;
// Captions and class names longer than this are cut; 64 KiB in 32-bit units.
constexpr uint32_t kPropertyLength = 16384;

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
// A reply or an error of one request; xcb hands both over with malloc.
template <typename T>
using XcbOwned = std::unique_ptr<T, FreeDeleter>;

// One connection of our own: X errors of its requests come back with their replies and never
// reach the toolkit's connection or its error handler.
class XcbConnection {
public:
    explicit XcbConnection(const QByteArray& display)
        : m_connection(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr)) {}
    ~XcbConnection() { xcb_disconnect(m_connection); }
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return m_connection; }
    bool broken() const { return xcb_connection_has_error(m_connection) != 0; }

private:
    xcb_connection_t* m_connection;
};

// The reply to a request, or null when it failed (the window has gone, the connection broke).
template <typename Reply, typename Cookie>
XcbOwned<Reply> replyOf(xcb_connection_t* connection, Cookie cookie,
                        Reply* (*wait)(xcb_connection_t*, Cookie, xcb_generic_error_t**)) {
    xcb_generic_error_t* error = nullptr;
    XcbOwned<Reply> reply(wait(connection, cookie, &error));
    const XcbOwned<xcb_generic_error_t> ownedError(error);
    return ownedError ? nullptr : std::move(reply);
}

using PropertyReply = XcbOwned<xcb_get_property_reply_t>;

QByteArray propertyBytes(const xcb_get_property_reply_t& reply) {
    const int length = xcb_get_property_value_length(&reply);
    return QByteArray(static_cast<const char*>(xcb_get_property_value(&reply)), length);
}

// WM_CLASS holds two strings, each ended by a NUL: the instance name, then the class name.
TopWindow topWindowOf(xcb_window_t window, const xcb_get_property_reply_t* wmClass) {
    TopWindow top{window, {}, {}};
    if (!wmClass || wmClass->type == XCB_NONE)
        return top;
    const QByteArray bytes = propertyBytes(*wmClass);
    const qsizetype split = bytes.indexOf('\0');
    const QByteArray instance = split < 0 ? bytes : bytes.left(split);
    QByteArray className = split < 0 ? QByteArray() : bytes.mid(split + 1);
    if (const qsizetype end = className.indexOf('\0'); end >= 0)
        className.truncate(end);
    top.instanceName = QString::fromLatin1(instance);
    top.className = QString::fromLatin1(className);
    return top;
}

class X11WindowSearch : public WindowSearch {
public:
    X11WindowSearch(QByteArray display, WindowSearchLog log)
        : m_display(std::move(display)), m_log(std::move(log)) {}

    bool connect() {
        auto connection = std::make_unique<XcbConnection>(m_display);
        if (connection->broken())
            return false;
        m_connection = std::move(connection);
        xcb_connection_t* c = m_connection->get();
        const char* names[] = {"_NET_WM_NAME", "UTF8_STRING", "WM_STATE"};
        xcb_intern_atom_cookie_t cookies[3];
        for (int i = 0; i < 3; ++i)
            cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(names[i])), names[i]);
        xcb_atom_t* atoms[] = {&m_netWmName, &m_utf8String, &m_wmState};
        for (int i = 0; i < 3; ++i) {
            const auto reply = replyOf(c, cookies[i], xcb_intern_atom_reply);
            *atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_NONE);
        }
        m_roots.clear();
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
            m_roots.push_back(it.data->root);
        return !m_connection->broken();
    }

    bool HasDisplay() override {
        if (!usable())
            return false;
        checkConnection();
        return m_connection != nullptr;
    }

    std::vector<TopWindow> ListTopWindows() override {
        if (!usable())
            return {};
        std::vector<TopWindow> windows = collectTopWindows();
        checkConnection();
        return windows;
    }

    QString GetWindowCaption(WindowId window) override {
        if (!usable())
            return {};
        xcb_connection_t* c = m_connection->get();
        const auto netCookie =
            xcb_get_property(c, 0, window, m_netWmName, m_utf8String, 0, kPropertyLength);
        const auto nameCookie = xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME,
                                                 XCB_GET_PROPERTY_TYPE_ANY, 0, kPropertyLength);
        const PropertyReply netName = replyOf(c, netCookie, xcb_get_property_reply);
        const PropertyReply name = replyOf(c, nameCookie, xcb_get_property_reply);
        checkConnection();
        if (netName && netName->type == m_utf8String &&
            xcb_get_property_value_length(netName.get()))
            return QString::fromUtf8(propertyBytes(*netName));
        if (!name || name->type == XCB_NONE)
            return {};
        const QByteArray bytes = propertyBytes(*name);
        if (name->type == m_utf8String)
            return QString::fromUtf8(bytes);
        // STRING is Latin-1, and so is compound text as long as it switches to no other set.
        return QString::fromLatin1(bytes);
    }

    bool IsWindowVisible(WindowId window) override {
        if (!usable())
            return false;
        xcb_connection_t* c = m_connection->get();
        const auto attributes =
            replyOf(c, xcb_get_window_attributes(c, window), xcb_get_window_attributes_reply);
        checkConnection();
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    std::optional<QString> GetWindowClassName(WindowId window) override {
        if (!usable())
            return std::nullopt;
        xcb_connection_t* c = m_connection->get();
        const PropertyReply wmClass = replyOf(c, classRequest(window), xcb_get_property_reply);
        checkConnection();
        if (!wmClass)
            return std::nullopt;
        const TopWindow top = topWindowOf(window, wmClass.get());
        return top.className.isEmpty() ? top.instanceName : top.className;
    }

private:
    struct Candidate {
        xcb_window_t window;
        int rank;  // position of its top-level ancestor in the stacking order, bottom first
    };

    xcb_get_property_cookie_t classRequest(xcb_window_t window) const {
        return xcb_get_property(m_connection->get(), 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                                0, 256);
    }

    // Every request of a level goes out before the first reply is read, so a pass over a full
    // desktop costs a few round trips, not one per window.
    std::vector<TopWindow> collectTopWindows() {
        xcb_connection_t* c = m_connection->get();
        std::vector<Candidate> level;
        int rank = 0;
        for (const std::vector<xcb_window_t>& children : childrenOf(m_roots)) {
            for (xcb_window_t child : children)
                level.push_back({child, rank++});
        }
        const std::vector<Candidate> topLevel = level;
        std::multimap<int, TopWindow> found;
        std::set<int> ranksWithClient;
        for (int depth = 0; depth <= kFrameDepth && !level.empty(); ++depth) {
            // The children are asked for with the properties, before it is known which windows
            // are frames: a round trip less per level.
            const bool descend = depth < kFrameDepth;
            std::vector<xcb_get_property_cookie_t> classCookies;
            std::vector<xcb_get_property_cookie_t> stateCookies;
            std::vector<xcb_query_tree_cookie_t> treeCookies;
            for (const Candidate& candidate : level) {
                classCookies.push_back(classRequest(candidate.window));
                stateCookies.push_back(xcb_get_property(c, 0, candidate.window, m_wmState,
                                                        XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
                if (descend)
                    treeCookies.push_back(xcb_query_tree(c, candidate.window));
            }
            std::vector<Candidate> next;
            for (size_t i = 0; i < level.size(); ++i) {
                const PropertyReply wmClass = replyOf(c, classCookies[i], xcb_get_property_reply);
                const PropertyReply wmState = replyOf(c, stateCookies[i], xcb_get_property_reply);
                const auto tree =
                    descend ? replyOf(c, treeCookies[i], xcb_query_tree_reply) : nullptr;
                if (!wmClass || !wmState)
                    continue;  // gone meanwhile
                const bool managed = wmState->type != XCB_NONE;
                // At the top a window of its own class is a client; inside a frame only the
                // window the window manager manages is, not the frame's decorations.
                if (managed || (depth == 0 && wmClass->type != XCB_NONE)) {
                    found.emplace(level[i].rank, topWindowOf(level[i].window, wmClass.get()));
                    ranksWithClient.insert(level[i].rank);
                } else if (tree) {
                    const xcb_window_t* first = xcb_query_tree_children(tree.get());
                    for (int k = 0; k < xcb_query_tree_children_length(tree.get()); ++k)
                        next.push_back({first[k], level[i].rank});
                }
            }
            level = std::move(next);
        }
        // A top-level window without class and without a managed client inside is still a
        // top-level window, as a program's hidden helper windows are.
        for (const Candidate& candidate : topLevel) {
            if (!ranksWithClient.count(candidate.rank))
                found.emplace(candidate.rank, TopWindow{candidate.window, {}, {}});
        }
        std::vector<TopWindow> windows;
        windows.reserve(found.size());
        for (auto it = found.rbegin(); it != found.rend(); ++it)
            windows.push_back(it->second);
        return windows;
    }

    // The children of each window, bottom first; none for a window that has gone.
    std::vector<std::vector<xcb_window_t>> childrenOf(const std::vector<xcb_window_t>& parents) {
        xcb_connection_t* c = m_connection->get();
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (xcb_window_t parent : parents)
            cookies.push_back(xcb_query_tree(c, parent));
        std::vector<std::vector<xcb_window_t>> children(parents.size());
        for (size_t i = 0; i < parents.size(); ++i) {
            const auto tree = replyOf(c, cookies[i], xcb_query_tree_reply);
            if (!tree)
                continue;
            const xcb_window_t* first = xcb_query_tree_children(tree.get());
            children[i].assign(first, first + xcb_query_tree_children_length(tree.get()));
        }
        return children;
    }

    // A broken connection (the server went away) is dropped and tried again at the next call.
    bool usable() {
        if (m_connection)
            return true;
        if (!connect()) {
            m_connection.reset();
            return false;
        }
        if (m_lost && m_log)
            m_log(QStringLiteral("P2P detection: connected to the X display again"));
        m_lost = false;
        return true;
    }

    void checkConnection() {
        if (!m_connection || !m_connection->broken())
            return;
        m_connection.reset();
        if (!m_lost && m_log)
            m_log(QStringLiteral(
                "P2P detection: lost the X display, windows are not searched, processes are"));
        m_lost = true;
    }

    QByteArray m_display;
    WindowSearchLog m_log;
    std::unique_ptr<XcbConnection> m_connection;
    std::vector<xcb_window_t> m_roots;
    xcb_atom_t m_netWmName = XCB_NONE;
    xcb_atom_t m_utf8String = XCB_NONE;
    xcb_atom_t m_wmState = XCB_NONE;
    bool m_lost = false;
};

}  // namespace

std::unique_ptr<WindowSearch> CreateX11WindowSearch(const QByteArray& display,
                                                    WindowSearchLog log) {
    auto search = std::make_unique<X11WindowSearch>(display, std::move(log));
    if (!search->connect())
        return nullptr;
    return search;
}

}  // namespace kw
