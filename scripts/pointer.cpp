// A mouse for a Wayland desktop without input devices, through the compositor's virtual pointer
// protocol (wlr-virtual-pointer-unstable-v1). It stays for the whole session, as a real mouse
// would: clients lose their pointer when the seat loses its last one.
// Built and run by scripts/wayland-screenshots.sh:
//   pointer WIDTH HEIGHT
// prints "ready", then reads lines "click X Y left|right" and answers each with "done" once the
// compositor has handled it.

#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace {

// The protocol's two interfaces, declared by hand: only the requests used here are called.
extern const wl_interface virtualPointerInterface;

const wl_interface* managerTypes[] = {&wl_seat_interface, &virtualPointerInterface};
const wl_interface* noTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};

const wl_message managerRequests[] = {
    {"create_virtual_pointer", "?on", managerTypes},
    {"destroy", "", noTypes},
};
const wl_interface managerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, managerRequests, 0, nullptr};

const wl_message pointerRequests[] = {
    {"motion", "uff", noTypes},   {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes},   {"axis", "uuf", noTypes},
    {"frame", "", noTypes},       {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes}, {"axis_discrete", "uufi", noTypes},
    {"destroy", "", noTypes},
};
const wl_interface virtualPointerInterface = {"zwlr_virtual_pointer_v1", 1, 9,
                                              pointerRequests,           0, nullptr};

enum Request : uint32_t { MotionAbsolute = 1, Button = 2, Frame = 4, Destroy = 8 };
constexpr uint32_t kButtonLeft = 0x110;   // BTN_LEFT
constexpr uint32_t kButtonRight = 0x111;  // BTN_RIGHT

struct Globals {
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat)
        globals->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, managerInterface.name) == 0)
        globals->manager =
            static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
}

void globalRemoved(void*, wl_registry*, uint32_t) {}

uint32_t nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const uint32_t width = uint32_t(std::strtoul(argv[1], nullptr, 10));
    const uint32_t height = uint32_t(std::strtoul(argv[2], nullptr, 10));

    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland display\n");
        return 1;
    }
    Globals globals;
    const wl_registry_listener listener = {global, globalRemoved};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &globals);
    wl_display_roundtrip(display);
    if (!globals.manager) {
        std::fprintf(stderr, "the compositor offers no virtual pointer\n");
        return 1;
    }
    auto* pointer = wl_proxy_marshal_flags(globals.manager, 0, &virtualPointerInterface, 1, 0,
                                           globals.seat, nullptr);
    wl_display_roundtrip(display);
    std::printf("ready\n");
    std::fflush(stdout);

    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        unsigned x = 0;
        unsigned y = 0;
        char name[16] = {};
        if (std::sscanf(line, "click %u %u %15s", &x, &y, name) != 3) {
            std::fprintf(stderr, "unknown command: %s", line);
            return 2;
        }
        const uint32_t button = std::strcmp(name, "right") == 0 ? kButtonRight : kButtonLeft;
        wl_proxy_marshal_flags(pointer, MotionAbsolute, nullptr, 1, 0, nowMs(), x, y, width,
                               height);
        wl_proxy_marshal_flags(pointer, Frame, nullptr, 1, 0);
        // The client sees the pointer enter before the press, as with a real mouse.
        wl_display_roundtrip(display);
        for (const uint32_t state : {1u, 0u}) {
            wl_proxy_marshal_flags(pointer, Button, nullptr, 1, 0, nowMs(), button, state);
            wl_proxy_marshal_flags(pointer, Frame, nullptr, 1, 0);
            wl_display_roundtrip(display);
        }
        std::printf("done\n");
        std::fflush(stdout);
    }
    wl_proxy_marshal_flags(pointer, Destroy, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
