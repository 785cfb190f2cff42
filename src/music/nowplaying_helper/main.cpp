// The now-playing helper: a long-lived child of the application that reads the desktop's
// now-playing source and answers one line-based request at a time. Its one argument (the path
// of a script the application also writes) is not needed here. Between requests it sleeps in the
// event loop, which also keeps the list of players current as the bus announces them.

#include "music/nowplaying_helper/artwork_fetcher.h"
#include "music/nowplaying_helper/mpris_now_playing.h"
#include "music/nowplaying_helper/now_playing_helper.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

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

// The system's authorities vouch for https covers. A test build also trusts those of the PEM file
// QUILLVEX_TEST_EXTRA_CA names, so its tests can serve covers over https from loopback.
platform::HttpSecurity coverSecurity() {
    platform::HttpSecurity security = ArtworkFetcher::webSecurity();
#ifdef QUILLVEX_TEST_SEAMS
    const QString extra = qEnvironmentVariable("QUILLVEX_TEST_EXTRA_CA");
    if (!extra.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(extra, QSsl::Pem);
        if (!authorities.isEmpty()) security.caCertificates = QSslConfiguration::systemCaCertificates() + authorities;
    }
#endif
    return security;
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
    ArtworkFetcher webCovers({}, coverSecurity());
    MprisNowPlaying source(bus, 2000, &webCovers);
    NowPlayingHelperProtocol protocol(source);

    if (!writeLine(QByteArrayLiteral("READY"))) return 0;
    // Requests are read as they come; a line is answered once whole. The end of the input or
    // "quit" ends the loop.
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    auto answer = [&](const QByteArray& line) {
        bool quit = false;
        const std::optional<QByteArray> reply = protocol.handle(line, quit);
        return !quit && (!reply || writeLine(*reply));
    };
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[65536];
        const ssize_t length = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (length < 0 && errno == EINTR) return;
        // Announcements of players that came or went before this request count for its answer.
        QCoreApplication::sendPostedEvents();
        bool goOn = length > 0;
        if (goOn) pending.append(chunk, length);
        qsizetype end;
        while (goOn && (end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            goOn = answer(line);
        }
        if (goOn) return;
        // At the end of the input a last line without its line feed is still a request.
        if (length == 0 && !pending.isEmpty()) answer(pending);
        input.setEnabled(false);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return 0;
}
