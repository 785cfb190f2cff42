// The application's tray bell in a process of its own, on the display it is given. With --menu it
// opens the tray menu twice and prints the menu as it then stands, one line per entry.
#include "platform/shell/status_item.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::StatusItem item(QStringLiteral("Quillvex"), QStringLiteral("bell.fill"), [] {
        return std::vector<platform::MenuItem>{platform::MenuItem::command("Settings...", [] {}),
                                               platform::MenuItem::separator(),
                                               platform::MenuItem::command("Quit", [] {})};
    });
    if (app.arguments().contains(QStringLiteral("--menu"))) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* menu = qobject_cast<QMenu*>(widget);
            if (!menu) continue;
            for (int i = 0; i < 2; ++i) Q_EMIT menu->aboutToShow();
            for (const QAction* action : menu->actions())
                std::printf("item %s\n", action->isSeparator() ? "-" : qPrintable(action->text()));
        }
        return 0;
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
