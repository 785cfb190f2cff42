#pragma once

#include "platform/shell/open_panel.h"

#include <vector>

namespace testsupport {

// Installs itself as the shared panel; records each request and holds its completion until the
// test answers, so "the settings window stays usable meanwhile" is the default.
class FakeOpenPanel final : public platform::OpenPanel {
public:
    FakeOpenPanel() : previous_(platform::OpenPanel::setShared(this)) {}
    ~FakeOpenPanel() override { platform::OpenPanel::setShared(previous_); }
    FakeOpenPanel(const FakeOpenPanel&) = delete;
    FakeOpenPanel& operator=(const FakeOpenPanel&) = delete;

    void begin(const platform::OpenPanelRequest& request, Completion completion) override {
        requests.push_back(request);
        pending_.push_back(std::move(completion));
    }

    bool isOpen() const { return !pending_.empty(); }
    // Answers the oldest open panel.
    void answer(platform::OpenPanelResponse response, const QStringList& paths = {}) {
        if (pending_.empty()) return;
        Completion done = std::move(pending_.front());
        pending_.erase(pending_.begin());
        done(response, paths);
    }
    void choose(const QString& path) { answer(platform::OpenPanelResponse::ok, {path}); }
    void cancel() { answer(platform::OpenPanelResponse::cancel); }

    std::vector<platform::OpenPanelRequest> requests;

private:
    platform::OpenPanel* previous_;
    std::vector<Completion> pending_;
};

}  // namespace testsupport
