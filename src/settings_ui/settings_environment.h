#pragma once

#include "core/event_bus.h"
#include "glance/calendar_service.h"
#include "glance/weather_service.h"
#include "music/media_remote_service.h"
#include "permissions/full_disk_access_manager.h"
#include "permissions/permission_manager.h"
#include "platform/runtime/dispatch.h"
#include "platform/shell/application.h"
#include "platform/storage/defaults.h"
#include "platform/workspace/workspace.h"

// What the settings window asks of the running application, which owns the windows and the
// monitoring (the application delegate implements it).
class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    // Brings one of our windows forward so that a system prompt has a parent; false when none can.
    virtual bool focusWindowForSystemPrompt() = 0;
    // Starts the monitoring that waited for the calendar permission flow, unless it already runs.
    virtual void resumeMonitoringAfterCalendarPermissionFlow() = 0;
};

// What the settings window talks to; each nullptr means the shared one, looked up at each use.
// Without a host (a test, or no application around) nothing is focused or resumed.
struct SettingsEnvironment {
    platform::Defaults* defaults = nullptr;
    EventBus* bus = nullptr;
    platform::Scheduler* scheduler = nullptr;
    platform::Workspace* workspace = nullptr;
    PermissionManager* permissions = nullptr;
    FullDiskAccessManager* fullDiskAccess = nullptr;
    SettingsHost* host = nullptr;
    platform::Application* application = nullptr;
    CalendarService* calendarService = nullptr;
    WeatherService* weatherService = nullptr;
    MediaRemoteService* mediaService = nullptr;

    platform::Defaults& resolvedDefaults() const { return defaults ? *defaults : platform::Defaults::standard(); }
    EventBus& resolvedBus() const { return bus ? *bus : EventBus::shared(); }
    platform::Scheduler& resolvedScheduler() const { return scheduler ? *scheduler : platform::Scheduler::shared(); }
    platform::Workspace& resolvedWorkspace() const { return workspace ? *workspace : platform::Workspace::shared(); }
    PermissionManager& resolvedPermissions() const { return permissions ? *permissions : PermissionManager::shared(); }
    platform::Application& resolvedApplication() const {
        return application ? *application : platform::Application::shared();
    }
    CalendarService& resolvedCalendarService() const {
        return calendarService ? *calendarService : CalendarService::shared();
    }
    WeatherService& resolvedWeatherService() const {
        return weatherService ? *weatherService : WeatherService::shared();
    }
    MediaRemoteService& resolvedMediaService() const {
        return mediaService ? *mediaService : MediaRemoteService::shared();
    }
    FullDiskAccessManager& resolvedFullDiskAccess() const {
        return fullDiskAccess ? *fullDiskAccess : FullDiskAccessManager::shared();
    }
};
