// Another application for the switcher's X11 tests: top-level windows (one unless told) with the
// hints real programs set, running until it is killed or the server goes away.
// switcher_test_window NAME [--desktop ID] [--gtk-id ID] [--tool] [--skip-taskbar] [--no-pid | --pid PID]
//                      [--windows N]
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string name = argv[1];
    std::string desktop;
    std::string gtkId;
    bool tool = false;
    bool skipTaskbar = false;
    bool pid = true;
    uint32_t claimed = static_cast<uint32_t>(getpid());
    int windows = 1;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--desktop") && i + 1 < argc) desktop = argv[++i];
        else if (!std::strcmp(argv[i], "--gtk-id") && i + 1 < argc) gtkId = argv[++i];
        else if (!std::strcmp(argv[i], "--tool")) tool = true;
        else if (!std::strcmp(argv[i], "--skip-taskbar")) skipTaskbar = true;
        else if (!std::strcmp(argv[i], "--no-pid")) pid = false;
        else if (!std::strcmp(argv[i], "--pid") && i + 1 < argc) claimed = static_cast<uint32_t>(std::atol(argv[++i]));
        else if (!std::strcmp(argv[i], "--windows") && i + 1 < argc) windows = std::atoi(argv[++i]);
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_ewmh_connection_t ew;
    if (!xcb_ewmh_init_atoms_replies(&ew, xcb_ewmh_init_atoms(c, &ew), nullptr)) return 1;

    // Every window of one process alike, as an application shows several documents.
    for (int n = 0; n < windows; ++n) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 200, 80, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, values);
        std::string instance = name;
        for (char& ch : instance) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const std::string wmClass = instance + '\0' + name + '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(),
                            wmClass.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, name.size(),
                            name.data());
        xcb_ewmh_set_wm_name(&ew, w, name.size(), name.data());
        // Accepts focus (ICCCM input hint).
        const uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
        if (pid) xcb_ewmh_set_wm_pid(&ew, w, claimed);
        if (!desktop.empty()) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_KDE_NET_WM_DESKTOP_FILE"), ew.UTF8_STRING, 8,
                                desktop.size(), desktop.data());
        }
        if (!gtkId.empty()) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_GTK_APPLICATION_ID"), ew.UTF8_STRING, 8,
                                gtkId.size(), gtkId.data());
        }
        if (tool) {
            xcb_atom_t type = ew._NET_WM_WINDOW_TYPE_UTILITY;
            xcb_ewmh_set_wm_window_type(&ew, w, 1, &type);
            xcb_atom_t state = ew._NET_WM_STATE_SKIP_TASKBAR;
            xcb_ewmh_set_wm_state(&ew, w, 1, &state);
        } else if (skipTaskbar) {
            // An ordinary window that asks to stay out of the task bar.
            xcb_atom_t state = ew._NET_WM_STATE_SKIP_TASKBAR;
            xcb_ewmh_set_wm_state(&ew, w, 1, &state);
        }
        // A tiny red 2x2 icon.
        const uint32_t icon[] = {2, 2, 0xffff0000, 0xffff0000, 0xffff0000, 0xffff0000};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, ew._NET_WM_ICON, XCB_ATOM_CARDINAL, 32, 6, icon);
        xcb_map_window(c, w);
    }
    xcb_flush(c);
    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) std::free(e);
    return 0;
}
