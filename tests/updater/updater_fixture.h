#pragma once

#include "updater/app_updater.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "core/wall_clock.h"
#include "support/fake_app.h"
#include "support/fake_http_client.h"
#include "support/fake_process.h"
#include "support/fixtures.h"

#include <memory>

// An updater on virtual time with a scripted network, alerts the test answers, a fake
// application and an installed version of 1.3.0 (20).
class UpdaterTest : public testsupport::QuillvexTest {
protected:
    UpdaterTest() {
        auto surface = std::make_unique<testsupport::FakeAlertSurface>();
        alertSurface = surface.get();
        alerts = std::make_unique<platform::AlertPresenter>(std::move(surface));
        defaults().set(L10n::languageKey, L10n::languageEnglish);
    }

    AppUpdater& updater() {
        if (!updater_) {
            updater_ = std::make_unique<AppUpdater>(AppUpdaterEnvironment{
                &defaults(), &scheduler(), &http, alerts.get(), &application, [this] { return installed; }, &processes, &bundle,
                supportDirectory.path(), [] { return 4242LL; }});
        }
        return *updater_;
    }

    static QByteArray feed(const char* version, std::optional<int64_t> build = 27, const char* notes = nullptr) {
        QByteArray json = QByteArray(R"({"version":")") + version + R"(","downloadURL":"https://u.example/q.zip","sha256":"ab")";
        if (build) json += R"(,"build":)" + QByteArray::number(static_cast<qlonglong>(*build));
        if (notes) json += QByteArray(R"(,"notes":")") + notes + "\"";
        return json + "}";
    }

    // Runs an interactive check up to the network request.
    void startInteractiveCheck() {
        updater().checkForUpdatesInteractively();
        scheduler().drain();
    }

    size_t alertCount() const { return alertSurface->shown().size(); }
    const platform::Alert& lastAlert() const { return alertSurface->shown().back().alert; }
    QDateTime now() { return wallClockNow(scheduler()); }
    AppSettings settings() { return AppSettings(&defaults()); }

    testsupport::FakeHttpClient http{scheduler()};
    testsupport::FakeApplication application;
    testsupport::FakeAlertSurface* alertSurface = nullptr;
    std::unique_ptr<platform::AlertPresenter> alerts;
    InstalledAppVersion installed{QStringLiteral("1.3.0"), 20};
    testsupport::FakeProcessLauncher processes;
    QTemporaryDir supportDirectory;
    QTemporaryDir installDirectory;
    platform::MainBundle bundle{QStringLiteral("com.varnock.Quillvex"), installDirectory.filePath(QStringLiteral("Quillvex.app"))};

private:
    std::unique_ptr<AppUpdater> updater_;
};
