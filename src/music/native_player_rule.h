#pragma once

// Which players are the user's music applications and which play media inside another
// application, such as a web browser. A music application's track shows shuffle, repeat and a
// lyric line; any other track shows the application it plays in.
//
// A player is a music application when the player scripts reach it (Music, Spotify), or when it
// names a desktop entry (an MPRIS player's DesktopEntry) that is installed and is not a web
// browser: its Categories lack WebBrowser. A player without a known entry counts as browser
// media, as do the browsers themselves.

#include "platform/workspace/desktop_entries.h"

#include <QString>

#include <functional>
#include <mutex>
#include <optional>

class NativePlayerRule {
public:
    using Resolver = std::function<std::optional<platform::DesktopEntry>(const QString& identifier)>;

    // `resolver` empty: the desktop entries under the XDG data folders, read again when they change.
    explicit NativePlayerRule(Resolver resolver = {});

    // Safe from any thread; reads desktop entries, so keep it off the main thread.
    bool isNativePlayer(const QString& identifier);

    // The bundles the player scripts reach.
    static bool isScriptedPlayer(const QString& identifier);

private:
    std::mutex mutex_;
    Resolver resolver_;
    platform::DesktopEntries entries_;
};
