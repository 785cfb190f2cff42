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
