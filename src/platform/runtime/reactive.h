#pragma once

// Subjects, subscriptions and the few operators the application uses. Single-threaded by
// contract: send and subscribe on the main thread; hop from other threads with Scheduler::post.

#include "platform/runtime/dispatch.h"

#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform {

// The payload of a channel that carries no value.
struct Unit {
    friend bool operator==(Unit, Unit) { return true; }
};

// Cancels its subscription when cancelled or destroyed.
class AnyCancellable {
public:
    AnyCancellable() = default;
    explicit AnyCancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    AnyCancellable(AnyCancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    AnyCancellable& operator=(AnyCancellable&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    AnyCancellable(const AnyCancellable&) = delete;
    AnyCancellable& operator=(const AnyCancellable&) = delete;
    ~AnyCancellable() { cancel(); }

    void cancel() {
        if (auto fn = std::exchange(cancel_, nullptr)) fn();
    }
    bool isActive() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

class CancellableSet {
public:
    void insert(AnyCancellable c) { items_.push_back(std::move(c)); }
    void cancelAll() {
        auto items = std::move(items_);
        items_.clear();
        for (auto& c : items) c.cancel();
    }
    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }

private:
    std::vector<AnyCancellable> items_;
};

template <class T>
class Publisher;

namespace detail {

template <class T>
struct SubjectCore {
    struct Entry {
        std::function<void(const T&)> handler;
        bool active = true;
    };
    std::vector<std::shared_ptr<Entry>> entries;

    // The entry is handed back too, so a current-value subject can greet the new subscriber
    // through the very handler it stored (a stateful handler must not be split in two copies).
    std::pair<AnyCancellable, std::shared_ptr<Entry>> add(std::function<void(const T&)> handler,
                                                          std::shared_ptr<SubjectCore>& self) {
        auto entry = std::make_shared<Entry>(Entry{std::move(handler), true});
        entries.push_back(entry);
        std::weak_ptr<SubjectCore> weakCore = self;
        std::weak_ptr<Entry> weakEntry = entry;
        return {AnyCancellable([weakCore, weakEntry] {
                    auto e = weakEntry.lock();
                    if (!e) return;
                    e->active = false;
                    if (auto core = weakCore.lock()) std::erase(core->entries, e);
                }),
                entry};
    }

    void send(const T& value) {
        // Deliver to the subscribers present now; each is re-checked so one cancelled by an
        // earlier handler is not called, and a handler may subscribe or send again safely. The
        // snapshot keeps every entry, and so its handler, alive while it runs, even when the
        // handler cancels itself.
        auto snapshot = entries;
        for (auto& entry : snapshot) {
            if (entry->active) entry->handler(value);
        }
    }
};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

}  // namespace detail

// The operators shared by subjects and derived publishers.
template <class Derived, class T>
class PublisherOps {
public:
    using Output = T;
    using Handler = std::function<void(const T&)>;

    AnyCancellable sink(Handler handler) const { return self().subscribe(std::move(handler)); }
    // Convenience for payload-free channels.
    AnyCancellable sink(std::function<void()> handler) const
        requires std::is_same_v<T, Unit>
    {
        return self().subscribe([h = std::move(handler)](const Unit&) { h(); });
    }

    template <class F>
    auto map(F fn) const {
        using U = std::decay_t<std::invoke_result_t<F, const T&>>;
        Derived up = self();
        return Publisher<U>([up, fn](std::function<void(const U&)> h) {
            return up.subscribe([fn, h = std::move(h)](const T& v) { h(fn(v)); });
        });
    }

    template <class F>
    Publisher<T> filter(F pred) const {
        Derived up = self();
        return Publisher<T>([up, pred](Handler h) {
            return up.subscribe([pred, h = std::move(h)](const T& v) {
                if (pred(v)) h(v);
            });
        });
    }

    // Maps to an optional and passes on only present values.
    template <class F>
    auto compactMap(F fn) const {
        using Opt = std::decay_t<std::invoke_result_t<F, const T&>>;
        static_assert(detail::IsOptional<Opt>::value, "compactMap needs a function returning std::optional");
        using U = typename Opt::value_type;
        Derived up = self();
        return Publisher<U>([up, fn](std::function<void(const U&)> h) {
            return up.subscribe([fn, h = std::move(h)](const T& v) {
                if (auto mapped = fn(v)) h(*mapped);
            });
        });
    }

    template <class Eq>
    Publisher<T> removeDuplicates(Eq same) const {
        Derived up = self();
        return Publisher<T>([up, same](Handler h) {
            auto last = std::make_shared<std::optional<T>>();
            return up.subscribe([same, last, h = std::move(h)](const T& v) {
                if (*last && same(**last, v)) return;
                *last = v;
                h(v);
            });
        });
    }
    Publisher<T> removeDuplicates() const {
        return removeDuplicates([](const T& a, const T& b) { return a == b; });
    }

    // Delivers each value later on the main queue; values still queued when the subscription is
    // cancelled are dropped.
    Publisher<T> receiveOnMain(Scheduler* scheduler = nullptr) const {
        Derived up = self();
        return Publisher<T>([up, scheduler](Handler h) {
            auto alive = std::make_shared<bool>(true);
            auto shared = std::make_shared<Handler>(std::move(h));
            AnyCancellable upstream = up.subscribe([scheduler, alive, shared](const T& v) {
                Scheduler& s = scheduler ? *scheduler : Scheduler::shared();
                std::weak_ptr<bool> weakAlive = alive;
                s.post([weakAlive, shared, v] {
                    auto a = weakAlive.lock();
                    if (a && *a) (*shared)(v);
                });
            });
            auto holder = std::make_shared<AnyCancellable>(std::move(upstream));
            return AnyCancellable([alive, holder] {
                *alive = false;
                holder->cancel();
            });
        });
    }

    // Emits the latest value once `seconds` have passed without a newer one.
    Publisher<T> debounce(double seconds, Scheduler* scheduler = nullptr) const {
        Derived up = self();
        return Publisher<T>([up, seconds, scheduler](Handler h) {
            struct State {
                WorkItem pending;
                bool alive = true;
            };
            auto state = std::make_shared<State>();
            auto shared = std::make_shared<Handler>(std::move(h));
            AnyCancellable upstream = up.subscribe([seconds, scheduler, state, shared](const T& v) {
                Scheduler& s = scheduler ? *scheduler : Scheduler::shared();
                state->pending.cancel();
                std::weak_ptr<State> weak = state;
                state->pending = s.after(seconds, [weak, shared, v] {
                    auto st = weak.lock();
                    if (st && st->alive) (*shared)(v);
                });
            });
            auto holder = std::make_shared<AnyCancellable>(std::move(upstream));
            return AnyCancellable([state, holder] {
                state->alive = false;
                state->pending.cancel();
                holder->cancel();
            });
        });
    }

    // Passes on the first value only, then cancels the upstream subscription.
    Publisher<T> first() const {
        Derived up = self();
        return Publisher<T>([up](Handler h) {
            struct State {
                bool done = false;
                AnyCancellable upstream;
            };
            auto state = std::make_shared<State>();
            std::weak_ptr<State> weak = state;
            AnyCancellable upstream = up.subscribe([weak, h = std::move(h)](const T& v) {
                auto st = weak.lock();
                if (!st || st->done) return;
                st->done = true;
                auto keep = std::move(st->upstream);  // cancelled when this scope ends
                h(v);
            });
            if (state->done) {
                upstream.cancel();  // a current-value subject answered during subscribe
            } else {
                state->upstream = std::move(upstream);
            }
            return AnyCancellable([state] {
                state->done = true;
                state->upstream.cancel();
            });
        });
    }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
};

// A type-erased publisher: a way to subscribe.
template <class T>
class Publisher : public PublisherOps<Publisher<T>, T> {
public:
    using Handler = std::function<void(const T&)>;
    explicit Publisher(std::function<AnyCancellable(Handler)> subscribe) : subscribe_(std::move(subscribe)) {}
    AnyCancellable subscribe(Handler handler) const { return subscribe_(std::move(handler)); }

private:
    std::function<AnyCancellable(Handler)> subscribe_;
};

// Delivers each value to the subscribers present at that moment and keeps nothing.
template <class T = Unit>
class PassthroughSubject : public PublisherOps<PassthroughSubject<T>, T> {
public:
    using Handler = std::function<void(const T&)>;
    PassthroughSubject() : core_(std::make_shared<detail::SubjectCore<T>>()) {}

    void send(const T& value) const {
        auto core = core_;
        core->send(value);
    }
    void send() const
        requires std::is_same_v<T, Unit>
    {
        send(Unit{});
    }
    AnyCancellable subscribe(Handler handler) const { return core_->add(std::move(handler), core_).first; }
    size_t subscriberCount() const { return core_->entries.size(); }

private:
    mutable std::shared_ptr<detail::SubjectCore<T>> core_;
};

// Holds the last value sent; a new subscriber receives it before subscribe() returns.
template <class T>
class CurrentValueSubject : public PublisherOps<CurrentValueSubject<T>, T> {
public:
    using Handler = std::function<void(const T&)>;
    explicit CurrentValueSubject(T initial) : state_(std::make_shared<State>(std::move(initial))) {}

    const T& value() const { return state_->value; }
    // Stores, then delivers, also when the value equals the held one.
    void send(const T& value) const {
        auto state = state_;
        state->value = value;
        T copy = state->value;  // a nested send must not change what this send delivers
        state->core->send(copy);
    }
    AnyCancellable subscribe(Handler handler) const {
        auto state = state_;
        T current = state->value;
        auto [cancellable, entry] = state->core->add(std::move(handler), state->core);
        entry->handler(current);
        return std::move(cancellable);
    }
    size_t subscriberCount() const { return state_->core->entries.size(); }

private:
    struct State {
        explicit State(T v) : value(std::move(v)), core(std::make_shared<detail::SubjectCore<T>>()) {}
        T value;
        std::shared_ptr<detail::SubjectCore<T>> core;
    };
    std::shared_ptr<State> state_;
};

// Emits a tuple of the latest values once every input has produced one.
template <class A, class B>
Publisher<std::tuple<typename A::Output, typename B::Output>> combineLatest(const A& a, const B& b) {
    using TA = typename A::Output;
    using TB = typename B::Output;
    using Out = std::tuple<TA, TB>;
    return Publisher<Out>([a, b](std::function<void(const Out&)> h) {
        struct State {
            std::optional<TA> va;
            std::optional<TB> vb;
            std::function<void(const Out&)> h;
            void emit() {
                if (va && vb) h(Out{*va, *vb});
            }
        };
        auto st = std::make_shared<State>();
        st->h = std::move(h);
        auto ca = std::make_shared<AnyCancellable>(a.subscribe([st](const TA& v) { st->va = v, st->emit(); }));
        auto cb = std::make_shared<AnyCancellable>(b.subscribe([st](const TB& v) { st->vb = v, st->emit(); }));
        return AnyCancellable([ca, cb] {
            ca->cancel();
            cb->cancel();
        });
    });
}

template <class A, class B, class C>
Publisher<std::tuple<typename A::Output, typename B::Output, typename C::Output>> combineLatest(const A& a, const B& b,
                                                                                                   const C& c) {
    using TA = typename A::Output;
    using TB = typename B::Output;
    using TC = typename C::Output;
    using Out = std::tuple<TA, TB, TC>;
    return Publisher<Out>([a, b, c](std::function<void(const Out&)> h) {
        struct State {
            std::optional<TA> va;
            std::optional<TB> vb;
            std::optional<TC> vc;
            std::function<void(const Out&)> h;
            void emit() {
                if (va && vb && vc) h(Out{*va, *vb, *vc});
            }
        };
        auto st = std::make_shared<State>();
        st->h = std::move(h);
        auto ca = std::make_shared<AnyCancellable>(a.subscribe([st](const TA& v) { st->va = v, st->emit(); }));
        auto cb = std::make_shared<AnyCancellable>(b.subscribe([st](const TB& v) { st->vb = v, st->emit(); }));
        auto cc = std::make_shared<AnyCancellable>(c.subscribe([st](const TC& v) { st->vc = v, st->emit(); }));
        return AnyCancellable([ca, cb, cc] {
            ca->cancel();
            cb->cancel();
            cc->cancel();
        });
    });
}

}  // namespace platform
