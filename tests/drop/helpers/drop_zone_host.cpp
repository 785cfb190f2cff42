// Hosts the drop zone in a window at (600, 0) on a private X server and prints every list of
// files the zone sends on the bus ("bus: URL URL ..."). Prints "ready" once shown.
#include "core/event_bus.h"
#include "drop/drop_zone_view.h"
#include "support/ready_when_exposed.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto subscription = EventBus::shared().dropEventSubject.sink([](const QList<QUrl>& urls) {
        QStringList texts;
        for (const QUrl& url : urls) texts << url.toString();
        std::printf("bus: %s\n", qPrintable(texts.join(QLatin1Char(' '))));
        std::fflush(stdout);
    });
    DropZoneServices services;
    services.perform = [](DropAction, const QList<QUrl>&) {};
    DropZoneView zone(nullptr, services);
    zone.move(600, 0);
    testsupport::announceReadyWhenExposed(zone);
    zone.show();
    return app.exec();
}
