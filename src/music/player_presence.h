#pragma once

// Whether a media player is on the session bus. Every track the helper can report comes from a
// player's MPRIS name, so with none there a poll can find nothing: the names are listed once and
// then followed as they come and go, and nothing wakes meanwhile.

#include "platform/dbus/dbus_connection.h"
#include "platform/runtime/reactive.h"

#include <QSet>
#include <QString>

#include <functional>

class PlayerPresence {
public:
    virtual ~PlayerPresence() = default;
    virtual bool anyPlayer() const = 0;
    // `changed` runs on the main thread whenever anyPlayer() may have changed.
    virtual platform::AnyCancellable onChange(std::function<void()> changed) = 0;
    // `jumped` runs on the main thread when a player says its position moved other than by
    // playing on: a seek, or a new rate. Never, where players cannot say so.
    virtual platform::AnyCancellable onPositionJump(std::function<void()> jumped) {
        (void)jumped;
        return {};
    }
};

class MprisPlayerPresence final : public PlayerPresence {
public:
    static constexpr const char* kNameSpace = "org.mpris.MediaPlayer2";

    explicit MprisPlayerPresence(platform::DBusConnection& bus = platform::DBusConnection::session());
    // True until the names are listed, and without a bus: then nothing is known to be absent.
    bool anyPlayer() const override;
    platform::AnyCancellable onChange(std::function<void()> changed) override;
    // MPRIS Seeked, and PropertiesChanged of a player's Rate.
    platform::AnyCancellable onPositionJump(std::function<void()> jumped) override;

private:
    void ownerChanged(const QString& name, const QString& newOwner);

    platform::DBusConnection& bus_;
    bool listed_ = false;
    QSet<QString> players_;
    platform::PassthroughSubject<platform::Unit> changed_;
    platform::AnyCancellable watch_;
    platform::AnyCancellable listing_;
};
