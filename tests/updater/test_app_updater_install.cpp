#include "updater_fixture.h"

#include "package_builder.h"
#include "support/service_fixtures.h"
#include "updater/install_script.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

using Kind = AppUpdater::State::Kind;

// An update of 1.4.0 (27) offered by a check, its package built from `entries`.
class InstallTest : public UpdaterTest {
protected:
    InstallTest() { package = packageBytes(bundleEntries("Release/Quillvex.app")); }

    QByteArray packageBytes(const std::vector<ZipEntry>& entries) {
        const QString path = scratch.filePath(QStringLiteral("p.zip"));
        QFile::remove(path);
        EXPECT_TRUE(writeZip(path, entries));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
    static QString sha(const QByteArray& bytes) {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }

    // A check that finds the update (no alert), then the install up to the download.
    void offerAndInstall(const QString& sha256, const char* url = "https://u.example/files/Quillvex-1.4.0.zip",
                         const QString& version = "1.4.0", int64_t build = 27) {
        QString json = QStringLiteral(R"({"version":"%1","build":%2,"downloadURL":"%3","sha256":"%4"%5})")
                           .arg(version, QString::number(build), QString::fromLatin1(url), sha256,
                                announcedSize ? QStringLiteral(R"(,"fileSizeBytes":%1)").arg(*announcedSize) : QString());
        json.replace(QLatin1String("\n"), QLatin1String("\\n"));
        updater().performCheck(false, false, false);
        http.respondOk(json.toUtf8());
        scheduler().drain();
        ASSERT_EQ(updater().state().kind, Kind::updateAvailable);
        updater().installAvailableUpdate();
        scheduler().drain();
    }
    void download(const QByteArray& bytes) {
        http.respondOk(bytes);
        scheduler().drain();
    }
    QString updaterDirectory() const { return supportDirectory.filePath(QStringLiteral("Quillvex/Updater")); }
    QStringList workingDirectories() const {
        return QDir(updaterDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }
    QString workingDirectory() const {
        const QStringList dirs = workingDirectories();
        return dirs.size() == 1 ? QDir(updaterDirectory()).filePath(dirs.front()) : QString();
    }
    void expectFailedWith(const QString& message) {
        EXPECT_EQ(updater().state(), AppUpdater::State::failed(message));
        EXPECT_EQ(updater().lastErrorMessage(), std::optional<QString>(message));
        ASSERT_GE(alertCount(), 1u);
        EXPECT_EQ(lastAlert().messageText, "Update Failed");
        EXPECT_EQ(lastAlert().informativeText.toStdString(), message.toStdString());
        alertSurface->answer(0);
        scheduler().drain();
        EXPECT_TRUE(processes.detachedStarts().empty());
        EXPECT_EQ(application.terminateCount(), 0);
        EXPECT_FALSE(updater().isInstalling());  // the same version may be tried again
        EXPECT_TRUE(updater().availableUpdate().has_value());
    }

    QTemporaryDir scratch;
    QByteArray package;
    std::optional<qint64> announcedSize;  // the feed's fileSizeBytes
};

TEST_F(InstallTest, APackageIsDownloadedVerifiedExtractedAndHandedToTheScript) {
    std::vector<Kind> states;
    auto watch = updater().didChange().sink([&] {
        if (states.empty() || states.back() != updater().state().kind) states.push_back(updater().state().kind);
    });
    testsupport::ScopedEnvironment environment;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CACHE_HOME"})
        environment.set(name, QByteArray("/custom/") + name);
    // The feed's digest in upper case with a trailing line break still matches.
    offerAndInstall(sha(package).toUpper() + "\n");
    ASSERT_EQ(http.sent().size(), 2u);
    EXPECT_EQ(http.sent()[1].url, QUrl("https://u.example/files/Quillvex-1.4.0.zip"));
    EXPECT_EQ(updater().state().kind, Kind::downloading);
    const QString working = workingDirectory();
    ASSERT_FALSE(working.isEmpty());
    EXPECT_TRUE(QDir(working).dirName().startsWith("1.4.0-"));
    EXPECT_EQ(QFile::permissions(working) & 0x0077, QFileDevice::Permissions());  // nobody else may look in
    updater().installAvailableUpdate();  // a second install while downloading is ignored
    scheduler().drain();
    EXPECT_EQ(http.sent().size(), 2u);

    // Hashing and unpacking wait on workers: the main thread only hands over and publishes.
    scheduler().setHoldGlobal(true);
    download(package);
    EXPECT_EQ(updater().state().kind, Kind::downloading);
    scheduler().releaseHeldGlobal();  // the digest
    scheduler().drain();
    EXPECT_EQ(updater().state().kind, Kind::extracting);
    EXPECT_FALSE(QFileInfo::exists(working + "/Extracted"));
    scheduler().setHoldGlobal(false);
    scheduler().drain();
    EXPECT_TRUE(QFileInfo::exists(working + "/Quillvex-1.4.0.zip"));
    EXPECT_EQ(states, (std::vector<Kind>{Kind::checking, Kind::updateAvailable, Kind::downloading, Kind::extracting,
                                         Kind::installing}));
    EXPECT_EQ(updater().statusDescription(), "Preparing to install update...");
    EXPECT_EQ(application.terminateCount(), 1);

    ASSERT_EQ(processes.detachedStarts().size(), 1u);
    const platform::ProcessSpec& spec = processes.detachedStarts()[0];
    EXPECT_EQ(spec.program, "/usr/bin/env");
    const QStringList& args = spec.arguments;
    ASSERT_GE(args.size(), 7);
    EXPECT_EQ(args[0], "-i");
    EXPECT_EQ(args[1], "PATH=/usr/bin:/bin");
    for (const QString& arg : args.mid(2, args.size() - 7)) {
        const QString name = arg.section('=', 0, 0);
        EXPECT_TRUE(QStringList({"HOME", "LANG", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
                                 "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CACHE_HOME", "DBUS_SESSION_BUS_ADDRESS"})
                        .contains(name))
            << arg.toStdString();
    }
    // The relaunched app finds the user's own folders.
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CACHE_HOME"})
        EXPECT_TRUE(args.contains(QString::fromLatin1(name) + "=/custom/" + name)) << name;
    const QStringList tail = args.mid(args.size() - 5);
    EXPECT_EQ(tail[0], "/bin/bash");
    EXPECT_EQ(QFileInfo(tail[1]).absolutePath(), updaterDirectory());
    EXPECT_TRUE(QFileInfo(tail[1]).fileName().startsWith("install-update-"));
    EXPECT_EQ(tail[2], bundle.bundlePath());
    EXPECT_EQ(tail[3], QFileInfo(working + "/Extracted/Release/Quillvex.app").canonicalFilePath());
    EXPECT_EQ(tail[4], "4242");

    QFile script(tail[1]);
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(script.readAll()), InstallScript::text());
    EXPECT_EQ(script.permissions() & 0x7777, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                 QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    EXPECT_EQ(alertCount(), 0u);
}

TEST_F(InstallTest, APackageOfThisTreeInstallsFromAFeedThatNamesItsBuild) {
    QFile plist(QStringLiteral(QUILLVEX_BUILT_INFO_PLIST));
    ASSERT_TRUE(plist.open(QIODevice::ReadOnly));
    const InstalledAppVersion built = InstalledAppVersion::fromInfoPlist(plist.fileName());
    ASSERT_TRUE(built.build.has_value()) << "the bundle's build number is no number";
    std::vector<ZipEntry> entries = bundleEntries("Quillvex.app");
    entries[2] = ZipEntry::file("Quillvex.app/Contents/Info.plist", plist.readAll());
    package = packageBytes(entries);
    installed = InstalledAppVersion{QStringLiteral("0.1"), 0};
    offerAndInstall(sha(package), "https://u.example/q.zip", built.version, *built.build);
    download(package);
    EXPECT_EQ(updater().state().kind, Kind::installing);
    EXPECT_EQ(processes.detachedStarts().size(), 1u);
}

TEST_F(InstallTest, DownloadFailuresEndTheInstallWithTheirTexts) {
    offerAndInstall(sha(package));
    http.respondStatus(404);
    scheduler().drain();
    expectFailedWith("The update package could not be downloaded.");
    EXPECT_TRUE(workingDirectories().isEmpty());  // a failed attempt leaves nothing behind

    // Folders of attempts that ended with the process (a crash) go with the next attempt.
    const QString crashed = updaterDirectory() + "/1.4.0-0A1B2C3D-0000-4000-8000-00000000000F";
    ASSERT_TRUE(testsupport::writeFile(crashed + "/Quillvex-1.4.0.zip", "partial"));
    ASSERT_TRUE(QDir().mkpath(updaterDirectory() + "/Notes"));
    updater().installAvailableUpdate();
    scheduler().drain();
    EXPECT_EQ(workingDirectories().size(), 2);
    EXPECT_FALSE(QFileInfo::exists(crashed));
    http.respondError(platform::HttpError::Kind::Transport, "Connection refused");
    scheduler().drain();
    expectFailedWith("Connection refused");
    EXPECT_EQ(workingDirectories(), QStringList{"Notes"});  // only attempt folders are ours to remove
}

TEST_F(InstallTest, ADownloadThatStopsMovingFailsWithinAMinuteAndTheNextAttemptInstalls) {
    offerAndInstall(sha(package));  // no size announced: the overall bound is hours away
    // A slow but steady link is still a download.
    int64_t received = 0;
    for (int second = 0; second < 180; ++second) {
        scheduler().advance(1);
        http.progress(received += 400);
    }
    ASSERT_EQ(updater().state().kind, Kind::downloading);

    // Then one byte every two seconds.
    const double dripFrom = scheduler().elapsed();
    while (updater().state().kind == Kind::downloading && scheduler().elapsed() - dripFrom < 600) {
        scheduler().advance(2);
        if (http.pendingCount() > 0) http.progress(++received);
    }
    EXPECT_LE(scheduler().elapsed() - dripFrom, 60.0);
    EXPECT_EQ(http.pendingCount(), 0u);  // ended, not left dripping
    expectFailedWith("The update package could not be downloaded.");
    EXPECT_TRUE(workingDirectories().isEmpty());

    updater().installAvailableUpdate();
    scheduler().drain();
    EXPECT_EQ(workingDirectories().size(), 1);
    download(package);
    EXPECT_EQ(updater().state().kind, Kind::installing);
    EXPECT_EQ(application.terminateCount(), 1);
}

// A poor link (a phone's tether, a hotel network) brings an announced package at 2 KiB/s: it
// takes minutes and installs. A download that only drips still ends within a minute.
TEST_F(InstallTest, ASizedPackageOnASlowSteadyLinkInstallsAndADripStillFailsWithinAMinute) {
    http.keepDeadlines();
    // Random bytes do not compress: the package is as large as what it holds.
    std::vector<quint32> noise(150 * 1024);
    QRandomGenerator(7).fillRange(noise.data(), static_cast<qsizetype>(noise.size()));
    std::vector<ZipEntry> entries = bundleEntries("Quillvex.app");
    entries.push_back(ZipEntry::file("Quillvex.app/Contents/Resources/A/noise.bin",
                                     QByteArray(reinterpret_cast<const char*>(noise.data()), 600 * 1024)));
    package = packageBytes(entries);
    announcedSize = package.size();
    // 2 KiB each second for `seconds`, or until the whole package has come.
    const auto steadily = [&](double seconds) {
        int64_t received = 0;
        for (double second = 0; second < seconds && received < package.size() && http.pendingCount() > 0; ++second) {
            scheduler().advance(1);
            if (http.pendingCount() > 0) http.progress(received = std::min<int64_t>(received + 2048, package.size()));
        }
        return received;
    };

    offerAndInstall(sha(package));
    int64_t received = steadily(120);
    ASSERT_EQ(updater().state().kind, Kind::downloading) << updater().statusDescription().toStdString();
    const double dripFrom = scheduler().elapsed();
    while (http.pendingCount() > 0 && scheduler().elapsed() - dripFrom < 600) {
        scheduler().advance(2);
        if (http.pendingCount() > 0) http.progress(++received);
    }
    EXPECT_LE(scheduler().elapsed() - dripFrom, 60.0);
    expectFailedWith("The update package could not be downloaded.");

    updater().installAvailableUpdate();
    scheduler().drain();
    const double from = scheduler().elapsed();
    EXPECT_EQ(steadily(1e9), package.size());
    EXPECT_GE(scheduler().elapsed() - from, 300.0);
    ASSERT_EQ(updater().state().kind, Kind::downloading) << updater().statusDescription().toStdString();
    download(package);
    EXPECT_EQ(updater().state().kind, Kind::installing) << updater().statusDescription().toStdString();
    EXPECT_EQ(application.terminateCount(), 1);
}

TEST_F(InstallTest, ADigestThatDiffersIsRefusedBeforeExtraction) {
    for (const QString& digest : {QString(64, QLatin1Char('0')), QString()}) {
        QDir(updaterDirectory()).removeRecursively();
        offerAndInstall(digest);
        download(package);
        expectFailedWith("The downloaded update package failed integrity verification.");
        EXPECT_FALSE(QFileInfo::exists(workingDirectory() + "/Extracted"));
    }
}

TEST_F(InstallTest, CorruptPackagesAndPackagesWithoutABundleFail) {
    QByteArray corrupt = package;
    corrupt.truncate(corrupt.size() / 3);
    offerAndInstall(sha(corrupt));
    download(corrupt);
    ASSERT_EQ(updater().state().kind, Kind::failed);
    EXPECT_TRUE(updater().state().message.startsWith("The updater process failed: ")) << updater().state().message.toStdString();
    expectFailedWith(updater().state().message);

    const QByteArray diskImage = packageBytes({ZipEntry::file("Quillvex.dmg", "image")});
    offerAndInstall(sha(diskImage));
    download(diskImage);
    expectFailedWith("No .app bundle was found inside the extracted ZIP.");
}

TEST_F(InstallTest, HostilePackagesAreRefusedWithoutWritingOutsideOrStartingTheScript) {
    std::vector<ZipEntry> older = bundleEntries("Quillvex.app", "1.2.0", "27");
    std::vector<ZipEntry> otherBuild = bundleEntries("Quillvex.app", "1.4.0", "26");
    std::vector<ZipEntry> foreign = bundleEntries("Quillvex.app", "1.4.0", "27", "#!/bin/bash\n", "com.example.Other");
    std::vector<ZipEntry> noExecutable = bundleEntries("Quillvex.app");
    noExecutable.erase(noExecutable.begin() + 3);
    std::vector<ZipEntry> linkedBundle = bundleEntries("Real.d");
    linkedBundle.push_back(ZipEntry::link("Quillvex.app", "Real.d"));
    const std::vector<std::pair<const char*, std::vector<ZipEntry>>> cases = {
        {"dot-dot", {ZipEntry::file("../../../../evil", "x")}},
        {"absolute", {ZipEntry::file(installDirectory.filePath("evil").toStdString(), "x")}},
        {"outward link", {ZipEntry::link("Quillvex.app", "../../../..")}},
        {"linked bundle", linkedBundle},
        {"older", older},
        {"other build", otherBuild},
        {"foreign", foreign},
        {"partial bundle", noExecutable},
    };
    for (const auto& [name, entries] : cases) {
        SCOPED_TRACE(name);
        const QByteArray bytes = packageBytes(entries);
        offerAndInstall(sha(bytes));
        download(bytes);
        ASSERT_EQ(updater().state().kind, Kind::failed);
        EXPECT_TRUE(updater().state().message.startsWith("The updater process failed: ")) << updater().state().message.toStdString();
        expectFailedWith(updater().state().message);
        EXPECT_TRUE(QDir(installDirectory.path()).isEmpty());
        EXPECT_EQ(QDir(supportDirectory.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Quillvex"});
        EXPECT_EQ(QDir(updaterDirectory()).entryList(QDir::Files), QStringList());  // no script written
    }
}

TEST_F(InstallTest, OnlyABundleOutsideADiskImageCanBeReplaced) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/quillvex/bin", "In-app updates only work when Quillvex is running from a .app bundle."},
        {"/Volumes/Quillvex/Quillvex.app",
         "Quillvex is running from a disk image. Move it to Applications before updating."},
    };
    for (const auto& [path, message] : cases) {
        bundle = platform::MainBundle(QStringLiteral("com.varnock.Quillvex"), QString::fromLatin1(path));
        const size_t before = http.sent().size();
        offerAndInstall(sha(package));
        expectFailedWith(message);
        EXPECT_EQ(http.sent().size(), before + 1);  // the feed only: the download never started
        EXPECT_FALSE(QFileInfo::exists(updaterDirectory()));
    }
    // Upper-case APP passes the bundle check.
    bundle = platform::MainBundle(QStringLiteral("com.varnock.Quillvex"), installDirectory.filePath("Quillvex.APP"));
    offerAndInstall(sha(package));
    EXPECT_EQ(updater().state().kind, Kind::downloading);
}

TEST_F(InstallTest, AScriptThatCannotStartFailsTheInstall) {
    processes.failStart(QStringLiteral("/usr/bin/env"), QStringLiteral("No such file or directory"));
    offerAndInstall(sha(package));
    download(package);
    EXPECT_EQ(updater().state(), AppUpdater::State::failed("No such file or directory"));
    EXPECT_EQ(application.terminateCount(), 0);
}

TEST_F(InstallTest, TheUpdateAlertsInstallButtonInstalls) {
    updater().checkForUpdatesInteractively();
    scheduler().drain();
    http.respondOk(QStringLiteral(R"({"version":"1.4.0","build":27,"downloadURL":"https://u.example/q.zip","sha256":"%1"})")
                       .arg(sha(package))
                       .toUtf8());
    scheduler().drain();
    ASSERT_EQ(alertCount(), 1u);
    alertSurface->answer(0);
    scheduler().drain();
    ASSERT_EQ(http.sent().size(), 2u);
    EXPECT_EQ(http.sent()[1].url, QUrl("https://u.example/q.zip"));
    // No size announced: the cap, and a minute beyond the time the cap takes at the least a
    // download must bring to keep going (8 KiB in each 45 s).
    EXPECT_EQ(http.sent()[1].maxBodyBytes, AppUpdater::maxPackageBytes);
    EXPECT_EQ(http.sent()[1].deadlineSeconds, 60.0 + 131072 * 45.0);
}

TEST_F(InstallTest, TheAnnouncedSizeBoundsTheDownloadAndItsDeadlineWithinTheCap) {
    const std::pair<const char*, std::pair<int64_t, double>> cases[] = {
        {R"(,"fileSizeBytes":6553600)", {6553600, 60.0 + 800 * 45.0}},
        {R"(,"fileSizeBytes":8193)", {8193, 60.0 + 2 * 45.0}},
        {R"(,"fileSizeBytes":"0")", {0, 60.0}},
        {R"(,"fileSizeBytes":-5)", {0, 60.0}},
        {R"(,"fileSizeBytes":9223372036854775807)", {AppUpdater::maxPackageBytes, 60.0 + 131072 * 45.0}},
    };
    for (const auto& [size, expected] : cases) {
        SCOPED_TRACE(size);
        const size_t before = http.sent().size();
        updater().performCheck(false, false, false);
        http.respondOk(QByteArray(R"({"version":"1.4.0","build":27,"downloadURL":"https://u.example/q.zip","sha256":"ab")") +
                       size + "}");
        scheduler().drain();
        updater().installAvailableUpdate();
        scheduler().drain();
        ASSERT_EQ(http.sent().size(), before + 2);
        EXPECT_EQ(http.sent().back().maxBodyBytes, expected.first);
        EXPECT_EQ(http.sent().back().deadlineSeconds, expected.second);
        http.respondStatus(404);
        scheduler().drain();
        alertSurface->answer(0);
        scheduler().drain();
    }
}

}  // namespace
