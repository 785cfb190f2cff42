// The application's tray bell in a process of its own, on the display it is given.
#include "platform/shell/status_item.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::StatusItem item(QStringLiteral("Quillvex"), QStringLiteral("bell.fill"),
                              [] { return std::vector<platform::MenuItem>{platform::MenuItem::command("Quit", [] {})}; });
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
