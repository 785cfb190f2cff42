#include "calendar_fixture.h"
#include "settings_ui/calendar_access_row.h"
#include "settings_ui/calendar_privacy.h"

#include <QLabel>

using platform::CalendarAuthorizationStatus;
using platform::LogLevel;

namespace {

const QString kContext = QStringLiteral("GeneralSettingsTab");

}  // namespace

TEST(CalendarPermissionStateTest, RawStatusesReadByBothRuleSets) {
    using State = CalendarPermissionState;
    const auto current = CalendarAccessRules::current;
    const auto legacy = CalendarAccessRules::legacy;
    const std::vector<std::tuple<int, State, State, QString, QString, bool, bool>> table{
        {0, State::notDetermined, State::notDetermined, "notDetermined", "notDetermined", false, false},
        {1, State::restricted, State::restricted, "restricted", "restricted", false, false},
        {2, State::denied, State::denied, "denied", "denied", false, false},
        {3, State::fullAccess, State::fullAccess, "fullAccess", "authorized", true, true},
        {4, State::writeOnly, State::denied, "writeOnly", "unknown", true, false},
        {9, State::denied, State::denied, "unknown", "unknown", false, false},
        {-1, State::denied, State::denied, "unknown", "unknown", false, false},
    };
    for (const auto& [raw, now, old, nowName, oldName, nowGranted, oldGranted] : table) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(CalendarPermission::stateFor(raw, current), now);
        EXPECT_EQ(CalendarPermission::stateFor(raw, legacy), old);
        EXPECT_EQ(CalendarPermission::statusName(raw, current), nowName);
        EXPECT_EQ(CalendarPermission::statusName(raw, legacy), oldName);
        EXPECT_EQ(CalendarPermission::countsAsGranted(raw, current), nowGranted);
        EXPECT_EQ(CalendarPermission::countsAsGranted(raw, legacy), oldGranted);
    }
}

TEST_F(CalendarPermissionTest, BadgesTonesAndButtonsInBothLanguages) {
    using State = CalendarPermissionState;
    struct Row {
        State state;
        QString english, japanese;
        PermissionTone tone;
        std::optional<QString> button;
    };
    const std::vector<Row> rows{
        {State::notDetermined, "Not Requested", "未要求", PermissionTone::orange, "Request Access"},
        {State::fullAccess, "Allowed", "許可済み", PermissionTone::green, std::nullopt},
        {State::writeOnly, "Limited", "限定アクセス", PermissionTone::yellow, "Open Settings"},
        {State::denied, "Denied", "拒否", PermissionTone::red, "Open Settings"},
        {State::restricted, "Restricted", "制限中", PermissionTone::red, "Open Settings"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CalendarPermission::badgeLabel(row.state), row.english);
        EXPECT_EQ(CalendarPermission::tone(row.state), row.tone);
        EXPECT_EQ(CalendarPermission::buttonTitle(row.state), row.button);
    }
    useJapanese();
    for (const Row& row : rows) EXPECT_EQ(CalendarPermission::badgeLabel(row.state), row.japanese);
    EXPECT_EQ(CalendarPermission::buttonTitle(State::notDetermined), "アクセスを要求");
    EXPECT_EQ(CalendarPermission::buttonTitle(State::denied), "設定を開く");
}

TEST_F(CalendarPermissionTest, AWriteOnlyStoreShowsLimitedNowAndDeniedUnderTheLegacyRules) {
    calendarStore.status = CalendarAuthorizationStatus::writeOnly;
    calendarStore.storedEvents = {testsupport::storeEvent("a", QDateTime::currentDateTime())};
    EXPECT_EQ(CalendarPermission::current(), CalendarPermissionState::writeOnly);
    logCalendarAuthorizationStatus(kContext, "after-request", &calendarStore);
    CalendarPermission::setRules(CalendarAccessRules::legacy);
    EXPECT_EQ(CalendarPermission::current(), CalendarPermissionState::denied);
    EXPECT_EQ(CalendarPermission::badgeLabel(CalendarPermission::current()), "Denied");
    logCalendarAuthorizationStatus(kContext, "after-request", &calendarStore);
    EXPECT_EQ(flowLines(kContext), QStringList({"after-request status=writeOnly visibleCalendars=1",
                                                "after-request status=unknown"}));
}

// A refusal on a build without a signing team: the unsigned-build alert, 0.2 s after the answer,
// and no road to the settings.
TEST_F(CalendarPermissionTest, RefusedOnAnUnsignedBuildShowsOnlyTheUnsignedAlertAtItsDelay) {
    calendarStore.grantOnRequest = false;
    int granted = 0;
    requestCalendarAccess(environment, kContext, [&] { ++granted; });

    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::Regular);
    ASSERT_NE(CalendarPermissionPromptAnchor::window(), nullptr);
    EXPECT_TRUE(CalendarPermissionPromptAnchor::window()->isVisible());
    EXPECT_EQ(CalendarPermissionPromptAnchor::window()->level(), platform::WindowLevel::floating);
    EXPECT_EQ(log.matching("RuntimeSigning[calendar-request]: "),
              QStringList({"RuntimeSigning[calendar-request]: bundleID=com.varnock.Quillvex codeID=unknown "
                           "teamID=none path=/Applications/Quillvex.app"}));
    EXPECT_EQ(calendarStore.requests, 0);

    scheduler().advance(0.19);
    EXPECT_EQ(calendarStore.requests, 0);
    scheduler().advance(0.01);
    EXPECT_EQ(calendarStore.requests, 1);
    EXPECT_EQ(CalendarPermissionPromptAnchor::window(), nullptr);

    EXPECT_EQ(flowLines(kContext), QStringList({
                                       "promoted activation policy to regular",
                                       "focused fallback titled window (Calendar Access)",
                                       "activated app for permission prompt",
                                       "requesting EventKit access",
                                       "before-request status=notDetermined",
                                       "after-request status=notDetermined",
                                       "request completed (granted=false)",
                                       "request returned without changing TCC state; the system prompt likely "
                                       "never appeared",
                                       "access request failed on an ad-hoc signed build",
                                       "showing unsigned-build guidance alert",
                                   }));
    EXPECT_TRUE(log.contains(LogLevel::Warning, CalendarPermission::prefix(kContext) +
                                                    "access request failed on an ad-hoc signed build"));

    scheduler().advance(0.19);
    EXPECT_TRUE(shownAlerts().empty());
    scheduler().advance(0.01);
    ASSERT_EQ(shownAlerts().size(), 1u);
    const platform::Alert& alert = shownAlerts()[0].alert;
    EXPECT_EQ(alert.style, platform::Alert::Style::Warning);
    EXPECT_EQ(alert.messageText, "This build cannot request Calendar permission");
    EXPECT_EQ(alert.informativeText,
              "Linux has no Calendar permission to turn on: Quillvex reads the desktop's calendars through Evolution Data "
              "Server whenever it can reach it. Check that Evolution Data Server runs in your session and that your "
              "calendars are enabled in GNOME Calendar or Evolution, then try again.");
    EXPECT_EQ(alert.buttons, QStringList({"OK"}));
    EXPECT_TRUE(scripts.scripts().isEmpty());
    EXPECT_TRUE(workspace.openedUrls.empty());
    EXPECT_EQ(granted, 0);

    scheduler().advance(5);
    EXPECT_EQ(shownAlerts().size(), 1u);
}

// A denial on a signed build goes to the privacy settings: on Linux every script and URL fails,
// and the guidance alert follows 0.35 s later.
TEST_F(CalendarPermissionTest, DeniedOnASignedBuildOpensThePrivacySettingsAndGuides) {
    signing.team = QStringLiteral("TEAM123");
    calendarStore.grantOnRequest = false;
    calendarStore.statusAfterRefusal = CalendarAuthorizationStatus::denied;
    application.setActivationPolicy(platform::ActivationPolicy::Regular);
    environment.host = &host;
    requestCalendarAccess(environment, kContext, [] { FAIL(); });
    scheduler().advance(0.2);

    EXPECT_EQ(host.focusCalls, 1);
    EXPECT_EQ(flowLines(kContext).mid(0, 6), QStringList({
                                                  "appDelegateFocus=true",
                                                  "activated app for permission prompt",
                                                  "requesting EventKit access",
                                                  "before-request status=notDetermined",
                                                  "after-request status=denied",
                                                  "request completed (granted=false)",
                                              }));
    EXPECT_EQ(flowLines(kContext).mid(6, 1), QStringList({"opening privacy settings"}));
    EXPECT_EQ(scripts.scripts().size(), 1);  // the first script ran and (here) succeeded
    scheduler().drain();
    EXPECT_EQ(host.resumes, 1);
    scheduler().advance(0.34);
    EXPECT_TRUE(shownAlerts().empty());
    scheduler().advance(0.01);
    ASSERT_EQ(shownAlerts().size(), 1u);
    EXPECT_EQ(shownAlerts()[0].alert.style, platform::Alert::Style::Informational);
    EXPECT_EQ(shownAlerts()[0].alert.messageText, "Enable Calendar Access");
    EXPECT_EQ(shownAlerts()[0].alert.informativeText,
              "Linux has no Calendar permission to turn on: Quillvex reads the desktop's calendars through Evolution Data "
              "Server whenever it can reach it. Check that Evolution Data Server runs in your session and that your "
              "calendars are enabled in GNOME Calendar or Evolution, then try again.");
}

TEST_F(CalendarPermissionTest, GrantedCallsTheHandlerOnceAndResumesNothingItself) {
    environment.host = &host;
    calendarStore.storedEvents = {testsupport::storeEvent("a", QDateTime::currentDateTime())};
    int granted = 0;
    requestCalendarAccess(environment, kContext, [&] { ++granted; });
    scheduler().advance(1);
    EXPECT_EQ(granted, 1);
    EXPECT_EQ(host.resumes, 0);
    EXPECT_TRUE(flowLines(kContext).contains("after-request status=fullAccess visibleCalendars=1"));
    EXPECT_TRUE(flowLines(kContext).contains("request completed (granted=true)"));
    EXPECT_TRUE(shownAlerts().empty());
    EXPECT_EQ(CalendarPermissionPromptAnchor::window(), nullptr);
}

TEST_F(CalendarPermissionTest, AFailedRequestLogsTheErrorAndTakesTheSettingsRoad) {
    environment.host = &host;
    host.focusResult = false;
    calendarStore.requestError = QStringLiteral("The calendar store is not reachable");
    scriptsFail();
    requestCalendarAccess(environment, kContext, [] { FAIL(); });
    scheduler().advance(0.2);
    scheduler().drain();
    const QStringList lines = flowLines(kContext);
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines.mid(0, 2), QStringList({"promoted activation policy to regular", "appDelegateFocus=false"}));
    const int failed = static_cast<int>(lines.indexOf("request failed - The calendar store is not reachable"));
    ASSERT_GT(failed, 0);
    EXPECT_EQ(lines[failed - 1], "after-request-error status=notDetermined");
    EXPECT_EQ(lines[failed + 1], "opening privacy settings");
    EXPECT_TRUE(log.contains(LogLevel::Error, CalendarPermission::prefix(kContext) +
                                                  "request failed - The calendar store is not reachable"));
    EXPECT_EQ(CalendarPermissionPromptAnchor::window(), nullptr);
    EXPECT_EQ(host.resumes, 1);
}

TEST_F(CalendarPermissionTest, TwoQuickRequestsBuildOneAnchorAndBothCloseIt) {
    calendarStore.grantOnRequest = false;
    const int builds = CalendarPermissionPromptAnchor::buildCount();
    requestCalendarAccess(environment, kContext, [] {});
    platform::Window* first = CalendarPermissionPromptAnchor::window();
    scheduler().advance(0.1);
    requestCalendarAccess(environment, kContext, [] {});
    EXPECT_EQ(CalendarPermissionPromptAnchor::window(), first);
    EXPECT_EQ(CalendarPermissionPromptAnchor::buildCount(), builds + 1);
    const size_t windowsWithAnchor = application.windows().orderedWindows().size();
    scheduler().advance(1);
    EXPECT_EQ(CalendarPermissionPromptAnchor::window(), nullptr);
    // Released, not just hidden.
    EXPECT_EQ(application.windows().orderedWindows().size(), windowsWithAnchor - 1);
    EXPECT_EQ(calendarStore.requests, 2);
    EXPECT_EQ(log.count(CalendarPermission::prefix(kContext) + "request completed (granted=false)"), 2);
}

TEST_F(CalendarPermissionTest, TheAnchorWindowReadsInTheChosenLanguage) {
    useJapanese();
    CalendarPermissionPromptAnchor::present(application);
    platform::Window* window = CalendarPermissionPromptAnchor::window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title(), "Calendar Access");
    EXPECT_EQ(window->styleMask(), platform::WindowStyle::Titled | platform::WindowStyle::Closable);
    auto* title = find<QLabel>(window->contentView(), "anchorTitle");
    auto* detail = find<QLabel>(window->contentView(), "anchorDetail");
    EXPECT_EQ(title->text(), "カレンダー許可を要求しています…");
    EXPECT_EQ(detail->text(), "このウィンドウを前面にしたまま、デスクトップのカレンダーへの接続を待機します。");
    EXPECT_EQ(title->geometry(), QRect(24, 22, 332, 24));
    EXPECT_EQ(detail->geometry(), QRect(24, 54, 332, 18));
}

TEST_F(CalendarPermissionTest, PrivacySettingsTryScriptsThenUrlsThenTheApplication) {
    const QString prefix = CalendarPermission::prefix(kContext);
    const QStringList reveals{
        "tell application \"System Settings\"\n    activate\n    reveal pane id "
        "\"com.apple.settings.PrivacySecurity.extension\"\nend tell",
        "tell application \"System Settings\"\n    activate\n    reveal pane id \"com.apple.preference.security\"\nend tell",
        "tell application \"System Preferences\"\n    activate\n    reveal pane id \"com.apple.preference.security\"\nend tell",
    };
    // The first script works: nothing else is tried, one guide follows.
    openCalendarPrivacySettings(environment, kContext);
    EXPECT_EQ(scripts.scripts(), reveals.mid(0, 1));
    EXPECT_TRUE(workspace.openedUrls.empty());
    EXPECT_TRUE(log.contains(prefix + "opened via AppleScript pane reveal"));

    // All scripts fail, in order: the general security URL is opened (the fake accepts it).
    scriptsFail();
    openCalendarPrivacySettings(environment, kContext);
    EXPECT_EQ(scripts.scripts().mid(1), reveals);
    EXPECT_EQ(log.count(prefix + "AppleScript failed - no host"), 3);
    ASSERT_EQ(workspace.openedUrls.size(), 1u);
    EXPECT_EQ(workspace.openedUrls[0].toString(), "x-apple.systempreferences:com.apple.preference.security");
    EXPECT_TRUE(log.contains(prefix + "opened via URL x-apple.systempreferences:com.apple.preference.security"));

    scheduler().advance(0.35);
    // Two calls, two guides, one after the other.
    ASSERT_EQ(shownAlerts().size(), 1u);
    alertSurface->answer(0);
    ASSERT_EQ(shownAlerts().size(), 2u);
}

// What Linux gives: no script host, no deep links, no settings application.
TEST_F(CalendarPermissionTest, OnLinuxEveryTargetFailsAndTheGuideStillFollows) {
    platform::UnavailableScriptRunner noScripts;
    auto* previousRunner = platform::ScriptRunner::setShared(&noScripts);
    environment.workspace = nullptr;  // the Linux workspace
    auto* previousWorkspace = platform::Workspace::setShared(nullptr);
    useJapanese();
    calendarStore.storeProblem = platform::CalendarStoreProblem::notInstalled;
    openCalendarPrivacySettings(environment, kContext);
    platform::Workspace::setShared(previousWorkspace);
    platform::ScriptRunner::setShared(previousRunner);

    const QStringList lines = flowLines(kContext);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "opening privacy settings");
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(lines[i].startsWith("AppleScript failed - ")) << lines[i].toStdString();
    EXPECT_EQ(lines[4], "failed to open any privacy settings target");
    EXPECT_EQ(lines[5], "showing manual guidance alert");
    scheduler().advance(0.35);
    ASSERT_EQ(shownAlerts().size(), 1u);
    EXPECT_EQ(shownAlerts()[0].alert.messageText, "カレンダーアクセスを有効にしてください");
    EXPECT_EQ(shownAlerts()[0].alert.informativeText,
              "Quillvex はデスクトップのカレンダーを Evolution Data Server から読みますが、インストールされていません。"
              "evolution-data-server をインストールし（GNOME カレンダーや Evolution が使います）、カレンダーを追加して"
              "から、もう一度お試しください。");
}

// The store cannot be asked on Linux, only reached: the row, its note and the alerts say what is in
// the way, in both languages.
TEST_F(CalendarPermissionTest, AStoreOutOfReachSaysWhyInBothLanguages) {
    using Problem = platform::CalendarStoreProblem;
    struct Case {
        std::optional<Problem> problem;
        QString badge, badgeJa;
        PermissionTone tone;
        QString note, noteJa, advice, adviceJa;
    };
    const QString generalAdvice =
        "Linux has no Calendar permission to turn on: Quillvex reads the desktop's calendars through Evolution Data "
        "Server whenever it can reach it. Check that Evolution Data Server runs in your session and that your calendars "
        "are enabled in GNOME Calendar or Evolution, then try again.";
    const QString generalAdviceJa =
        "Linux にはオンにするカレンダー許可はありません。Quillvex は Evolution Data Server に接続できればデスクトップの"
        "カレンダーを読みます。セッションで Evolution Data Server が動いていること、GNOME カレンダーや Evolution で"
        "カレンダーが有効なことを確認してから、もう一度お試しください。";
    const std::vector<Case> cases{
        {Problem::noSessionBus, "No Session Bus", "セッションバスなし", PermissionTone::red,
         "Quillvex was started without a D-Bus session bus, so it cannot reach the desktop's calendars.",
         "Quillvex が D-Bus のセッションバスなしで起動されたため、デスクトップのカレンダーに接続できません。",
         "Quillvex was started without a D-Bus session bus, so it cannot reach Evolution Data Server, which holds the "
         "desktop's calendars. Start Quillvex from your desktop session (or under dbus-run-session), then try again.",
         "Quillvex は D-Bus のセッションバスなしで起動されたため、デスクトップのカレンダーを持つ Evolution Data Server "
         "に接続できません。デスクトップのセッションから（または dbus-run-session で）Quillvex を起動し、もう一度お試し"
         "ください。"},
        {Problem::notInstalled, "Not Installed", "未インストール", PermissionTone::orange,
         "Evolution Data Server is not installed, so there are no desktop calendars to read.",
         "Evolution Data Server がインストールされていないため、読めるデスクトップのカレンダーがありません。",
         "Quillvex reads the desktop's calendars through Evolution Data Server, which is not installed. Install "
         "evolution-data-server (GNOME Calendar and Evolution use it), add your calendars there, then try again.",
         "Quillvex はデスクトップのカレンダーを Evolution Data Server から読みますが、インストールされていません。"
         "evolution-data-server をインストールし（GNOME カレンダーや Evolution が使います）、カレンダーを追加して"
         "から、もう一度お試しください。"},
        {Problem::unreachable, "Not Reachable", "接続できません", PermissionTone::orange,
         "Evolution Data Server did not answer, so the desktop's calendars cannot be read right now.",
         "Evolution Data Server が応答しないため、今はデスクトップのカレンダーを読めません。", generalAdvice,
         generalAdviceJa},
        {std::nullopt, "Not Requested", "未要求", PermissionTone::orange,
         "Linux shows no Calendar permission prompt: the calendars are read once Evolution Data Server can be reached.",
         "Linux ではカレンダー許可ダイアログは出ません。Evolution Data Server に接続できればカレンダーを読みます。",
         generalAdvice, generalAdviceJa},
    };
    for (const Case& c : cases) {
        calendarStore.storeProblem = c.problem;
        CalendarAccessController controller(environment, kContext, [] {});
        for (const bool japanese : {false, true}) {
            L10n::setSelectedLanguage(japanese ? L10n::languageJapanese : L10n::languageEnglish);
            const PermissionRowContent row = controller.row("Calendar", "detail");
            EXPECT_EQ(row.badge, japanese ? c.badgeJa : c.badge);
            EXPECT_EQ(row.tone, c.tone);
            EXPECT_EQ(row.buttonTitle, japanese ? "アクセスを要求" : "Request Access");
            EXPECT_EQ(controller.warningText(), japanese ? c.noteJa : c.note);
            EXPECT_EQ(CalendarPermission::problemAdvice(c.problem), japanese ? c.adviceJa : c.advice);
        }
    }
    // A reachable store is simply allowed.
    L10n::setSelectedLanguage(L10n::languageEnglish);
    calendarStore.storeProblem.reset();
    calendarStore.status = CalendarAuthorizationStatus::fullAccess;
    EXPECT_EQ(CalendarAccessController(environment, kContext, [] {}).row("Calendar", "detail").badge, "Allowed");
}

TEST_F(CalendarPermissionTest, TheApplicationFallbackOpensTheSettingsApplication) {
    workspace.applicationPaths[CalendarPrivacy::settingsBundleIdentifier] = "/System/Applications/System Settings.app";
    scriptsFail();
    // A workspace that opens no URL but knows where the settings application is.
    struct NoUrls : platform::Workspace {
        testsupport::FakeWorkspace& inner;
        explicit NoUrls(testsupport::FakeWorkspace& w) : inner(w) {}
        std::vector<platform::RunningApplication> runningApplications() const override { return {}; }
        std::optional<QString> urlForApplicationWithBundleIdentifier(const QString& id) const override {
            return inner.urlForApplicationWithBundleIdentifier(id);
        }
        QIcon iconForFile(const QString&) const override { return {}; }
        bool openUrl(const QUrl& url) override {
            tried << url.toString();
            return false;
        }
        QStringList tried;
        bool launchApplicationWithBundleIdentifier(const QString&) override { return false; }
        bool launchApplicationNamed(const QString&) override { return false; }
        bool activateApplication(qint64, bool) override { return false; }
        bool openApplicationAtPath(const QString& path) override { return inner.openApplicationAtPath(path); }
    } noUrls(workspace);
    environment.workspace = &noUrls;
    openCalendarPrivacySettings(environment, kContext);
    EXPECT_EQ(noUrls.tried, QStringList({"x-apple.systempreferences:com.apple.preference.security",
                                         "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension"}));
    EXPECT_EQ(workspace.openedApplicationPaths, std::vector<QString>({"/System/Applications/System Settings.app"}));
    EXPECT_EQ(flowLines(kContext).mid(4), QStringList({"opened System Settings app fallback",
                                                       "showing manual guidance alert"}));
}

TEST_F(CalendarPermissionTest, TheControllerRoutesTheButtonByState) {
    int granted = 0;
    CalendarAccessController controller(environment, "GlanceSettingsTab", [&] { ++granted; });
    EXPECT_EQ(controller.state(), CalendarPermissionState::notDetermined);
    EXPECT_TRUE(controller.showsUnsignedWarning());
    signing.team = "TEAM";
    EXPECT_FALSE(controller.showsUnsignedWarning());

    calendarStore.status = CalendarAuthorizationStatus::fullAccess;
    controller.refresh();
    controller.handlePrimaryAction();
    EXPECT_EQ(granted, 1);
    EXPECT_EQ(flowLines("GlanceSettingsTab"),
              QStringList({"primary action tapped (state=fullAccess)", "already granted"}));

    calendarStore.status = CalendarAuthorizationStatus::restricted;
    controller.refresh();
    const PermissionRowContent row = controller.row("Calendar Access", "detail");
    EXPECT_EQ(row.badge, "Restricted");
    EXPECT_EQ(row.buttonTitle, "Open Settings");
    row.action();
    EXPECT_TRUE(flowLines("GlanceSettingsTab").contains("opening privacy settings"));
    EXPECT_EQ(calendarStore.requests, 0);
}
