#include "platform/shell/alert_presenter.h"

#include <QMessageBox>
#include <QPushButton>

#include <atomic>

namespace platform {

namespace {

std::atomic<AlertPresenter*> installed{nullptr};

class MessageBoxSurface final : public AlertSurface {
public:
    void show(const Alert& alert, std::function<void(int)> done) override {
        auto* box = new QMessageBox();
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        switch (alert.style) {
        case Alert::Style::Informational:
            box->setIcon(QMessageBox::Information);
            break;
        case Alert::Style::Warning:
            box->setIcon(QMessageBox::Warning);
            break;
        case Alert::Style::Critical:
            box->setIcon(QMessageBox::Critical);
            break;
        }
        box->setText(alert.messageText);
        box->setInformativeText(alert.informativeText);
        const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
        QList<QAbstractButton*> buttons;
        for (const QString& title : titles) buttons << box->addButton(title, QMessageBox::AcceptRole);
        box->setDefaultButton(static_cast<QPushButton*>(buttons.first()));
        // Escape or the close button answer with the last button (the cancelling one).
        box->setEscapeButton(buttons.last());
        QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done = std::move(done)] {
            const int index = static_cast<int>(buttons.indexOf(box->clickedButton()));
            done(index < 0 ? static_cast<int>(buttons.size()) - 1 : index);
        });
        box->show();
    }
};

}  // namespace

AlertPresenter::AlertPresenter(std::unique_ptr<AlertSurface> surface)
    : surface_(surface ? std::move(surface) : std::make_unique<MessageBoxSurface>()) {}

AlertPresenter::~AlertPresenter() = default;

AlertPresenter& AlertPresenter::shared() {
    if (AlertPresenter* presenter = installed.load()) return *presenter;
    static auto* presenter = new AlertPresenter();
    return *presenter;
}

AlertPresenter* AlertPresenter::setShared(AlertPresenter* presenter) { return installed.exchange(presenter); }

void AlertPresenter::present(Alert alert, std::function<void(int)> completion) {
    waiting_.push_back(Request{std::move(alert), std::move(completion)});
    if (!showing_) showNext();
}

void AlertPresenter::showNext() {
    if (waiting_.empty()) return;
    Request request = std::move(waiting_.front());
    waiting_.pop_front();
    showing_ = true;
    auto answered = std::make_shared<bool>(false);
    surface_->show(request.alert, lifetime_.wrap([this, answered, completion = std::move(request.completion)](int button) {
        // One answer per alert (the wrap drops answers after the presenter is gone).
        if (*answered) return;
        *answered = true;
        showing_ = false;
        if (completion) completion(button);
        // A completion that presented again has already started the next one.
        if (!showing_) showNext();
    }));
}

}  // namespace platform
