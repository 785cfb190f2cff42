#include "platform/runtime/reactive.h"
#include "support/virtual_scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform;

TEST(Subjects, CurrentValueDeliversHeldValueSynchronouslyOnSubscribe) {
    CurrentValueSubject<int> subject(0);
    subject.send(1);
    subject.send(2);
    subject.send(3);
    std::vector<int> got;
    auto c = subject.sink([&](const int& v) { got.push_back(v); });
    EXPECT_EQ(got, (std::vector<int>{3}));
    subject.send(3);  // equal values are still delivered
    EXPECT_EQ(got, (std::vector<int>{3, 3}));
    EXPECT_EQ(subject.value(), 3);

    // Every delivery, the held value's included, reaches the one handler kept, not a copy.
    std::vector<int> counts;
    auto counting = subject.sink([&counts, n = 0](const int&) mutable { counts.push_back(++n); });
    subject.send(4);
    subject.send(5);
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 3}));
}

TEST(Subjects, PassthroughKeepsNothingAndCancelStopsDelivery) {
    PassthroughSubject<int> subject;
    subject.send(1);
    std::vector<int> got;
    {
        auto c = subject.sink([&](const int& v) { got.push_back(v); });
        subject.send(2);
    }
    subject.send(3);
    EXPECT_EQ(got, (std::vector<int>{2}));
    EXPECT_EQ(subject.subscriberCount(), 0u);

    PassthroughSubject<> ping;
    int pings = 0;
    CancellableSet set;
    set.insert(ping.sink([&] { ++pings; }));
    set.insert(ping.sink([&] { ++pings; }));
    ping.send();
    set.cancelAll();
    ping.send();
    EXPECT_EQ(pings, 2);
    EXPECT_TRUE(set.empty());

    // A subscription that outlives its subject is cancelled harmlessly.
    AnyCancellable late;
    {
        PassthroughSubject<int> gone;
        late = gone.map([](int v) { return v * 2; }).sink([](const int&) {});
    }
    late.cancel();
}

TEST(Subjects, HandlersMayReenterDuringDelivery) {
    PassthroughSubject<int> subject;
    std::vector<std::string> trace;
    AnyCancellable first, second, third, late;
    first = subject.sink([&](const int& v) {
        trace.push_back("1:" + std::to_string(v));
        if (v == 1) {
            first.cancel();  // itself
            late = subject.sink([&](const int& w) { trace.push_back("late:" + std::to_string(w)); });
            subject.send(2);  // nested send reaches the subscribers present now
        }
    });
    second = subject.sink([&](const int& v) {
        trace.push_back("2:" + std::to_string(v));
        if (v == 1) third.cancel();  // another subscriber, not yet delivered
    });
    third = subject.sink([&](const int& v) { trace.push_back("3:" + std::to_string(v)); });
    subject.send(1);
    EXPECT_EQ(trace, (std::vector<std::string>{"1:1", "2:2", "3:2", "late:2", "2:1"}));
}

TEST(Operators, MapFilterCompactMapRemoveDuplicates) {
    PassthroughSubject<int> subject;
    std::vector<int> got;
    auto c1 = subject.filter([](int v) { return v % 2 == 0; })
                  .map([](int v) { return v / 2; })
                  .removeDuplicates()
                  .sink([&](const int& v) { got.push_back(v); });
    for (int v : {2, 2, 3, 4, 4, 2}) subject.send(v);
    EXPECT_EQ(got, (std::vector<int>{1, 2, 1}));

    std::vector<int> present;
    PassthroughSubject<std::optional<int>> optional;
    auto c2 = optional.compactMap([](const std::optional<int>& v) { return v; }).sink([&](const int& v) {
        present.push_back(v);
    });
    optional.send(std::nullopt);
    optional.send(7);
    EXPECT_EQ(present, (std::vector<int>{7}));

    std::vector<int> byPredicate;
    auto c3 = subject.removeDuplicates([](int a, int b) { return a / 10 == b / 10; }).sink([&](const int& v) {
        byPredicate.push_back(v);
    });
    for (int v : {11, 15, 21, 29, 11}) subject.send(v);
    EXPECT_EQ(byPredicate, (std::vector<int>{11, 21, 11}));
}

TEST(Operators, CombineLatestEmitsOnceEveryInputHasAValue) {
    CurrentValueSubject<int> a(1);
    PassthroughSubject<std::string> b;
    std::vector<std::tuple<int, std::string>> got;
    auto c = combineLatest(a, b).sink([&](const auto& t) { got.push_back(t); });
    EXPECT_TRUE(got.empty());
    b.send("x");
    a.send(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], std::make_tuple(2, std::string("x")));

    CurrentValueSubject<int> x(1), y(2), z(3);
    int sum = 0, emits = 0;
    auto c3 = combineLatest(x, y, z).sink([&](const auto& t) {
        ++emits;
        sum = std::get<0>(t) + std::get<1>(t) + std::get<2>(t);
    });
    EXPECT_EQ(emits, 1);
    z.send(10);
    EXPECT_EQ(sum, 13);
}

TEST(Operators, FirstTakesOneValueAndCancelsUpstream) {
    CurrentValueSubject<int> current(5);
    std::vector<int> got;
    auto c = current.first().sink([&](const int& v) { got.push_back(v); });
    current.send(6);
    EXPECT_EQ(got, (std::vector<int>{5}));
    EXPECT_EQ(current.subscriberCount(), 0u);

    PassthroughSubject<int> pass;
    auto c2 = pass.first().sink([&](const int& v) { got.push_back(v); });
    pass.send(8);
    pass.send(9);
    EXPECT_EQ(got, (std::vector<int>{5, 8}));
    EXPECT_EQ(pass.subscriberCount(), 0u);
}

TEST(Operators, ReceiveOnMainDefersDebounceWaitsForQuietAndBothDropAfterCancel) {
    VirtualScheduler s;
    PassthroughSubject<int> subject;
    std::vector<int> got, debounced;
    auto c = subject.receiveOnMain(&s).sink([&](const int& v) { got.push_back(v); });
    auto d = subject.debounce(0.3, &s).sink([&](const int& v) { debounced.push_back(v); });
    subject.send(1);
    EXPECT_TRUE(got.empty());
    s.drain();
    EXPECT_EQ(got, (std::vector<int>{1}));
    s.advance(0.2);
    subject.send(2);
    s.advance(0.29);
    EXPECT_TRUE(debounced.empty());
    s.advance(0.01);
    EXPECT_EQ(debounced, (std::vector<int>{2}));
    subject.send(3);
    c.cancel();
    d.cancel();
    s.advance(1.0);
    EXPECT_EQ(got, (std::vector<int>{1, 2}));
    EXPECT_EQ(debounced, (std::vector<int>{2}));
}
