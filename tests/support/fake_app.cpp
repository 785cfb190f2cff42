#include "support/fake_app.h"

#include <algorithm>

namespace testsupport {

FakeApplication::FakeApplication() : previous_(platform::Application::setShared(this)) {}

FakeApplication::~FakeApplication() { platform::Application::setShared(previous_); }

bool FakeApplication::setActivationPolicy(platform::ActivationPolicy policy) {
    policy_ = policy;
    return true;
}

void FakeApplication::activate(bool) { ++activations_; }

void FakeApplication::terminate() {
    ++terminates_;
    runWillTerminateOnce();
}

void FakeApplication::setApplicationIconImage(const QIcon&) { ++iconChanges_; }

std::optional<QIcon> FakeApplication::imageResource(const QString& name, const QString& extension) const {
    const QString fileName = name + QLatin1Char('.') + extension;
    if (std::find(resources_.begin(), resources_.end(), fileName) == resources_.end()) return std::nullopt;
    return QIcon();
}

}  // namespace testsupport
