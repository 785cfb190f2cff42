#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/input_source/ibus_components.h"
#include "platform/input_source/input_method_engine.h"
#include "platform/runtime/dispatch.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// IBus's global engine. IBus serves it on a bus of its own, whose address `ibus address` prints
// (the tool knows every place the daemon may have written it); the daemon also owns
// org.freedesktop.IBus on the session bus, which tells when it comes and goes. The engine is the
// GlobalEngine property; GlobalEngineChanged announces each switch.
//
// An engine publishes its mode as its "InputMode" property (ibus-anthy, ibus-mozc), sent through
// the daemon to the focused input context only. An eavesdropping match on IBus's bus hears the
// engine's RegisterProperties and UpdateProperty without taking the panel's place. Any client of
// that bus could send them: each match names a component (whose connection makes its engines), so
// the bus hands on only what the owner of that name sends, and only the component of the engine in
// use counts, or of the engine the daemon is switching to. Main thread only.
class IBusEngineWatch {
public:
    // IBus as found: its bus's address, empty when there is no daemon, and the component that
    // serves each engine.
    struct Found {
        QString address;
        IBusComponents components;
    };
    // Blocking: runs off the main thread.
    using Lookup = std::function<Found()>;

    static constexpr DBusConnection::Timeout callTimeout{1000};
    static constexpr double addressTimeout = 2.0;

    // An empty `lookup` runs `ibus address`, then reads IBus's registry cache.
    explicit IBusEngineWatch(DBusConnection& sessionBus = DBusConnection::session(),
                             Scheduler& scheduler = Scheduler::shared(), Lookup lookup = {});
    ~IBusEngineWatch();
    IBusEngineWatch(const IBusEngineWatch&) = delete;
    IBusEngineWatch& operator=(const IBusEngineWatch&) = delete;

    // The engine in use; none while IBus is away or has not answered yet.
    const std::optional<InputMethodEngine>& engine() const { return engine_; }
    // The engine's mode, once it published one since it became the engine.
    const std::optional<InputMethodMode>& mode() const { return mode_; }
    // Whether the mode was last heard as the engine registered its properties (as it does when
    // it is focused, or made anew by a switch even to the engine in use): where it stands,
    // rather than a change of it.
    bool isModeRestated() const { return modeRestated_; }
    // Whether IBus's bus is connected and its first answer is in.
    bool isSettled() const { return settled_; }
    // Whether it is known if IBus runs and, where it does, its engine: false from start() (and
    // from IBus appearing) until the address lookup found none or the first engine read answered.
    bool hasAnswered() const { return answered_; }
    // Engine reads sent since start: one at a time, however many switches are announced.
    uint64_t engineReads() const { return engineReads_; }

    // A mode heard from an engine instance that had not registered, this long before the daemon
    // announces a switch, is the new engine's: the engine publishes it as it is made, before the
    // daemon switches to it.
    static constexpr double earlyModeWindow = 0.25;

    // `changed` runs after each switch of the engine, and when IBus goes away while it had one.
    // The first engine learnt after IBus appears is where it stands, not a switch. `answered`
    // runs each time hasAnswered() turns true.
    void start(std::function<void()> changed, std::function<void()> answered = {});
    void stop();

    // The engine in an IBusEngineDesc as D-Bus carries it ("IBusEngineDesc", attachments, name,
    // long name, description, language, license, author, icon, layout, rank, hotkeys, symbol,
    // setup, layout variant, ...); none when it is anything else.
    static std::optional<InputMethodEngine> engineFromDescription(const QVariant& description);
    // The address `ibus address` prints, empty when it fails or names none.
    static QString runIBusAddress();

private:
    void discover();
    void connectTo(const Found& found);
    void engineSwitched(const DBusSignal& signal);
    // RegisterProperties or UpdateProperty from the connection that owns `component`'s name.
    void engineSignal(const QString& component, const DBusSignal& signal, bool registered);
    void propertiesRegistered(const DBusSignal& signal);
    void propertyUpdated(const DBusSignal& signal, bool announce);
    // Reads the engine, or asks for one more read once the read out answers.
    void readEngine(bool announce);
    void engineAnswered(const DBusReply& reply, bool announce, uint64_t read);
    void answer();
    // True when the properties carried an input mode; `announce` false leaves a change to the
    // engine read that follows.
    bool engineProperties(const QVariantList& properties, bool announce, bool registered);
    void drop();

    DBusConnection& sessionBus_;
    Scheduler& scheduler_;
    Lookup lookup_;
    std::function<void()> changed_;
    std::function<void()> answeredHandler_;
    bool running_ = false;
    bool settled_ = false;
    bool answered_ = false;
    uint64_t generation_ = 0;
    std::optional<InputMethodEngine> engine_;
    std::optional<InputMethodMode> mode_;
    bool modeRestated_ = false;
    // Whether the engine published a mode since the last switch began.
    bool modeSinceSwitch_ = false;
    // A mode heard but left for the engine read that follows.
    bool modeUnannounced_ = false;
    // The engine instance (sender and path) that registered its properties last, and whether
    // the read that a new one's registration started is still out.
    QString lastRegistered_;
    bool registeredInstanceRead_ = false;
    uint64_t registrationRead_ = 0;  // the read that answers for that registration
    std::unique_ptr<DBusConnection> ibusBus_;
    IBusComponents components_;
    // The component of the engine in use, or of the one the daemon announced last.
    QString activeComponent_;
    // The last signal naming a mode from another component, kept until the daemon announces an
    // engine: it is that engine's when the engine is the component's.
    struct Held {
        QString component;
        DBusSignal signal;
        bool registered = false;
        double at = 0;  // monotonic seconds
    };
    std::optional<Held> held_;
    AnyCancellable ownerWatch_;
    AnyCancellable engineSignal_;
    std::vector<AnyCancellable> componentSignals_;
    // When a mode was last heard from an instance that had not registered (monotonic seconds).
    std::optional<double> unregisteredModeAt_;
    // The read in flight, and whether another was asked for meanwhile (announced or not).
    AnyCancellable engineRead_;
    bool readAgain_ = false;
    bool announceAgain_ = false;
    uint64_t engineReads_ = 0;
    Lifetime lifetime_;
};

}  // namespace platform
