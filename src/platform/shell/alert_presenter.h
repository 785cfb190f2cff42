#pragma once

#include "platform/runtime/dispatch.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>

namespace platform {

struct Alert {
    enum class Style { Informational, Warning, Critical };

    Style style = Style::Informational;
    QString messageText;
    QString informativeText;
    // Left to right as the user reads them; the first is the default. None shows one "OK".
    QStringList buttons;
};

// Shows one modal alert and reports the index of the button that ended it.
class AlertSurface {
public:
    virtual ~AlertSurface() = default;
    virtual void show(const Alert& alert, std::function<void(int button)> done) = 0;
};

// Modal alerts one at a time: a request while one is on screen waits for it to be answered.
class AlertPresenter {
public:
    // nullptr: modal message boxes.
    explicit AlertPresenter(std::unique_ptr<AlertSurface> surface = nullptr);
    ~AlertPresenter();
    AlertPresenter(const AlertPresenter&) = delete;
    AlertPresenter& operator=(const AlertPresenter&) = delete;

    // The process-wide presenter (message boxes unless a test installed another).
    static AlertPresenter& shared();
    // Installs `presenter` (nullptr restores the default); returns the previous one.
    static AlertPresenter* setShared(AlertPresenter* presenter);

    // `completion` gets the index of the chosen button once the user has answered.
    void present(Alert alert, std::function<void(int button)> completion = {});

    bool isShowing() const { return showing_; }

private:
    struct Request {
        Alert alert;
        std::function<void(int)> completion;
    };
    void showNext();

    std::unique_ptr<AlertSurface> surface_;
    std::deque<Request> waiting_;
    bool showing_ = false;
    Lifetime lifetime_;
};

}  // namespace platform
