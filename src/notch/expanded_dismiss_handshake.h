#pragma once

// The answer to the expanded surface's dismiss request. Each request on expandedDismissSubject
// gets exactly one completion on expandedDismissCompleteSubject, 0.55 s after it, whether or not
// an expanded view is still on screen to play its exit (the views only animate). A waiter that
// asks through requestDismiss() is called for the answer to its own request only, so the late
// answer to an abandoned earlier request cannot end its wait early.

#include "core/event_bus.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class ExpandedDismissHandshake {
public:
    static constexpr double answerDelay = 0.55;

    // The handshake on the shared bus, created on first use (by the first expanded view or the
    // first request).
    static ExpandedDismissHandshake& shared();

    explicit ExpandedDismissHandshake(EventBus& bus = EventBus::shared(),
                                      platform::Scheduler& scheduler = platform::Scheduler::shared());
    ~ExpandedDismissHandshake();
    ExpandedDismissHandshake(const ExpandedDismissHandshake&) = delete;
    ExpandedDismissHandshake& operator=(const ExpandedDismissHandshake&) = delete;

    // Sends one request on expandedDismissSubject and calls `done` right after the completion
    // that answers this request has been sent. Cancelling the result drops the wait (the answer
    // still goes out on the bus).
    platform::AnyCancellable requestDismiss(std::function<void()> done);

    // Requests seen on the bus and completions sent, since creation.
    uint64_t requestCount() const { return requests_; }
    uint64_t answerCount() const { return answers_; }

private:
    void answer(uint64_t request);

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    uint64_t requests_ = 0;
    uint64_t answers_ = 0;
    std::map<uint64_t, std::function<void()>> waiters_;
    platform::AnyCancellable requestSubscription_;
    platform::Lifetime lifetime_;
};
