#include "platform/calendar/glib_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

// Ending the thread's owner elsewhere waits for the step in progress and those queued behind it:
// they use what their owner is about to free.
TEST(GlibThreadTest, EndingItElsewhereWaitsForTheStepsAlreadyGiven) {
    std::atomic<int> done{0};
    std::promise<void> started;
    {
        platform::GlibThread thread;
        thread.post([&] {
            started.set_value();
            // Long beside the end's own work, so an end that does not wait is seen.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ++done;
        });
        thread.post([&] { ++done; });
        started.get_future().wait();
    }
    EXPECT_EQ(done.load(), 2);
}

// The owner may be released by a step on the thread itself: that ends the loop once the step
// returns, without waiting for itself.
TEST(GlibThreadTest, EndingItFromItsOwnStepLetsTheStepFinish) {
    auto* thread = new platform::GlibThread;
    std::promise<bool> finished;
    thread->post([&] {
        const bool wasCurrent = thread->isCurrent();
        delete thread;
        finished.set_value(wasCurrent);
    });
    auto answer = finished.get_future();
    EXPECT_TRUE(answer.get());
}
