// The now-playing helper: a long-lived child of the application that reads the desktop's
// now-playing source and answers one line-based request at a time. Its one argument (the path
// of a script the application also writes) is not needed here.

#include "music/nowplaying_helper/artwork_fetcher.h"
#include "music/nowplaying_helper/mpris_now_playing.h"
#include "music/nowplaying_helper/now_playing_helper.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// The session bus, without ever auto-launching one: with no address and no bus socket in the
// runtime folder there is none.
QDBusConnection sessionBus() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return QDBusConnection::sessionBus();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString socket = runtime + QStringLiteral("/bus");
    if (runtime.isEmpty() || !QFileInfo::exists(socket)) return QDBusConnection(QStringLiteral("none"));
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=") + socket, QStringLiteral("quillvex-nowplaying"));
}

bool writeLine(const QByteArray& line) {
    return std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout) == static_cast<size_t>(line.size()) &&
           std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The application may be gone when a reply is written: that ends the loop, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    QDBusConnection bus = sessionBus();
    if (!bus.isConnected()) {
        const QString reason = bus.lastError().message();
        std::fprintf(stderr, "ERROR: no session bus%s%s\n", reason.isEmpty() ? "" : ": ", qPrintable(reason));
        return 1;
    }
    ArtworkFetcher webCovers;
    MprisNowPlaying source(bus, 2000, &webCovers);
    NowPlayingHelperProtocol protocol(source);

    if (!writeLine(QByteArrayLiteral("READY"))) return 0;
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t length;
    bool quit = false;
    while (!quit && (length = getline(&buffer, &capacity, stdin)) >= 0) {
        const std::optional<QByteArray> reply = protocol.handle(QByteArray(buffer, length), quit);
        if (reply && !writeLine(*reply)) break;
    }
    std::free(buffer);
    return 0;
}
