// A whole install against a loopback update server: the real network client, extraction, script
// and relaunch; only the application (its quit) and the alerts are stand-ins.
#include "updater/app_updater.h"

#include "package_builder.h"
#include "core/app_settings.h"
#include "core/l10n.h"
#include "platform/http/qt_http_client.h"
#include "support/fake_app.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Kind = AppUpdater::State::Kind;

class InstallEndToEndTest : public testsupport::QuillvexTest {
protected:
    InstallEndToEndTest() {
        defaults().set(L10n::languageKey, L10n::languageEnglish);
        auto surface = std::make_unique<testsupport::FakeAlertSurface>();
        alertSurface = surface.get();
        alerts = std::make_unique<platform::AlertPresenter>(std::move(surface));
    }

    bool spin(const std::function<bool()>& done, double seconds = 15.0) {
        return testsupport::spinUntil([&] {
            scheduler().drain();
            return done();
        }, seconds);
    }
    static QString readText(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    }

    QTemporaryDir temp;
    testsupport::FakeApplication application;
    testsupport::FakeAlertSurface* alertSurface = nullptr;
    std::unique_ptr<platform::AlertPresenter> alerts;
};

TEST_F(InstallEndToEndTest, ALoopbackPackageReplacesTheBundleAfterTheAppQuitsAndRelaunchesIt) {
    const QString target = temp.filePath("Applications/Quillvex.app");
    const QString relaunchLog = temp.filePath("relaunched");
    QDir().mkpath(target + "/Contents/MacOS");
    ASSERT_TRUE(testsupport::writeFile(target + "/Contents/Info.plist",
                                       infoPlist("com.varnock.Quillvex", "1.3.0", "20")));

    const QString packagePath = temp.filePath("package.zip");
    ASSERT_TRUE(writeZip(packagePath, bundleEntries("Quillvex.app", "1.4.0", "27",
                                                    "#!/bin/bash\necho new >> '" + relaunchLog.toUtf8() + "'\n")));
    QFile packageFile(packagePath);
    ASSERT_TRUE(packageFile.open(QIODevice::ReadOnly));
    const QByteArray package = packageFile.readAll();
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());

    std::unique_ptr<testsupport::LoopbackHttpServer> server;
    server = std::make_unique<testsupport::LoopbackHttpServer>([&](const QString& path) {
        if (path == "/feed.json") {
            return testsupport::LoopbackHttpServer::ok(
                QStringLiteral(R"({"version":"1.4.0","build":27,"downloadURL":"%1","sha256":"%2"})")
                    .arg(server->url("/files/Quillvex-1.4.0.zip"), digest)
                    .toUtf8());
        }
        if (path == "/files/Quillvex-1.4.0.zip") return testsupport::LoopbackHttpServer::ok(package);
        return testsupport::LoopbackHttpServer::status(404);
    });
    ASSERT_TRUE(server->isListening());
    defaults().set(AppSettings::updateFeedURLKey, server->url("/feed.json"));

    // The "running application" the script waits for.
    std::unique_ptr<platform::ChildProcess> app =
        platform::ProcessLauncher::system().start(platform::ProcessSpec{"/bin/sleep", {"60"}, {}, {}});
    ASSERT_TRUE(app);
    const long long appPid = app->pid();

    platform::QtHttpClient http(platform::HttpSecurity{true, {}});
    const platform::MainBundle bundle(QStringLiteral("com.varnock.Quillvex"), target);
    AppUpdater updater(AppUpdaterEnvironment{&defaults(), &scheduler(), &http, alerts.get(), &application,
                                             [] { return InstalledAppVersion{QStringLiteral("1.3.0"), 20}; },
                                             &platform::ProcessLauncher::system(), &bundle, temp.filePath("support"),
                                             [appPid] { return appPid; }});
    updater.performCheck(false, false, false);
    ASSERT_TRUE(spin([&] { return updater.state().kind == Kind::updateAvailable; })) << updater.statusDescription().toStdString();
    updater.installAvailableUpdate();
    ASSERT_TRUE(spin([&] { return application.terminateCount() == 1 || updater.state().kind == Kind::failed; }));
    ASSERT_EQ(application.terminateCount(), 1) << updater.statusDescription().toStdString();
    EXPECT_EQ(updater.statusDescription(), "Preparing to install update...");
    EXPECT_EQ(server->requests(), (QStringList{"/feed.json", "/files/Quillvex-1.4.0.zip"}));

    // Nothing changes while the application still runs; then it quits.
    EXPECT_EQ(readText(target + "/Contents/Info.plist"), QString::fromUtf8(infoPlist("com.varnock.Quillvex", "1.3.0", "20")));
    app->kill();
    app->wait(5.0);

    ASSERT_TRUE(spin([&] { return readText(relaunchLog).endsWith('\n'); }));
    EXPECT_EQ(readText(relaunchLog), "new\n");
    EXPECT_EQ(InstalledAppVersion::fromInfoPlist(target + "/Contents/Info.plist").summary(), "1.4.0 (27)");
    const QString updaterDir = temp.filePath("support/Quillvex/Updater");
    ASSERT_TRUE(spin([&] { return QDir(updaterDir).entryList(QDir::Files).isEmpty(); }, 5.0));  // the script removed itself
    const QStringList working = QDir(updaterDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(working.size(), 1);
    const QDir workingDir(QDir(updaterDir).filePath(working.front()));
    EXPECT_EQ(workingDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Quillvex-1.4.0.zip"});
}

}  // namespace
