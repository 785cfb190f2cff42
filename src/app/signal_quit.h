#pragma once

#include <QObject>

#include <functional>

// Turns SIGINT, SIGTERM, SIGHUP and SIGQUIT into `handler` on the main thread, so a signal ends the application
// as orderly as its Quit command.
class SignalQuit : public QObject {
    Q_OBJECT
public:
    explicit SignalQuit(std::function<void()> handler, QObject* parent = nullptr);
    ~SignalQuit() override;

private:
    std::function<void()> onSignal_;
};

// Qt ends the process with exit(1) from inside the event loop when the X connection breaks. exit()
// runs the main thread's thread_local destructors before any static object goes, so a hook there
// still finds every service alive: it runs `shutdown` (what a quit does) and ends the process
// with status 0 at once, before static objects are torn down under threads still at work.
// Create on the main thread; leaving its scope (main returning) disarms it.
class ExitShutdown {
public:
    explicit ExitShutdown(std::function<void()> shutdown);
    ~ExitShutdown();
    ExitShutdown(const ExitShutdown&) = delete;
    ExitShutdown& operator=(const ExitShutdown&) = delete;
};
