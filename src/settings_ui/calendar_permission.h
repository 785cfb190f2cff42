#pragma once

// How the settings window sees and obtains calendar access: the five permission states, the
// request flow behind "Request Access" with its anchor window, and the status lines it logs.
// Every log line carries the caller's context ("CalendarPermission[<context>]: ...").

#include "settings_environment.h"

#include "platform/calendar/calendar_store.h"
#include "platform/shell/window.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

enum class CalendarPermissionState { notDetermined, fullAccess, writeOnly, denied, restricted };

// Which reading of the raw authorization status applies: the current one knows write-only access,
// the legacy one reads it as denied and names full access "authorized".
enum class CalendarAccessRules { current, legacy };

// The colour a permission badge is drawn in.
enum class PermissionTone { green, orange, yellow, red, secondary };

namespace CalendarPermission {

// The rules of the running system (current unless a test chose otherwise).
CalendarAccessRules rules();
void setRules(CalendarAccessRules rules);

CalendarPermissionState stateFor(int rawStatus, CalendarAccessRules rules);
// The store's status now, under the running rules.
CalendarPermissionState current(platform::CalendarStore& store = platform::CalendarStore::shared());

// "notDetermined", "fullAccess", ...
QString caseName(CalendarPermissionState state);
// Chosen by the language at each call.
QString badgeLabel(CalendarPermissionState state);
PermissionTone tone(CalendarPermissionState state);
// "Request Access" while not determined, "Open Settings" for the limited, denied and restricted
// states, none once granted.
std::optional<QString> buttonTitle(CalendarPermissionState state);

// The status as the log names it, and whether it counts as granted for the calendar count.
QString statusName(int rawStatus, CalendarAccessRules rules);
bool countsAsGranted(int rawStatus, CalendarAccessRules rules);

// "CalendarPermission[<context>]: "
QString prefix(const QString& context);

// A store that cannot be read says why in place of the notDetermined badge and tone.
QString problemBadge(platform::CalendarStoreProblem problem);
PermissionTone problemTone(platform::CalendarStoreProblem problem);
// One sentence under the rows on why there are no calendars, and the alerts' advice on what to do
// about it; a store with no problem gets the general word that Linux has no calendar permission.
QString problemNote(std::optional<platform::CalendarStoreProblem> problem);
QString problemAdvice(std::optional<platform::CalendarStoreProblem> problem);

}  // namespace CalendarPermission

// Logs "<phase> status=<name>", with the store's calendar count when access is granted and a
// store is given.
void logCalendarAuthorizationStatus(const QString& context, const QString& phase, platform::CalendarStore* store);

// Makes the application regular and active with the anchor window in front, so that the system's
// prompt can come up above everything.
void prepareAppForCalendarPermissionPrompt(const SettingsEnvironment& environment, const QString& context);

// The small window that stays in front while the system prepares its prompt. One at a time: a
// second present() brings the existing one forward.
class CalendarPermissionPromptAnchor {
public:
    CalendarPermissionPromptAnchor() = delete;

    static void present(platform::Application& application = platform::Application::shared());
    // Orders the anchor out and forgets it; nothing when there is none.
    static void close();
    static platform::Window* window();
    // How many anchor windows were ever built (each present() that found none builds one).
    static int buildCount();
};

// Asks for calendar access: prepares the application, waits 200 ms, asks the store, closes the
// anchor and acts on the answer (privacy settings or the unsigned-build alert when refused).
// Returns at once; `onGranted` runs later on the main thread, only when access was granted.
void requestCalendarAccess(const SettingsEnvironment& environment, const QString& context,
                           std::function<void()> onGranted);
