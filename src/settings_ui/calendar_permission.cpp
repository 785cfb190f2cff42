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

QString problemBadge(platform::CalendarStoreProblem problem) {
    switch (problem) {
        case platform::CalendarStoreProblem::noSessionBus:
            return L10n::pick(QStringLiteral("No Session Bus"), QStringLiteral("セッションバスなし"));
        case platform::CalendarStoreProblem::notInstalled:
            return L10n::pick(QStringLiteral("Not Installed"), QStringLiteral("未インストール"));
        case platform::CalendarStoreProblem::unreachable:
            return L10n::pick(QStringLiteral("Not Reachable"), QStringLiteral("接続できません"));
    }
    return {};
}

PermissionTone problemTone(platform::CalendarStoreProblem problem) {
    // Nothing in the settings window can give a process a session bus.
    return problem == platform::CalendarStoreProblem::noSessionBus ? PermissionTone::red : PermissionTone::orange;
}

QString problemNote(std::optional<platform::CalendarStoreProblem> problem) {
    switch (problem.value_or(platform::CalendarStoreProblem::unreachable)) {
        case platform::CalendarStoreProblem::noSessionBus:
            return L10n::pick(QStringLiteral("Quillvex was started without a D-Bus session bus, so it cannot reach the "
                                             "desktop's calendars."),
                              QStringLiteral("Quillvex が D-Bus のセッションバスなしで起動されたため、デスクトップの"
                                             "カレンダーに接続できません。"));
        case platform::CalendarStoreProblem::notInstalled:
            return L10n::pick(QStringLiteral("Evolution Data Server is not installed, so there are no desktop calendars "
                                             "to read."),
                              QStringLiteral("Evolution Data Server がインストールされていないため、読めるデスクトップの"
                                             "カレンダーがありません。"));
        case platform::CalendarStoreProblem::unreachable: break;
    }
    if (problem) {
        return L10n::pick(QStringLiteral("Evolution Data Server did not answer, so the desktop's calendars cannot be read "
                                         "right now."),
                          QStringLiteral("Evolution Data Server が応答しないため、今はデスクトップのカレンダーを読めません。"));
    }
    return L10n::pick(QStringLiteral("Linux shows no Calendar permission prompt: the calendars are read once Evolution "
                                     "Data Server can be reached."),
                      QStringLiteral("Linux ではカレンダー許可ダイアログは出ません。Evolution Data Server に接続できれば"
                                     "カレンダーを読みます。"));
}

QString problemAdvice(std::optional<platform::CalendarStoreProblem> problem) {
    if (problem == platform::CalendarStoreProblem::noSessionBus) {
        return L10n::pick(
            QStringLiteral("Quillvex was started without a D-Bus session bus, so it cannot reach Evolution Data Server, "
                           "which holds the desktop's calendars. Start Quillvex from your desktop session (or under "
                           "dbus-run-session), then try again."),
            QStringLiteral("Quillvex は D-Bus のセッションバスなしで起動されたため、デスクトップのカレンダーを持つ "
                           "Evolution Data Server に接続できません。デスクトップのセッションから（または dbus-run-session "
                           "で）Quillvex を起動し、もう一度お試しください。"));
    }
    if (problem == platform::CalendarStoreProblem::notInstalled) {
        return L10n::pick(
            QStringLiteral("Quillvex reads the desktop's calendars through Evolution Data Server, which is not installed. "
                           "Install evolution-data-server (GNOME Calendar and Evolution use it), add your calendars "
                           "there, then try again."),
            QStringLiteral("Quillvex はデスクトップのカレンダーを Evolution Data Server から読みますが、インストール"
                           "されていません。evolution-data-server をインストールし（GNOME カレンダーや Evolution が使い"
                           "ます）、カレンダーを追加してから、もう一度お試しください。"));
    }
    return L10n::pick(
        QStringLiteral("Linux has no Calendar permission to turn on: Quillvex reads the desktop's calendars through "
                       "Evolution Data Server whenever it can reach it. Check that Evolution Data Server runs in your "
                       "session and that your calendars are enabled in GNOME Calendar or Evolution, then try again."),
        QStringLiteral("Linux にはオンにするカレンダー許可はありません。Quillvex は Evolution Data Server に接続できれば"
                       "デスクトップのカレンダーを読みます。セッションで Evolution Data Server が動いていること、GNOME "
                       "カレンダーや Evolution でカレンダーが有効なことを確認してから、もう一度お試しください。"));
}

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
        L10n::pick(QStringLiteral("Keep this window in front while Quillvex reaches the desktop's calendars."),
                   QStringLiteral("このウィンドウを前面にしたまま、デスクトップのカレンダーへの接続を待機します。")),
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
