#include "app/signal_quit.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

// A closed terminal (SIGHUP) and a quit key (SIGQUIT) would otherwise end the process on the
// spot: no shutdown, and the reopen socket left behind.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void onSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: wake the event loop through the socket.
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}
}  // namespace

SignalQuit::SignalQuit(std::function<void()> handler, QObject* parent) : QObject(parent), onSignal_(std::move(handler)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &byte, 1);
        onSignal_();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals) sigaction(number, &action, nullptr);
}

SignalQuit::~SignalQuit() {
    for (int number : kSignals) signal(number, SIG_DFL);
}

namespace {
struct ExitHook {
    std::function<void()> shutdown;
    ~ExitHook() {
        if (!shutdown) return;
        std::function<void()> run = std::move(shutdown);
        run();
        std::fflush(nullptr);
        ::_exit(0);
    }
};
thread_local ExitHook exitHook;
}  // namespace

ExitShutdown::ExitShutdown(std::function<void()> shutdown) { exitHook.shutdown = std::move(shutdown); }

ExitShutdown::~ExitShutdown() { exitHook.shutdown = nullptr; }
