// What a notification pays on the icon road once its application's icon has been found: the
// remembered answer of the application lookup (which first makes sure the applications folders
// kept their stamps) for an application with an entry and for one without, and the remembered
// answer of a themed name. In process, offscreen, against the installed icon theme (Papirus where
// installed, else Adwaita); each figure is the time of one call.

#include "core/app_icon_helper.h"
#include "platform/workspace/desktop_icon_theme.h"
#include "platform/workspace/icon_lookup.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir* home = nullptr;

void setUpDesktop() {
    home = new QTemporaryDir;
    const QString data = home->path() + QStringLiteral("/.local/share");
    QDir().mkpath(data + QStringLiteral("/applications"));
    QFile entry(data + QStringLiteral("/applications/org.example.Browser.desktop"));
    entry.open(QIODevice::WriteOnly);
    entry.write("[Desktop Entry]\nType=Application\nName=Browser\nIcon=firefox\nExec=browser\n");
    entry.close();
    qputenv("HOME", home->path().toUtf8());
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    QIcon::setThemeSearchPaths(platform::DesktopIconTheme::searchPaths());
    QIcon::setThemeName(QFile::exists(QStringLiteral("/usr/share/icons/Papirus/index.theme")) ? QStringLiteral("Papirus")
                                                                                              : QStringLiteral("Adwaita"));
    AppIconHelper::setRemembering(true);
    platform::IconLookup::shared().setAwaitAnswers(std::chrono::seconds(10));
}

void BM_RememberedApplicationIcon(benchmark::State& state) {
    const bool withEntry = state.range(0) == 0;
    const QString bundle = withEntry ? QStringLiteral("org.example.Browser") : QStringLiteral("org.example.Unknown");
    const QString name = withEntry ? QStringLiteral("Browser") : QStringLiteral("Unknown");
    AppIconHelper::getIcon(name, bundle);  // found (or not) once
    for (auto _ : state) benchmark::DoNotOptimize(AppIconHelper::getIcon(name, bundle));
}
BENCHMARK(BM_RememberedApplicationIcon)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_RememberedThemedIcon(benchmark::State& state) {
    AppIconHelper::getIconForThemedName(QStringLiteral("mail-unread"));
    for (auto _ : state) benchmark::DoNotOptimize(AppIconHelper::getIconForThemedName(QStringLiteral("mail-unread")));
}
BENCHMARK(BM_RememberedThemedIcon)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    setUpDesktop();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
