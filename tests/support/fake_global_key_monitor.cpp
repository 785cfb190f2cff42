#include "support/fake_global_key_monitor.h"

#include <vector>

namespace testsupport {

FakeGlobalKeyMonitor::FakeGlobalKeyMonitor() : previous_(platform::GlobalKeyMonitor::setShared(this)) {}

FakeGlobalKeyMonitor::~FakeGlobalKeyMonitor() { platform::GlobalKeyMonitor::setShared(previous_); }

std::optional<platform::GlobalKeyMonitor::Token> FakeGlobalKeyMonitor::addKeyDownMonitor(Handler handler) {
    ++addCalls;
    if (!available) return std::nullopt;
    const Token token = next_++;
    handlers_.emplace(token, std::move(handler));
    return token;
}

void FakeGlobalKeyMonitor::removeMonitor(Token token) {
    ++removeCalls;
    handlers_.erase(token);
}

void FakeGlobalKeyMonitor::press(int keyCode, uint32_t modifierFlags) {
    std::vector<Handler> live;
    for (const auto& entry : handlers_) live.push_back(entry.second);
    for (auto& handler : live) handler(platform::KeyEvent{keyCode, modifierFlags});
}

}  // namespace testsupport
