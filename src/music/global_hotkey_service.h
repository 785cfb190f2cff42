#pragma once

// Command+Left / Command+Right skip tracks from any application, while the media-hotkeys setting
// is on. The key monitor only listens: the keys still reach the application they were meant for.

#include "core/app_settings.h"
#include "platform/input_monitor/global_key_monitor.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/storage/defaults.h"

#include <optional>

class MediaRemoteService;

class GlobalHotkeyService {
public:
    enum class Action { previousTrack, nextTrack };

    static GlobalHotkeyService& shared();

    // nullptr collaborators are the shared ones, looked up when used.
    explicit GlobalHotkeyService(platform::Defaults* defaults = nullptr,
                                 platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                 platform::GlobalKeyMonitor* keyMonitor = nullptr,
                                 MediaRemoteService* mediaRemote = nullptr);
    ~GlobalHotkeyService();
    GlobalHotkeyService(const GlobalHotkeyService&) = delete;
    GlobalHotkeyService& operator=(const GlobalHotkeyService&) = delete;

    // Main thread.
    void start();
    void stop();

    bool hasMonitor() const { return monitor_.has_value(); }
    bool isObservingSettings() const { return settingsCancellable_.isActive(); }

    // The key rule: Command alone (lock and keypad flags aside) with Left or Right.
    static std::optional<Action> actionFor(const platform::KeyEvent& event);

private:
    void setupSettingsObserver();
    void handleSettingsChange();
    void installMonitor();
    void removeMonitor();
    void handleKeyDown(const platform::KeyEvent& event);
    platform::Defaults& defaults() const;
    platform::GlobalKeyMonitor& keyMonitor() const;
    MediaRemoteService& mediaRemote() const;

    std::optional<platform::GlobalKeyMonitor::Token> monitor_;
    platform::AnyCancellable settingsCancellable_;
    platform::Defaults* defaults_;
    platform::Scheduler& scheduler_;
    platform::GlobalKeyMonitor* keyMonitor_;
    MediaRemoteService* mediaRemote_;
    AppSettings settings_;
    platform::Lifetime lifetime_;
};
