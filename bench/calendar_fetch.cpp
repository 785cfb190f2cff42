// The calendar service against Evolution Data Server on a private bus: the first start (reaching
// the registry, opening the calendar, one window query, mapping, sorting) and a later refresh,
// with 500 and 5,000 events in the calendar (every tenth recurring weekly, ten times), and how
// long the main thread is held at start (the access check, the service's start and its
// main-queue steps) while the store is reached and queried elsewhere.
//
// Each measurement runs in a child process: GLib keeps one session-bus connection per process,
// and every size needs a freshly seeded store.

#include "glance/calendar_service.h"
#include "platform/calendar/eds_calendar_store.h"
#include "support/eds_session.h"
#include "support/virtual_scheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Figures {
    double startMs = -1;
    double refreshMs = -1;
    double queryMs = -1;  // the store's window query alone
    double mainBlockMs = -1;  // the main thread's share of a first start
    qsizetype published = 0;
};

QString seededEvents(int count) {
    QString text;
    const qint64 base = QDateTime::currentSecsSinceEpoch() - 21 * 86400;
    auto ical = [](qint64 secs) {
        return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    };
    for (int i = 0; i < count; ++i) {
        const qint64 start = base + qint64(i) * 9000;
        text += QStringLiteral("BEGIN:VEVENT\nUID:bench-%1\nSUMMARY:Event %1\nLOCATION:Room %1\nDTSTART:%2\nDTEND:%3\n")
                    .arg(i)
                    .arg(ical(start), ical(start + 1800));
        if (i % 10 == 0) text += QStringLiteral("RRULE:FREQ=WEEKLY;COUNT=10\n");
        text += QStringLiteral("END:VEVENT\n");
    }
    return text;
}

Figures measure(int count) {
    int argc = 1;
    char name[] = "bench_calendar_fetch";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    testsupport::EdsSession session;
    session.seedPersonalCalendar(seededEvents(count));
    if (!session.start()) return {};

    platform::VirtualScheduler scheduler{std::chrono::system_clock::now()};
    EventBus bus(scheduler);
    platform::EdsCalendarStore store;
    while (store.statusPending()) QThread::msleep(2);  // the registry is reached on a worker
    CalendarService service(store, bus, scheduler);
    Figures figures;
    QElapsedTimer timer;
    timer.start();
    service.start();
    scheduler.drain();  // the query runs as a global step
    figures.startMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    figures.published = bus.calendarEventsSubject.value().size();
    timer.restart();
    scheduler.advance(300);
    figures.refreshMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const auto window = CalendarService::fetchWindow(QDateTime::currentDateTime());
    timer.restart();
    const auto occurrences = store.events(window->first, window->second);
    figures.queryMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    benchmark::DoNotOptimize(occurrences.size());
    service.stop();
    return figures;
}

// A first start as the application makes it, timing only what runs on the calling (main) thread.
Figures measureMainThread(int count) {
    int argc = 1;
    char name[] = "bench_calendar_fetch";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    testsupport::EdsSession session;
    session.seedPersonalCalendar(seededEvents(count));
    if (!session.start()) return {};

    platform::ThreadedGlobalScheduler scheduler{std::chrono::system_clock::now()};
    EventBus bus(scheduler);
    platform::Scheduler* previous = platform::Scheduler::setShared(&scheduler);
    Figures figures;
    QElapsedTimer timer;
    timer.start();
    platform::EdsCalendarStore store;
    CalendarService service(store, bus, scheduler);
    // As the application does: ask without waiting, start the service when the store answers.
    const auto startIfGranted = [&] {
        if (store.authorizationStatus() == platform::CalendarAuthorizationStatus::fullAccess) service.start();
    };
    auto answered = store.observeStatus(startIfGranted);
    startIfGranted();
    scheduler.main.drain();
    qint64 mainNs = timer.nsecsElapsed();
    // The answer starts the query on a worker, whose list is published on the main thread.
    for (int round = 0; round < 3 && bus.calendarEventsSubject.value().isEmpty(); ++round) {
        scheduler.join();
        timer.restart();
        scheduler.main.drain();
        mainNs += timer.nsecsElapsed();
    }
    figures.mainBlockMs = static_cast<double>(mainNs) / 1e6;
    figures.published = bus.calendarEventsSubject.value().size();
    answered.cancel();
    service.stop();
    scheduler.join();
    platform::Scheduler::setShared(previous);
    return figures;
}

Figures measureInChild(int count, Figures (*measurement)(int) = measure) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Figures figures = measurement(count);
        const ssize_t written = write(fds[1], &figures, sizeof figures);
        _exit(written == sizeof figures ? 0 : 1);
    }
    close(fds[1]);
    Figures figures;
    const ssize_t got = read(fds[0], &figures, sizeof figures);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got == sizeof figures ? figures : Figures{};
}

void BM_CalendarFirstStart(benchmark::State& state) {
    for (auto _ : state) {
        const Figures figures = measureInChild(static_cast<int>(state.range(0)));
        if (figures.startMs < 0) {
            state.SkipWithError("the private calendar store did not start");
            break;
        }
        state.SetIterationTime(figures.startMs / 1e3);
        state.counters["published"] = static_cast<double>(figures.published);
        state.counters["refresh_ms"] = figures.refreshMs;
        state.counters["query_ms"] = figures.queryMs;
    }
}
BENCHMARK(BM_CalendarFirstStart)->Arg(500)->Arg(5000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CalendarStartMainThreadBlock(benchmark::State& state) {
    for (auto _ : state) {
        const Figures figures = measureInChild(static_cast<int>(state.range(0)), measureMainThread);
        if (figures.mainBlockMs < 0) {
            state.SkipWithError("the private calendar store did not start");
            break;
        }
        state.SetIterationTime(figures.mainBlockMs / 1e3);
        state.counters["published"] = static_cast<double>(figures.published);
    }
}
BENCHMARK(BM_CalendarStartMainThreadBlock)->Arg(500)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
