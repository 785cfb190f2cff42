#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/input_source/input_method_mode.h"
#include "platform/runtime/dispatch.h"

#include <QString>

#include <functional>
#include <optional>

namespace platform {

// Fcitx5's tray icon, where the desktop hosts StatusNotifierItems (org.kde.StatusNotifierWatcher):
// its menu checks the current input method and names the mode of its input-mode action
// ("ア - Katakana"), and announces each change with LayoutUpdated. The item lives on a
// connection of Fcitx5's own, found among the watcher's items by its process. Main thread only.
class Fcitx5TrayMenu {
public:
    static constexpr DBusConnection::Timeout callTimeout{500};

    explicit Fcitx5TrayMenu(DBusConnection& sessionBus);
    ~Fcitx5TrayMenu();
    Fcitx5TrayMenu(const Fcitx5TrayMenu&) = delete;
    Fcitx5TrayMenu& operator=(const Fcitx5TrayMenu&) = delete;

    // Follows the tray item of the process that owns `fcitxOwner` (Fcitx5's unique name); `heard`
    // runs with what each new layout shows, `first` for the first read (where Fcitx5 stands).
    // `known` runs once that first read is in, or once it is known that there is none to read
    // (no tray host, no item of Fcitx5's, a question unanswered within its timeout).
    void start(const QString& fcitxOwner, std::function<void(const InputMethodStatus&, bool first)> heard,
               std::function<void()> known = {});
    void stop();
    bool isFollowing() const { return layoutUpdates_.isActive(); }

private:
    void knowFcitxProcess(const QString& fcitxOwner);
    void listItems();
    // `listed`: one of the items listed at the start, which the first read waits for.
    void consider(const QString& item, bool listed);
    void listedConsidered();
    void firstReadKnown();
    void follow(const QString& service, const QString& itemPath);
    void readLayout();

    DBusConnection& sessionBus_;
    std::function<void(const InputMethodStatus&, bool)> heard_;
    std::function<void()> known_;
    // Listed items still being asked about, and whether one of them is Fcitx5's.
    int listedPending_ = 0;
    bool itemFound_ = false;
    bool firstRead_ = false;
    uint64_t generation_ = 0;
    uint fcitxProcess_ = 0;
    QString service_;
    QString menuPath_;
    // A layout read is out; another change came while it was.
    bool layoutStale_ = false;
    CancellableSet calls_;
    AnyCancellable layoutRead_;
    AnyCancellable registrations_;
    AnyCancellable layoutUpdates_;
    Lifetime lifetime_;
};

}  // namespace platform
