#include "support/fake_pointer.h"

namespace testsupport {

namespace {

class Feed final : public platform::MotionFeed {
public:
    explicit Feed(FakeMotionFeed& owner) : owner_(owner) { owner_.alive = owner_.listening = true; }
    ~Feed() override { owner_.alive = owner_.listening = false; }
    void setListening(bool listening) override { owner_.listening = listening; }

private:
    FakeMotionFeed& owner_;
};

}  // namespace

platform::PolledPointerMonitor::MotionWatch FakeMotionFeed::watch() {
    return [this](std::function<void()> moved) -> std::unique_ptr<platform::MotionFeed> {
        moved_ = std::move(moved);
        return std::make_unique<Feed>(*this);
    };
}

FakePointerMonitor::FakePointerMonitor() : previous_(platform::PointerMonitor::setShared(this)) {}
FakePointerMonitor::~FakePointerMonitor() { platform::PointerMonitor::setShared(previous_); }

std::optional<platform::PointerMonitor::Token> FakePointerMonitor::addGlobalMonitor(Handler handler) {
    if (!available) return std::nullopt;
    handlers_.emplace(next_, Entry{false, std::move(handler)});
    return next_++;
}

std::optional<platform::PointerMonitor::Token> FakePointerMonitor::addLocalMonitor(Handler handler) {
    if (!available) return std::nullopt;
    handlers_.emplace(next_, Entry{true, std::move(handler)});
    return next_++;
}

void FakePointerMonitor::removeMonitor(Token token) { handlers_.erase(token); }

void FakePointerMonitor::move(const QPointF& to, bool overOwnWindow) {
    location = to;
    const platform::PointerEvent event{platform::pointerEventKind(buttons), to};
    std::vector<Token> tokens;
    for (const auto& [token, entry] : handlers_) {
        if (entry.local == overOwnWindow) tokens.push_back(token);
    }
    for (Token token : tokens) {
        auto it = handlers_.find(token);
        if (it == handlers_.end()) continue;
        Handler handler = it->second.handler;
        handler(event);
    }
}

size_t FakePointerMonitor::globalCount() const {
    size_t n = 0;
    for (const auto& [token, entry] : handlers_) n += entry.local ? 0 : 1;
    return n;
}

size_t FakePointerMonitor::localCount() const { return handlers_.size() - globalCount(); }

FakeDragPasteboard::FakeDragPasteboard() : previous_(platform::DragPasteboard::setShared(this)) {}
FakeDragPasteboard::~FakeDragPasteboard() { platform::DragPasteboard::setShared(previous_); }

RecordingHapticFeedback::RecordingHapticFeedback() : previous_(platform::HapticFeedbackPerformer::setShared(this)) {}
RecordingHapticFeedback::~RecordingHapticFeedback() { platform::HapticFeedbackPerformer::setShared(previous_); }

}  // namespace testsupport
