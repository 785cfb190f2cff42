#pragma once

// Shared by the input-method tests: a private session bus for a framework's daemon, and what the
// service announces.

#include "core/event_bus.h"
#include "live_activities/input_source_activity_view.h"
#include "live_activities/input_source_service.h"
#include "live_activities/live_test_helpers.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/xkb_input_sources.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <memory>
#include <utility>
#include <vector>

// No X display: the keyboard gives no source, so what is announced is the framework's alone.
inline std::unique_ptr<platform::InputSources> noKeyboard() {
    return std::make_unique<platform::XkbInputSources>(QByteArrayLiteral(":9999"));
}

// Records what the service announces.
struct Announcements {
    explicit Announcements(EventBus& bus) {
        subscriptions.insert(bus.inputSourceSubject.sink([this](const std::optional<InputSourceInfo>& info) {
            if (info) sources.push_back(*info);
        }));
    }
    QStringList glyphs() const {
        QStringList out;
        for (const InputSourceInfo& info : sources) out << InputSourceActivityView::displayName(info.id);
        return out;
    }
    QString lastID() const { return sources.empty() ? QString() : sources.back().id; }
    std::vector<InputSourceInfo> sources;
    platform::CancellableSet subscriptions;
};

// The service on the desktop's input method frameworks, started, and what it announces.
struct AnnouncingService {
    AnnouncingService(platform::DBusConnection& sessionBus, platform::Scheduler& scheduler)
        : sources(noKeyboard(), sessionBus, scheduler), bus(scheduler), service(bus, scheduler, sources), seen(bus) {
        service.start();
    }
    ~AnnouncingService() { service.stop(); }
    platform::DesktopInputSources sources;
    EventBus bus;
    InputSourceService service;
    Announcements seen;
};

// A private session bus and HOME for one framework's daemon. The daemons' engines are Python
// programs that need the system's python3 with its GObject bindings.
class InputMethodDaemonTest : public testsupport::QuillvexTest {
protected:
    void startBus() {
        env.set("PATH", "/usr/bin:/bin");
        env.unset("DISPLAY");
        env.unset("WAYLAND_DISPLAY");
        env.unset("IBUS_ADDRESS");
        QString error;
        sessionBus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        ASSERT_TRUE(sessionBus) << error.toStdString();
        busEnv = sessionBus->exportAddress();
    }
    QString logPath(const char* name) const { return home.path() + QLatin1Char('/') + QLatin1String(name); }
    // Virtual time keeps pace with the daemons' own, so what waits for quiet comes.
    bool pump(const std::function<bool()>& done, int limitMs = 10000) {
        QElapsedTimer real;
        real.start();
        qint64 passed = 0;
        return testsupport::pumpUntil(scheduler(), [&] {
            const qint64 now = real.nsecsElapsed();
            scheduler().advance(static_cast<double>(now - std::exchange(passed, now)) / 1e9);
            return done();
        }, limitMs);
    }

    testsupport::ScopedEnvironment env;
    testsupport::ScopedServiceHome home;
    std::unique_ptr<testsupport::PrivateBus> sessionBus;
    std::unique_ptr<testsupport::ScopedEnvironment> busEnv;
    std::unique_ptr<testsupport::ServiceProcess> daemon;
};
