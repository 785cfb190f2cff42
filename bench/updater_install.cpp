// The install's own costs: hashing the package, the checked extraction, a hostile package that
// claims 100 B per header and inflates to 2 GiB, and a whole install of a 50 MB package from a
// loopback server up to the hand-over to the script.
#include "updater/app_updater.h"
#include "updater/update_package.h"

#include "core/app_settings.h"
#include "platform/http/qt_http_client.h"
#include "support/loopback_http_server.h"
#include "support/virtual_scheduler.h"
#include "updater/package_builder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

constexpr int64_t packageBytes = 50 << 20;
constexpr int fileCount = 200;

// A package of 200 incompressible files, 50 MB in all, inside Quillvex.app 1.4.0 (27).
QByteArray makePackage(const QString& path) {
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    archive_write_open_filename(zip, QFile::encodeName(path).constData());
    auto add = [zip](const std::string& name, const QByteArray& data, int perm) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, static_cast<mode_t>(perm));
        archive_entry_set_size(entry, data.size());
        archive_write_header(zip, entry);
        archive_write_data(zip, data.constData(), static_cast<size_t>(data.size()));
        archive_entry_free(entry);
    };
    add("Quillvex.app/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.varnock.Quillvex</string>"
        "<key>CFBundleShortVersionString</key><string>1.4.0</string><key>CFBundleVersion</key><string>27</string></dict></plist>",
        0644);
    add("Quillvex.app/Contents/MacOS/Quillvex", "#!/bin/bash\n", 0755);
    QRandomGenerator random(7);
    for (int i = 0; i < fileCount; ++i) {
        QByteArray data(packageBytes / fileCount, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
        add("Quillvex.app/Contents/Resources/part" + std::to_string(i) + ".bin", data, 0644);
    }
    archive_write_close(zip);
    archive_write_free(zip);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

struct Package {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("package.zip"));
    QByteArray bytes = makePackage(path);
};

Package& package() {
    static Package* shared = new Package();
    return *shared;
}

void BM_Sha256(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(UpdatePackage::sha256Hex(package().path));
    state.SetBytesProcessed(state.iterations() * package().bytes.size());
}
BENCHMARK(BM_Sha256)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CheckedExtraction(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir out;
        if (UpdatePackage::extract(package().path, out.path())) state.SkipWithError("extraction failed");
        benchmark::DoNotOptimize(UpdatePackage::findApplication(out.path()));
    }
    state.SetBytesProcessed(state.iterations() * packageBytes);
}
BENCHMARK(BM_CheckedExtraction)->Unit(benchmark::kMillisecond)->UseRealTime();

// One entry of 2 GiB of zeros (about 2 MB deflated) whose headers both claim 100 bytes.
QString inflatingPackage(const QString& folder) {
    const QString path = folder + QStringLiteral("/inflating.zip");
    constexpr int64_t inflated = int64_t{2} << 30;
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    archive_write_open_filename(zip, QFile::encodeName(path).constData());
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, "Quillvex.app/Contents/Resources/bomb.bin");
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, inflated);
    archive_write_header(zip, entry);
    const QByteArray zeros(1 << 20, '\0');
    for (int64_t done = 0; done < inflated; done += zeros.size()) archive_write_data(zip, zeros.constData(), zeros.size());
    archive_entry_free(entry);
    archive_write_close(zip);
    archive_write_free(zip);
    claimUncompressedSize(path, 100);
    return path;
}

int64_t bytesUnder(const QString& folder) {
    int64_t total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) total += it.nextFileInfo().size();
    return total;
}

void BM_InflatingPackageRefused(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = inflatingPackage(dir.path());
    int64_t written = 0;
    for (auto _ : state) {
        QTemporaryDir out;
        if (!UpdatePackage::extract(path, out.path())) state.SkipWithError("the package was not refused");
        state.PauseTiming();
        written = bytesUnder(out.path());
        state.ResumeTiming();
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["written_bytes"] = static_cast<double>(written);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_InflatingPackageRefused)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Stand-ins for the parts that would end the benchmark's process: the script start and the quit.
class RecordingLauncher final : public platform::ProcessLauncher {
public:
    std::unique_ptr<platform::ChildProcess> start(const platform::ProcessSpec&, QString*) override { return nullptr; }
    platform::ProcessResult run(const platform::ProcessSpec&, double, std::size_t) override { return {}; }
    std::optional<long long> startDetached(const platform::ProcessSpec&, QString*) override {
        ++starts;
        return 1;
    }
    int starts = 0;
};

class QuietApplication final : public platform::Application {
public:
    platform::ActivationPolicy activationPolicy() const override { return platform::ActivationPolicy::Accessory; }
    bool setActivationPolicy(platform::ActivationPolicy) override { return true; }
    void activate(bool) override {}
    void terminate() override { ++terminates; }
    void setApplicationIconImage(const QIcon&) override {}
    std::optional<QIcon> imageResource(const QString&, const QString&) const override { return std::nullopt; }
    int terminates = 0;
};

class NoAlerts final : public platform::AlertSurface {
public:
    void show(const platform::Alert&, std::function<void(int)> done) override { done(0); }
};

void BM_EndToEndInstallFromLoopback(benchmark::State& state) {
    const QByteArray bytes = package().bytes;
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    std::unique_ptr<testsupport::LoopbackHttpServer> server;
    server = std::make_unique<testsupport::LoopbackHttpServer>([&](const QString& path) {
        if (path == "/feed.json") {
            return testsupport::LoopbackHttpServer::ok(
                QStringLiteral(R"({"version":"1.4.0","build":27,"downloadURL":"%1","sha256":"%2"})")
                    .arg(server->url("/Quillvex-1.4.0.zip"), digest)
                    .toUtf8());
        }
        return testsupport::LoopbackHttpServer::ok(bytes);
    });
    QTemporaryDir temp;
    platform::Defaults defaults;
    defaults.set(AppSettings::updateFeedURLKey, server->url("/feed.json"));
    platform::VirtualScheduler scheduler;
    platform::QtHttpClient http(platform::HttpSecurity{true, {}});
    platform::AlertPresenter alerts(std::make_unique<NoAlerts>());
    const platform::MainBundle bundle(QStringLiteral("com.varnock.Quillvex"), temp.filePath("Quillvex.app"));
    auto spin = [&scheduler](const std::function<bool()>& done) {
        return testsupport::spinUntil([&] {
            scheduler.drain();
            return done();
        }, 60.0);
    };
    for (auto _ : state) {
        RecordingLauncher launcher;
        QuietApplication application;
        AppUpdater updater(AppUpdaterEnvironment{&defaults, &scheduler, &http, &alerts, &application,
                                                 [] { return InstalledAppVersion{QStringLiteral("1.3.0"), 20}; }, &launcher,
                                                 &bundle, temp.filePath("support"), [] { return 1LL; }});
        updater.performCheck(false, false, false);
        spin([&] { return updater.state().kind == AppUpdater::State::Kind::updateAvailable; });
        updater.installAvailableUpdate();
        if (!spin([&] { return application.terminates == 1 || updater.state().kind == AppUpdater::State::Kind::failed; }) ||
            launcher.starts != 1) {
            state.SkipWithError(qPrintable(updater.statusDescription()));
            break;
        }
        state.PauseTiming();
        QDir(temp.filePath("support")).removeRecursively();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_EndToEndInstallFromLoopback)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    package();  // built once, outside every timing
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
