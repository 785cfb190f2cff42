#include "notch/expanded_dismiss_handshake.h"

ExpandedDismissHandshake& ExpandedDismissHandshake::shared() {
    static ExpandedDismissHandshake handshake;
    return handshake;
}

ExpandedDismissHandshake::ExpandedDismissHandshake(EventBus& bus, platform::Scheduler& scheduler)
    : bus_(bus), scheduler_(scheduler) {
    requestSubscription_ = bus_.expandedDismissSubject.sink([this] {
        const uint64_t request = ++requests_;
        // A fixed delay, not the end of any animation: the answer does not depend on a view.
        scheduler_.after(answerDelay, lifetime_.wrap([this, request] { answer(request); }));
    });
}

ExpandedDismissHandshake::~ExpandedDismissHandshake() = default;

void ExpandedDismissHandshake::answer(uint64_t request) {
    ++answers_;
    bus_.expandedDismissCompleteSubject.send();
    const auto it = waiters_.find(request);
    if (it == waiters_.end()) return;
    auto done = std::move(it->second);
    waiters_.erase(it);
    if (done) done();
}

platform::AnyCancellable ExpandedDismissHandshake::requestDismiss(std::function<void()> done) {
    // The request about to be sent is counted synchronously by the subscription above.
    const uint64_t request = requests_ + 1;
    waiters_[request] = std::move(done);
    bus_.expandedDismissSubject.send();
    return platform::AnyCancellable(lifetime_.wrap([this, request] { waiters_.erase(request); }));
}
