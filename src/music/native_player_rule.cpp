#include "music/native_player_rule.h"

NativePlayerRule::NativePlayerRule(Resolver resolver) : resolver_(std::move(resolver)) {}

bool NativePlayerRule::isScriptedPlayer(const QString& identifier) {
    return identifier == QLatin1String("com.apple.Music") || identifier == QLatin1String("com.spotify.client");
}

bool NativePlayerRule::isNativePlayer(const QString& identifier) {
    if (isScriptedPlayer(identifier)) return true;
    if (identifier.isEmpty()) return false;
    std::lock_guard lock(mutex_);
    const std::optional<platform::DesktopEntry> entry = resolver_ ? resolver_(identifier) : entries_.resolve(identifier);
    return entry && !entry->categories.contains(QLatin1String("WebBrowser"));
}
