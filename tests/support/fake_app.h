#pragma once

#include "platform/shell/alert_presenter.h"
#include "platform/shell/application.h"

#include <QIcon>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace testsupport {

// A scripted application: keeps its policy, counts activations, icon changes and terminations
// (which run the delegate's will-terminate but quit nothing). Installs itself as the shared
// application while alive.
class FakeApplication final : public platform::Application {
public:
    FakeApplication();
    ~FakeApplication() override;
    FakeApplication(const FakeApplication&) = delete;
    FakeApplication& operator=(const FakeApplication&) = delete;

    platform::ActivationPolicy activationPolicy() const override { return policy_; }
    bool setActivationPolicy(platform::ActivationPolicy policy) override;
    void activate(bool ignoringOtherApps) override;
    void terminate() override;
    void setApplicationIconImage(const QIcon& icon) override;
    std::optional<QIcon> imageResource(const QString& name, const QString& extension) const override;

    // Scripting.
    void addImageResource(const QString& fileName) { resources_.push_back(fileName); }

    // Observations.
    int activationCount() const { return activations_; }
    int terminateCount() const { return terminates_; }
    int iconChanges() const { return iconChanges_; }

private:
    platform::ActivationPolicy policy_ = platform::ActivationPolicy::Accessory;
    std::vector<QString> resources_;
    int activations_ = 0;
    int terminates_ = 0;
    int iconChanges_ = 0;
    platform::Application* previous_;
};

// Alerts that wait for the test to answer them.
class FakeAlertSurface final : public platform::AlertSurface {
public:
    struct Shown {
        platform::Alert alert;
        std::function<void(int)> done;
    };

    void show(const platform::Alert& alert, std::function<void(int)> done) override {
        shown_.push_back(Shown{alert, std::move(done)});
    }
    const std::vector<Shown>& shown() const { return shown_; }
    // Answers the latest alert shown with `button`.
    void answer(int button) { shown_.back().done(button); }

private:
    std::vector<Shown> shown_;
};

}  // namespace testsupport
