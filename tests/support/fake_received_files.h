#pragma once

#include "platform/sharing/received_files.h"
#include "support/observer_list.h"

namespace testsupport {

// Received files the test announces by hand, synchronously, to every live observer.
class FakeReceivedFiles final : public platform::ReceivedFiles {
public:
    [[nodiscard]] platform::AnyCancellable observeReceived(Handler handler) override { return observers_.add(std::move(handler)); }

    void receive(const QString& file) { observers_.notify(file); }
    int observerCount() const { return observers_.activeCount(); }

private:
    ObserverList<QString> observers_;
};

}  // namespace testsupport
