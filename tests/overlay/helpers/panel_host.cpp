// An overlay panel, staged with a plain card, on the X server $DISPLAY names. After each show it
// prints its window as the server holds it: "window ID WxH shape X,Y,W,H ..." (the bounding
// shape's rectangles, in the window's coordinates). Each line "again" on its input hides the
// panel, drops its native window and shows it again, in a new one. Ends with its input.
#include "overlay/island_panel.h"

#include <QApplication>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

class Panel : public IslandPanel {
public:
    using IslandPanel::IslandPanel;
    void dropNativeWindow() { destroy(); }
};

void report(const Panel& panel) {
    xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto window = static_cast<xcb_window_t>(panel.winId());
    std::string line = "window " + std::to_string(window) + " " + std::to_string(panel.width()) + "x" +
                       std::to_string(panel.height()) + " shape";
    // A round trip on the panel's own connection: every request it made before has been done.
    const auto cookie = xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_BOUNDING);
    if (auto* shape = xcb_shape_get_rectangles_reply(c, cookie, nullptr)) {
        const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape);
        for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(shape); ++i) {
            line += " " + std::to_string(rects[i].x) + "," + std::to_string(rects[i].y) + "," +
                    std::to_string(rects[i].width) + "," + std::to_string(rects[i].height);
        }
        std::free(shape);
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Panel panel(QRectF(100, 300, 200, 40));
    panel.setStaged(true);
    panel.setContentView(new QWidget);
    panel.orderFront();
    report(panel);
    for (std::string command; std::getline(std::cin, command);) {
        if (command != "again") continue;
        panel.orderOut();
        panel.dropNativeWindow();
        panel.orderFront();
        report(panel);
    }
    return 0;
}
