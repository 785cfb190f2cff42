#pragma once

#include "platform/input_monitor/global_key_monitor.h"

#include <map>

namespace testsupport {

// A scriptable global key monitor: counts monitors added and removed, can refuse to create one,
// and delivers pressed keys to every live handler. Installs itself as the shared one while alive.
class FakeGlobalKeyMonitor final : public platform::GlobalKeyMonitor {
public:
    FakeGlobalKeyMonitor();
    ~FakeGlobalKeyMonitor() override;
    FakeGlobalKeyMonitor(const FakeGlobalKeyMonitor&) = delete;
    FakeGlobalKeyMonitor& operator=(const FakeGlobalKeyMonitor&) = delete;

    std::optional<Token> addKeyDownMonitor(Handler handler) override;
    void removeMonitor(Token token) override;

    // Sends a key-down to the live handlers.
    void press(int keyCode, uint32_t modifierFlags = 0);

    // While false, adding a monitor gives none (no display).
    bool available = true;
    int addCalls = 0;
    int removeCalls = 0;
    size_t liveCount() const { return handlers_.size(); }

private:
    std::map<Token, Handler> handlers_;
    Token next_ = 1;
    platform::GlobalKeyMonitor* previous_;
};

}  // namespace testsupport
