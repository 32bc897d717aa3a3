// A tiny X client for the desktop tests: opens windows with exactly the properties asked for
// (or without them), reports "ready <window ids>" once the window manager has mapped them all,
// then reports every button press and release. Exits when its standard input closes.
//
//   x11_test_client --window 'title=A;x=10;y=20;w=300;h=200;class=Cls;pid=1;netname=1;
//                            type=normal;above=0;decorated=1' ...

#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Options = std::map<std::string, std::string>;

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return result;
}

void setProperty(xcb_connection_t *c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, uint8_t format,
                 uint32_t count, const void *data)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, format, count, data);
}

xcb_window_t createWindow(xcb_connection_t *c, xcb_screen_t *screen, const std::string &spec)
{
    Options o{{"title", ""}, {"x", "0"}, {"y", "0"}, {"w", "200"}, {"h", "150"}, {"class", ""},
              {"pid", "1"}, {"netname", "1"}, {"type", "normal"}, {"above", "0"}, {"decorated", "1"}};
    std::istringstream items(spec);
    for (std::string item; std::getline(items, item, ';');) {
        if (const size_t equals = item.find('='); equals != std::string::npos)
            o[item.substr(0, equals)] = item.substr(equals + 1);
    }
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_BUTTON_PRESS
                                                        | XCB_EVENT_MASK_BUTTON_RELEASE};
    const auto number = [&o](const char *key) { return std::atoi(o.at(key).c_str()); };
    const auto x = int16_t(number("x")), y = int16_t(number("y"));
    const auto width = uint16_t(number("w")), height = uint16_t(number("h"));
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, x, y, width, height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);

    xcb_size_hints_t hints{};
    xcb_icccm_size_hints_set_position(&hints, 1, x, y);
    xcb_icccm_size_hints_set_size(&hints, 1, width, height);
    xcb_icccm_size_hints_set_win_gravity(&hints, XCB_GRAVITY_NORTH_WEST);
    xcb_icccm_set_wm_normal_hints(c, w, &hints);

    const std::string &title = o.at("title");
    if (o.at("netname") == "1") {
        setProperty(c, w, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 8, uint32_t(title.size()), title.data());
        const std::string legacy = "legacy " + title;
        setProperty(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, uint32_t(legacy.size()), legacy.data());
    } else if (!title.empty()) {
        setProperty(c, w, XCB_ATOM_WM_NAME, atom(c, "UTF8_STRING"), 8, uint32_t(title.size()), title.data());
    }
    if (o.at("pid") == "1") {
        const uint32_t pid = uint32_t(getpid());
        setProperty(c, w, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    if (!o.at("class").empty()) {
        const std::string value = o.at("class") + '\0' + o.at("class") + '\0';
        setProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, uint32_t(value.size()), value.data());
    }

    std::string type = "_NET_WM_WINDOW_TYPE_" + o.at("type");
    for (char &ch : type)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    const xcb_atom_t typeAtom = atom(c, type.c_str());
    setProperty(c, w, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &typeAtom);
    if (o.at("above") == "1") {
        const xcb_atom_t above = atom(c, "_NET_WM_STATE_ABOVE");
        setProperty(c, w, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 1, &above);
    }
    if (o.at("decorated") == "0") {
        const uint32_t motif[5] = {2, 0, 0, 0, 0};  // flags: decorations; decorations: none
        const xcb_atom_t motifAtom = atom(c, "_MOTIF_WM_HINTS");
        setProperty(c, w, motifAtom, motifAtom, 32, 5, motif);
    }
    xcb_map_window(c, w);
    return w;
}

}  // namespace

int main(int argc, char *argv[])
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    std::vector<xcb_window_t> windows;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--window") == 0)
            windows.push_back(createWindow(c, screen, argv[i + 1]));
    }
    xcb_flush(c);

    std::set<xcb_window_t> unmapped(windows.begin(), windows.end());
    bool ready = false;
    pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY) {
                unmapped.erase(reinterpret_cast<xcb_map_notify_event_t *>(event)->window);
            } else if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
                const auto *button = reinterpret_cast<xcb_button_press_event_t *>(event);
                std::printf("%s %u %u %d %d %d %d\n", type == XCB_BUTTON_PRESS ? "press" : "release",
                            button->event, unsigned(button->detail), button->event_x, button->event_y,
                            button->root_x, button->root_y);
                std::fflush(stdout);
            }
            std::free(event);
        }
        if (!ready && unmapped.empty()) {
            ready = true;
            std::printf("ready");
            for (const xcb_window_t w : windows)
                std::printf(" %u", w);
            std::printf("\n");
            std::fflush(stdout);
        }
        if (xcb_connection_has_error(c))
            return 1;
        if (poll(fds, 2, -1) < 0)
            return 1;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                break;
        }
    }

    // Withdraw before leaving: once the window manager has put each window back on the root, it
    // has nothing left to send to these ids, which the X server hands to the next client again.
    std::set<xcb_window_t> framed;
    for (const xcb_window_t w : windows) {
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (tree && tree->parent != screen->root)
            framed.insert(w);
        std::free(tree);
        xcb_unmap_window(c, w);
    }
    xcb_flush(c);
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            const auto *reparent = reinterpret_cast<xcb_reparent_notify_event_t *>(event);
            if ((event->response_type & 0x7f) == XCB_REPARENT_NOTIFY && reparent->parent == screen->root)
                framed.erase(reparent->window);
            std::free(event);
        }
        if (framed.empty() || xcb_connection_has_error(c) || poll(fds, 1, 2000) <= 0)
            break;
    }
    xcb_disconnect(c);
    return 0;
}
