#include "music/global_hotkey_service.h"

#include "core/log.h"
#include "music/media_remote_service.h"

GlobalHotkeyService& GlobalHotkeyService::shared() {
    static GlobalHotkeyService service;
    return service;
}

GlobalHotkeyService::GlobalHotkeyService(platform::Defaults* defaults, platform::Scheduler& scheduler,
                                         platform::GlobalKeyMonitor* keyMonitor, MediaRemoteService* mediaRemote)
    : defaults_(defaults), scheduler_(scheduler), keyMonitor_(keyMonitor), mediaRemote_(mediaRemote), settings_(defaults) {}

GlobalHotkeyService::~GlobalHotkeyService() {
    // An injected monitor outlives the service: hand it back. The shared one may already be gone
    // at process exit, and the handler it keeps does nothing once the service is.
    if (monitor_ && keyMonitor_) keyMonitor_->removeMonitor(*monitor_);
}

platform::Defaults& GlobalHotkeyService::defaults() const { return defaults_ ? *defaults_ : platform::Defaults::standard(); }
platform::GlobalKeyMonitor& GlobalHotkeyService::keyMonitor() const {
    return keyMonitor_ ? *keyMonitor_ : platform::GlobalKeyMonitor::shared();
}
MediaRemoteService& GlobalHotkeyService::mediaRemote() const { return mediaRemote_ ? *mediaRemote_ : MediaRemoteService::shared(); }

void GlobalHotkeyService::start() {
    setupSettingsObserver();
    if (settings_.enableMusicHotkeys()) installMonitor();
    Log::shared().info(QStringLiteral("GlobalHotkeyService: Started (enabled=") +
                       (settings_.enableMusicHotkeys() ? QStringLiteral("true") : QStringLiteral("false")) +
                       QStringLiteral(")"));
}

void GlobalHotkeyService::stop() {
    removeMonitor();
    settingsCancellable_.cancel();
    Log::shared().info(QStringLiteral("GlobalHotkeyService: Stopped"));
}

void GlobalHotkeyService::setupSettingsObserver() {
    settingsCancellable_ = defaults().didChange().receiveOnMain(&scheduler_).sink(
        lifetime_.wrap([this](const QString&) { handleSettingsChange(); }));
}

void GlobalHotkeyService::handleSettingsChange() {
    const bool enabled = settings_.enableMusicHotkeys();
    if (enabled && !monitor_) {
        installMonitor();
        Log::shared().info(QStringLiteral("GlobalHotkeyService: Hotkeys enabled"));
    } else if (!enabled && monitor_) {
        removeMonitor();
        Log::shared().info(QStringLiteral("GlobalHotkeyService: Hotkeys disabled"));
    }
}

void GlobalHotkeyService::installMonitor() {
    if (monitor_) return;
    monitor_ = keyMonitor().addKeyDownMonitor(lifetime_.wrap([this](const platform::KeyEvent& event) { handleKeyDown(event); }));
    if (monitor_) {
        Log::shared().debug(QStringLiteral("GlobalHotkeyService: Installed global key monitor"));
    } else {
        // Saying "installed" here would hide why the keys do nothing.
        Log::shared().warning(QStringLiteral("GlobalHotkeyService: Failed to install global key monitor"));
    }
}

void GlobalHotkeyService::removeMonitor() {
    if (monitor_) keyMonitor().removeMonitor(*monitor_);
    monitor_.reset();
}

std::optional<GlobalHotkeyService::Action> GlobalHotkeyService::actionFor(const platform::KeyEvent& event) {
    const uint32_t flags = event.modifierFlags;
    if (!(flags & platform::modifierCommand)) return std::nullopt;
    if (flags & (platform::modifierShift | platform::modifierControl | platform::modifierOption)) return std::nullopt;
    if (event.keyCode == platform::keyCodeLeftArrow) return Action::previousTrack;
    if (event.keyCode == platform::keyCodeRightArrow) return Action::nextTrack;
    return std::nullopt;
}

void GlobalHotkeyService::handleKeyDown(const platform::KeyEvent& event) {
    const auto action = actionFor(event);
    if (!action) return;
    if (*action == Action::previousTrack) {
        Log::shared().debug(QStringLiteral("GlobalHotkeyService: Cmd+Left -> Previous track"));
        mediaRemote().previousTrack();
    } else {
        Log::shared().debug(QStringLiteral("GlobalHotkeyService: Cmd+Right -> Next track"));
        mediaRemote().nextTrack();
    }
}
