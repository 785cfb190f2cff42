#include "calendar_permission.h"

#include "calendar_privacy.h"
#include "core/l10n.h"
#include "core/log.h"
#include "core/runtime_diagnostics.h"
#include "settings_style.h"

#include <QCoreApplication>
#include <QLabel>

namespace {

CalendarAccessRules gRules = CalendarAccessRules::current;

// The prompt needs a moment after activation before it can come up in front.
constexpr double kPromptSettleDelay = 0.2;

constexpr int kAnchorWidth = 380;
constexpr int kAnchorHeight = 92;

struct AnchorSlot {
    std::shared_ptr<platform::Window> window;
    int builds = 0;
};

AnchorSlot& anchorSlot() {
    static AnchorSlot slot;
    return slot;
}

int rawStatus(platform::CalendarStore& store) { return static_cast<int>(store.authorizationStatus()); }

// A label placed by its frame measured from the bottom-left of a content of the anchor's height.
QLabel* anchorLabel(const QString& text, double size, QFont::Weight weight, const QColor& color, int x, int y,
                    int width, int height, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(SettingsStyle::systemFont(size, weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setGeometry(x, kAnchorHeight - y - height, width, height);
    return label;
}

void resumeMonitoringSoon(const SettingsEnvironment& environment) {
    SettingsHost* host = environment.host;
    environment.resolvedScheduler().post([host] {
        if (host) host->resumeMonitoringAfterCalendarPermissionFlow();
    });
}

void handleResult(const SettingsEnvironment& environment, const QString& context, platform::CalendarStore& store,
                  bool granted, const std::function<void()>& onGranted) {
    logCalendarAuthorizationStatus(context, QStringLiteral("after-request"), &store);
    Log::shared().info(CalendarPermission::prefix(context) + QStringLiteral("request completed (granted=") +
                       (granted ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(")"));
    if (granted) {
        if (onGranted) onGranted();
        return;
    }
    if (CalendarPermission::current(store) == CalendarPermissionState::notDetermined) {
        Log::shared().warning(CalendarPermission::prefix(context) +
                              QStringLiteral("request returned without changing TCC state; the system prompt "
                                             "likely never appeared"));
    }
    if (AppRuntimeDiagnostics::teamIdentifier()) {
        openCalendarPrivacySettings(environment, context);
    } else {
        Log::shared().warning(CalendarPermission::prefix(context) +
                              QStringLiteral("access request failed on an ad-hoc signed build"));
        showUnsignedCalendarPermissionAlert(environment, context);
    }
    resumeMonitoringSoon(environment);
}

void handleError(const SettingsEnvironment& environment, const QString& context, const QString& description) {
    logCalendarAuthorizationStatus(context, QStringLiteral("after-request-error"), nullptr);
    Log::shared().error(CalendarPermission::prefix(context) + QStringLiteral("request failed - ") + description);
    openCalendarPrivacySettings(environment, context);
    resumeMonitoringSoon(environment);
}

}  // namespace

namespace CalendarPermission {

CalendarAccessRules rules() { return gRules; }
void setRules(CalendarAccessRules rules) { gRules = rules; }

CalendarPermissionState stateFor(int rawStatus, CalendarAccessRules rules) {
    switch (rawStatus) {
        case 0: return CalendarPermissionState::notDetermined;
        case 1: return CalendarPermissionState::restricted;
        case 2: return CalendarPermissionState::denied;
        case 3: return CalendarPermissionState::fullAccess;
        case 4:
            return rules == CalendarAccessRules::current ? CalendarPermissionState::writeOnly
                                                         : CalendarPermissionState::denied;
        default: return CalendarPermissionState::denied;
    }
}

CalendarPermissionState current(platform::CalendarStore& store) { return stateFor(rawStatus(store), rules()); }

QString caseName(CalendarPermissionState state) {
    switch (state) {
        case CalendarPermissionState::notDetermined: return QStringLiteral("notDetermined");
        case CalendarPermissionState::fullAccess: return QStringLiteral("fullAccess");
        case CalendarPermissionState::writeOnly: return QStringLiteral("writeOnly");
        case CalendarPermissionState::denied: return QStringLiteral("denied");
        case CalendarPermissionState::restricted: return QStringLiteral("restricted");
    }
    return QStringLiteral("denied");
}

QString badgeLabel(CalendarPermissionState state) {
    switch (state) {
        case CalendarPermissionState::notDetermined:
            return L10n::pick(QStringLiteral("Not Requested"), QStringLiteral("未要求"));
        case CalendarPermissionState::fullAccess: return L10n::pick(QStringLiteral("Allowed"), QStringLiteral("許可済み"));
        case CalendarPermissionState::writeOnly: return L10n::pick(QStringLiteral("Limited"), QStringLiteral("限定アクセス"));
        case CalendarPermissionState::denied: return L10n::pick(QStringLiteral("Denied"), QStringLiteral("拒否"));
        case CalendarPermissionState::restricted: return L10n::pick(QStringLiteral("Restricted"), QStringLiteral("制限中"));
    }
    return {};
}

PermissionTone tone(CalendarPermissionState state) {
    switch (state) {
        case CalendarPermissionState::notDetermined: return PermissionTone::orange;
        case CalendarPermissionState::fullAccess: return PermissionTone::green;
        case CalendarPermissionState::writeOnly: return PermissionTone::yellow;
        case CalendarPermissionState::denied:
        case CalendarPermissionState::restricted: return PermissionTone::red;
    }
    return PermissionTone::red;
}

std::optional<QString> buttonTitle(CalendarPermissionState state) {
    switch (state) {
        case CalendarPermissionState::notDetermined:
            return L10n::pick(QStringLiteral("Request Access"), QStringLiteral("アクセスを要求"));
        case CalendarPermissionState::fullAccess: return std::nullopt;
        case CalendarPermissionState::writeOnly:
        case CalendarPermissionState::denied:
        case CalendarPermissionState::restricted:
            return L10n::pick(QStringLiteral("Open Settings"), QStringLiteral("設定を開く"));
    }
    return std::nullopt;
}

QString statusName(int rawStatus, CalendarAccessRules rules) {
    const bool legacy = rules == CalendarAccessRules::legacy;
    switch (rawStatus) {
        case 0: return QStringLiteral("notDetermined");
        case 1: return QStringLiteral("restricted");
        case 2: return QStringLiteral("denied");
        case 3: return legacy ? QStringLiteral("authorized") : QStringLiteral("fullAccess");
        case 4: return legacy ? QStringLiteral("unknown") : QStringLiteral("writeOnly");
        default: return QStringLiteral("unknown");
    }
}

bool countsAsGranted(int rawStatus, CalendarAccessRules rules) {
    return rawStatus == 3 || (rawStatus == 4 && rules == CalendarAccessRules::current);
}

QString prefix(const QString& context) { return QStringLiteral("CalendarPermission[") + context + QStringLiteral("]: "); }

}  // namespace CalendarPermission

void logCalendarAuthorizationStatus(const QString& context, const QString& phase, platform::CalendarStore* store) {
    const int raw = rawStatus(platform::CalendarStore::shared());
    const CalendarAccessRules rules = CalendarPermission::rules();
    QString line = CalendarPermission::prefix(context) + phase + QStringLiteral(" status=") +
                   CalendarPermission::statusName(raw, rules);
    if (store && CalendarPermission::countsAsGranted(raw, rules)) {
        line += QStringLiteral(" visibleCalendars=") + QString::number(store->eventCalendarCount());
    }
    Log::shared().info(line);
}

void CalendarPermissionPromptAnchor::present(platform::Application& application) {
    AnchorSlot& slot = anchorSlot();
    if (slot.window) {
        slot.window->makeKeyAndOrderFront();
        slot.window->orderFrontRegardless();
        return;
    }
    auto window = application.makeWindow(QSize(kAnchorWidth, kAnchorHeight),
                                         platform::WindowStyle::Titled | platform::WindowStyle::Closable);
    window->setTitle(QStringLiteral("Calendar Access"));
    window->setLevel(platform::WindowLevel::floating);

    auto* content = new QWidget();
    content->setObjectName(QStringLiteral("calendarAnchorContent"));
    content->setFixedSize(kAnchorWidth, kAnchorHeight);
    auto* title = anchorLabel(L10n::pick(QStringLiteral("Requesting Calendar Access\u2026"),
                                         QStringLiteral("カレンダー許可を要求しています\u2026")),
                              15, QFont::DemiBold, SettingsStyle::primary(content), 24, 46, 332, 24, content);
    title->setObjectName(QStringLiteral("anchorTitle"));
    auto* detail = anchorLabel(
        L10n::pick(QStringLiteral("Keep this window in front while macOS prepares the permission prompt."),
                   QStringLiteral("このウィンドウを前面にしたまま macOS の許可ダイアログを待機します。")),
        12, QFont::Normal, SettingsStyle::secondary(content), 24, 20, 332, 18, content);
    detail->setObjectName(QStringLiteral("anchorDetail"));

    window->center();
    window->setContentView(content);
    window->makeKeyAndOrderFront();
    window->orderFrontRegardless();
    slot.window = std::move(window);
    ++slot.builds;
}

void CalendarPermissionPromptAnchor::close() {
    AnchorSlot& slot = anchorSlot();
    if (!slot.window) return;
    // Ordered out, then released with its content: an anchor is never left behind.
    auto window = std::move(slot.window);
    window->orderOut();
}

platform::Window* CalendarPermissionPromptAnchor::window() { return anchorSlot().window.get(); }

int CalendarPermissionPromptAnchor::buildCount() { return anchorSlot().builds; }

void prepareAppForCalendarPermissionPrompt(const SettingsEnvironment& environment, const QString& context) {
    const QString prefix = CalendarPermission::prefix(context);
    platform::Application& application = environment.resolvedApplication();
    if (application.activationPolicy() != platform::ActivationPolicy::Regular) {
        application.setActivationPolicy(platform::ActivationPolicy::Regular);
        Log::shared().info(prefix + QStringLiteral("promoted activation policy to regular"));
    }
    CalendarPermissionPromptAnchor::present(application);

    if (SettingsHost* host = environment.host) {
        const bool focused = host->focusWindowForSystemPrompt();
        Log::shared().info(prefix + QStringLiteral("appDelegateFocus=") +
                           (focused ? QStringLiteral("true") : QStringLiteral("false")));
    } else {
        platform::Window* found = nullptr;
        // The menu-bar entry is no window of this list, so any titled one will do.
        for (platform::Window* window : application.windows().orderedWindows()) {
            if (window->isVisible() && window->canBecomeKey() && (window->styleMask() & platform::WindowStyle::Titled)) {
                found = window;
                break;
            }
        }
        if (found) {
            found->makeKeyAndOrderFront();
            found->orderFrontRegardless();
            Log::shared().info(prefix + QStringLiteral("focused fallback titled window (") + found->title() +
                               QStringLiteral(")"));
        } else {
            Log::shared().warning(prefix + QStringLiteral("no suitable titled window found before request"));
        }
    }

    environment.resolvedWorkspace().activateApplication(QCoreApplication::applicationPid(), true);
    application.activate(true);
    Log::shared().info(prefix + QStringLiteral("activated app for permission prompt"));
}

void requestCalendarAccess(const SettingsEnvironment& environment, const QString& context,
                           std::function<void()> onGranted) {
    AppRuntimeDiagnostics::logSigningState(QStringLiteral("calendar-request"));
    prepareAppForCalendarPermissionPrompt(environment, context);
    Log::shared().info(CalendarPermission::prefix(context) + QStringLiteral("requesting EventKit access"));
    // The request's own session: the store stays with it until the answer has been handled.
    platform::CalendarStore* store = &platform::CalendarStore::shared();
    logCalendarAuthorizationStatus(context, QStringLiteral("before-request"), nullptr);

    environment.resolvedScheduler().after(kPromptSettleDelay, [environment, context, store,
                                                               onGranted = std::move(onGranted)]() mutable {
        store->requestFullAccess([environment, context, store, onGranted = std::move(onGranted)](
                                     bool granted, std::optional<QString> error) {
            CalendarPermissionPromptAnchor::close();
            if (error) {
                handleError(environment, context, *error);
            } else {
                handleResult(environment, context, *store, granted, onGranted);
            }
        });
    });
}
