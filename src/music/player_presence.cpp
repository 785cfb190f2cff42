#include "music/player_presence.h"

#include <chrono>
#include <memory>
#include <utility>

MprisPlayerPresence::MprisPlayerPresence(platform::DBusConnection& bus) : bus_(bus) {
    const QString space = QString::fromLatin1(kNameSpace);
    // Followed before listed: a player that comes meanwhile is in one or the other.
    watch_ = bus_.watchNameNamespace(space, [this](const QString& name, const QString& newOwner) { ownerChanged(name, newOwner); });
    if (!watch_.isActive()) return;  // no bus: assume players, as the poll always did
    listing_ = bus_.listNamesAsync(std::chrono::seconds(5), [this, space](const QStringList& names) {
        if (names.isEmpty()) return;  // a failed listing: a bus always names itself
        for (const QString& name : names) {
            if (name == space || name.startsWith(space + QLatin1Char('.'))) players_.insert(name);
        }
        listed_ = true;
        changed_.send();
    });
}

bool MprisPlayerPresence::anyPlayer() const { return !listed_ || !players_.isEmpty(); }

platform::AnyCancellable MprisPlayerPresence::onChange(std::function<void()> changed) {
    return changed_.subscribe([changed = std::move(changed)](const platform::Unit&) { changed(); });
}

void MprisPlayerPresence::ownerChanged(const QString& name, const QString& newOwner) {
    if (newOwner.isEmpty()) {
        players_.remove(name);
    } else {
        players_.insert(name);
    }
    changed_.send();
}

platform::AnyCancellable MprisPlayerPresence::onPositionJump(std::function<void()> jumped) {
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    const QString player = QStringLiteral("org.mpris.MediaPlayer2.Player");
    auto both = std::make_shared<std::pair<platform::AnyCancellable, platform::AnyCancellable>>();
    both->first = bus_.subscribe({{}, path, player, QStringLiteral("Seeked"), {}},
                                 [jumped](const platform::DBusSignal&) { jumped(); });
    both->second = bus_.subscribe(
        {{}, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), player},
        [jumped](const platform::DBusSignal& signal) {
            if (signal.arguments.value(1).toMap().contains(QStringLiteral("Rate"))) jumped();
        });
    return platform::AnyCancellable([both] {
        both->first.cancel();
        both->second.cancel();
    });
}
