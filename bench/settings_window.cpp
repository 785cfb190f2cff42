// The settings window offscreen: the first (cold) window of the process, later windows, and each
// tab's page built and laid out. With --screenshots=DIR it instead writes every tab in English
// and Japanese as PNG files into DIR.

#include "core/l10n.h"
#include "settings_ui/settings_tabs.h"
#include "settings_ui/settings_view.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLayout>
#include <QTabWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr QSize kWindowSize(760, 620);

// Created, shown and laid out, as the delegate's window does it.
std::unique_ptr<SettingsView> openWindow() {
    auto view = std::make_unique<SettingsView>();
    view->resize(kWindowSize);
    view->show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    view->layout()->activate();
    return view;
}

void BM_SettingsWindowOpen(benchmark::State& state) {
    for (auto _ : state) {
        auto view = openWindow();
        benchmark::DoNotOptimize(view.get());
        state.PauseTiming();
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SettingsWindowOpen)->Unit(benchmark::kMillisecond);

void BM_SettingsTabBuild(benchmark::State& state) {
    const auto& tab = settingsTabs()[static_cast<size_t>(state.range(0))];
    state.SetLabel(tab.label().toStdString());
    const SettingsEnvironment environment;
    for (auto _ : state) {
        std::unique_ptr<QWidget> page(tab.build(environment));
        page->resize(kWindowSize.width(), kWindowSize.height() - 40);
        page->ensurePolished();
        if (page->layout()) page->layout()->activate();
        if (auto* scroll = qobject_cast<QAbstractScrollArea*>(page.get())) {
            if (QWidget* content = scroll->findChild<QWidget*>(QStringLiteral("SettingsPageContent"))) {
                content->ensurePolished();
                content->layout()->activate();
            }
        }
        benchmark::DoNotOptimize(page.get());
    }
}
BENCHMARK(BM_SettingsTabBuild)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);

int writeScreenshots(const QString& folder) {
    QDir().mkpath(folder);
    for (const QString& language : {L10n::languageEnglish, L10n::languageJapanese}) {
        L10n::setSelectedLanguage(language);
        auto view = openWindow();
        for (const auto& tab : settingsTabs()) {
            view->setSelectedTab(tab.tag);
            for (int round = 0; round < 3; ++round) QCoreApplication::processEvents();
            const QString path = QStringLiteral("%1/settings-%2-%3.png").arg(folder, language).arg(tab.tag);
            if (!view->grab().save(path)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Never the user's settings: an in-memory domain, English unless asked otherwise.
    platform::Defaults defaults;
    platform::Defaults::setStandard(&defaults);
    L10n::setSelectedLanguage(L10n::languageEnglish);

    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--screenshots=", 14) == 0) return writeScreenshots(QString::fromLocal8Bit(argv[i] + 14));
    }

    // The first window pays for fonts, styles and symbol loading once; measured on its own.
    QElapsedTimer timer;
    timer.start();
    openWindow().reset();
    std::printf("First settings window of the process (created, shown, laid out): %.1f ms\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platform::Defaults::setStandard(nullptr);
    return 0;
}
