#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into `handler` on the main thread (by default QCoreApplication::quit()),
// so a signal ends the application as orderly as its Quit command.
class SignalQuit : public QObject {
    Q_OBJECT
public:
    explicit SignalQuit(std::function<void()> handler = {}, QObject* parent = nullptr);
    ~SignalQuit() override;

private:
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> onSignal_;
};
