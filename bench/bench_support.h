#pragma once

// What the widget and event-loop benchmarks share: the process's CPU time over stretches of the
// event loop, and the program's main for an offscreen widget application.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>

namespace benchsupport {

inline double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Noise saved as a PNG at `path`: a cover as large as a photographic one gets (about 270 KB at 300).
inline bool saveNoiseCover(const QString& path, int side = 300) {
    QImage image(side, side, QImage::Format_RGB32);
    uint32_t seed = 12345;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, seed >> 8);
        }
    }
    return image.save(path, "PNG");
}

// A process's wake-ups so far: the voluntary context switches of all its threads (`pid` 0: this one).
inline double wakeupsOf(qint64 pid = 0) {
    const QString tasks = pid ? QStringLiteral("/proc/%1/task").arg(pid) : QStringLiteral("/proc/self/task");
    double wakeups = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + u'/' + task + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:")) wakeups += line.mid(24).trimmed().toDouble();
        }
    }
    return wakeups;
}

// Runs the event loop for `ms` of wall time; the CPU seconds the process used meanwhile.
inline double eventLoopCpu(int ms) {
    const double before = processCpuSeconds();
    QTimer::singleShot(ms, qApp, &QCoreApplication::quit);
    QApplication::exec();
    return processCpuSeconds() - before;
}

// One second of the event loop per iteration: the CPU milliseconds used per second of wall time.
inline double eventLoopCpuMsPerSecond(benchmark::State& state) {
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        cpu += eventLoopCpu(1000);
        wall += 1.0;
    }
    return cpu / wall * 1e3;
}

// The benchmarks' main: Google Benchmark inside an offscreen widget application.
inline int runOffscreenWidgetBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace benchsupport
