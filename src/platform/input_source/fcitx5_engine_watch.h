#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/input_source/fcitx5_tray_menu.h"
#include "platform/input_source/input_method_engine.h"
#include "platform/runtime/dispatch.h"

#include <QString>
#include <QVariant>

#include <deque>
#include <functional>
#include <optional>

namespace platform {

// Fcitx5's current input method (org.fcitx.Fcitx5 on the session bus). Fcitx5 tells no bystander
// of a switch: its controller (/controller, org.fcitx.Fcitx.Controller1) signals only changes of
// the input-method groups, and CurrentIM goes only to the owner of the focused input context. So
// while Fcitx5 is on the bus its controller's CurrentInputMethod (the input method of the input
// context focused last) is asked every `pollInterval`, one call at a time; a new one is described
// from AvailableInputMethods.
//
// Fcitx5's own D-Bus front end (which its GTK and Qt modules use) does tell the owner of an input
// context the input method it takes as it gets the focus and at each switch. Where the bus lets a
// bystander eavesdrop (dbus-daemon's session bus does), those are heard in Fcitx5's own order,
// before any poll that asks after them: the first input context focused, or focused anew after
// Fcitx5 (re)started, stands where it got the focus even when it is switched at once. Anyone may
// send a signal of that name: one counts only from the connection that owns Fcitx5's name, and
// names an input method Fcitx5 offers. Where the bus refuses (dbus-broker does), that is logged
// once and the poll alone tells the switches.
//
// The engine's mode (Anthy's hiragana, katakana, direct input) Fcitx5 tells only its panels: while
// a kimpanel panel owns org.kde.impanel (Plasma's does), it broadcasts the current input method
// and its mode as the "/Fcitx/im" property on the session bus, which anyone may hear; where the
// desktop hosts tray items, its tray menu names the mode. Without either nothing will ever tell
// the mode (canTellMode()). Main thread only.
class Fcitx5EngineWatch {
public:
    static constexpr double pollInterval = 0.5;
    static constexpr DBusConnection::Timeout callTimeout{500};

    explicit Fcitx5EngineWatch(DBusConnection& sessionBus = DBusConnection::session(),
                               Scheduler& scheduler = Scheduler::shared());
    ~Fcitx5EngineWatch();
    Fcitx5EngineWatch(const Fcitx5EngineWatch&) = delete;
    Fcitx5EngineWatch& operator=(const Fcitx5EngineWatch&) = delete;

    // The input method in use; none while Fcitx5 is away or no input context had the focus yet.
    const std::optional<InputMethodEngine>& engine() const { return engine_; }
    // The engine's mode, when a panel was last shown one for this engine.
    std::optional<InputMethodMode> mode() const;
    // Whether that mode was last shown as where Fcitx5 stands (a panel's listing as an input
    // context takes the focus, the tray menu's first read), rather than as a change.
    bool isModeRestated() const { return statusRestated_; }
    // Whether anything shows Fcitx5's modes where we can hear them: a kimpanel panel, or the tray
    // menu being followed.
    bool canTellMode() const { return panelPresent_ || tray_.isFollowing(); }
    bool isPolling() const { return timer_.isValid(); }
    // Whether it is known if Fcitx5 runs and, where it does, its input method and the mode its
    // tray menu shows: false from start() (also from Fcitx5 appearing, and from a start() after
    // pause()) until the poll answered, the tray menu was read or found missing, and whether a
    // kimpanel panel runs is known.
    bool hasAnswered() const { return answered_; }

    // `changed` runs after each switch, and when Fcitx5 goes away while it had an input method.
    // The first one learnt after Fcitx5 appears is where it stands, not a switch. `answered` runs
    // each time hasAnswered() turns true.
    void start(std::function<void()> changed, std::function<void()> answered = {});
    void stop();
    // Stops asking the controller and goes on hearing the panels, so the mode is still known
    // when the poll resumes (at once, with a question) at the next start().
    void pause();

    // The entry for `uniqueName` in AvailableInputMethods' answer, a list of (unique name, name,
    // native name, icon, label, language code, configurable); none when it is not there.
    static std::optional<InputMethodEngine> engineFromAvailable(const QVariant& available, const QString& uniqueName);

private:
    void appeared(const QString& owner);
    void gone();
    void inputContextSwitched(const DBusSignal& signal);
    void overhearingRefused(const QString& error);
    void poll();
    void describe(const QString& uniqueName);
    // An input method Fcitx5 named, by a poll's answer or as an input context took it.
    void shown(const QString& uniqueName);
    // Describes the oldest input method shown and not yet taken in, else the poll has answered.
    void takeShown();
    void pollAgainIfAsked();
    void statusHeard(InputMethodStatus status, bool restated);
    // The poll answered (or Fcitx5 is away).
    void answer();
    void reportAnswered();

    DBusConnection& sessionBus_;
    Scheduler& scheduler_;
    std::function<void()> changed_;
    std::function<void()> answeredHandler_;
    bool running_ = false;
    bool paused_ = false;
    bool present_ = false;
    // The unique name of Fcitx5's connection while it is present.
    QString owner_;
    // An owner change was heard since start(): newer than the answer to the question asked there.
    bool ownerHeard_ = false;
    bool refusalLogged_ = false;
    bool answered_ = false;
    bool pollAnswered_ = false;
    bool trayKnown_ = false;
    bool panelKnown_ = false;
    bool panelPresent_ = false;
    // A panel spoke while a question was out: its answer may be older than what the panel showed.
    bool pollAgain_ = false;
    bool settled_ = false;
    // Input methods shown since the engine, oldest first; described one at a time.
    std::deque<QString> shown_;
    uint64_t generation_ = 0;
    std::optional<InputMethodEngine> engine_;
    // The last input method a panel was shown.
    std::optional<InputMethodStatus> status_;
    bool statusRestated_ = false;
    Fcitx5TrayMenu tray_;
    RepeatingTimer timer_;
    AnyCancellable ownerWatch_;
    AnyCancellable presence_;
    AnyCancellable call_;
    AnyCancellable kimpanelUpdates_;
    AnyCancellable kimpanelRegistrations_;
    AnyCancellable inputContextSwitches_;
    AnyCancellable panelOwnerWatch_;
    AnyCancellable panelPresence_;
    Lifetime lifetime_;
};

}  // namespace platform
