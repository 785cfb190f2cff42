#pragma once

#include "settings_fixture.h"
#include "settings_ui/calendar_permission.h"

#include "glance/calendar_service.h"
#include "permissions/full_disk_access_manager.h"
#include "permissions/permission_manager.h"
#include "platform/shell/alert_presenter.h"
#include "support/fake_accessibility.h"
#include "support/fake_app.h"
#include "support/fake_calendar_store.h"
#include "support/fake_codesign.h"
#include "support/fake_file_access.h"
#include "support/fake_scripting.h"
#include "support/fake_user_directories.h"
#include "support/fake_workspace.h"

#include <QTemporaryDir>

// Records what the settings window asks of the application.
class RecordingSettingsHost final : public SettingsHost {
public:
    bool focusResult = true;
    int focusCalls = 0;
    int resumes = 0;
    bool focusWindowForSystemPrompt() override {
        ++focusCalls;
        return focusResult;
    }
    void resumeMonitoringAfterCalendarPermissionFlow() override { ++resumes; }
};

// Every port the calendar permission flow and the General tab reach, faked: an unsigned build,
// an accessory application, a calendar store that has not been asked, and alerts that wait.
class CalendarPermissionTest : public SettingsTest {
protected:
    CalendarPermissionTest() {
        directories.home = home.path();
        auto surface = std::make_unique<testsupport::FakeAlertSurface>();
        alertSurface = surface.get();
        alerts = std::make_unique<platform::AlertPresenter>(std::move(surface));
        previousAlerts_ = platform::AlertPresenter::setShared(alerts.get());
        calendarStore.status = platform::CalendarAuthorizationStatus::notDetermined;
        environment.workspace = &workspace;
        environment.application = &application;
        environment.permissions = &permissions;
        environment.fullDiskAccess = &fullDiskAccess;
        environment.calendarService = &calendarService;
        environment.bus = &bus;
    }
    ~CalendarPermissionTest() override {
        CalendarPermissionPromptAnchor::close();
        CalendarPermission::setRules(CalendarAccessRules::current);
        platform::AlertPresenter::setShared(previousAlerts_);
    }

    const std::vector<testsupport::FakeAlertSurface::Shown>& shownAlerts() const { return alertSurface->shown(); }

    // Every script fails as it does where no script host exists.
    void scriptsFail(int count = 3) {
        for (int i = 0; i < count; ++i) scripts.enqueue(platform::ScriptOutcome::failure(QStringLiteral("no host")));
    }

    // The flow's own lines, without the prefix, in order.
    QStringList flowLines(const QString& context) const {
        QStringList lines;
        const QString prefix = CalendarPermission::prefix(context);
        for (const QString& line : log.matching(prefix)) lines << line.mid(prefix.size());
        return lines;
    }

    QTemporaryDir home;
    testsupport::FakeApplication application;
    testsupport::FakeWorkspace workspace;
    testsupport::FakeScriptRunner scripts;
    testsupport::FakeCodeSigning signing;
    testsupport::FakeCalendarStore calendarStore;
    testsupport::FakeAccessibility accessibility;
    testsupport::FakeUserDirectories directories;
    testsupport::FakeFileAccessProbe fileAccess;
    EventBus bus;
    PermissionManager permissions{&accessibility, &workspace};
    FullDiskAccessManager fullDiskAccess{directories, fileAccess, workspace};
    CalendarService calendarService{calendarStore, bus, scheduler()};
    RecordingSettingsHost host;
    testsupport::FakeAlertSurface* alertSurface = nullptr;
    std::unique_ptr<platform::AlertPresenter> alerts;

private:
    platform::AlertPresenter* previousAlerts_;
};
