// The polling detector on the real scheduler against a real notification daemon's popups, read
// through the desktop's accessibility bus.

#include "detection/polling_detector.h"

#include "platform/accessibility/atspi_accessibility.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/atspi_desktop.h"
#include "support/fake_workspace.h"

#include <gtest/gtest.h>

namespace {

using testsupport::AtSpiDesktop;

TEST(PollingOnADesktop, APopupOfAGtkDaemonGivesItsTitleAndTextAsTheObserverReadsThem) {
    QString error;
    auto desktop = AtSpiDesktop::start(&error);
    if (!desktop) QUILLVEX_SERVICE_MISSING(error.toStdString());
    ASSERT_TRUE(desktop->setEnabled(true));
    if (!desktop->startDaemon(AtSpiDesktop::notificationDaemon(), &error)) QUILLVEX_SERVICE_MISSING(error.toStdString());
    const int32_t pid = desktop->daemonPid();
    platform::AtSpiAccessibility ax;
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted() && ax.notificationServerPID() == pid; }));
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.treeGeneration(pid).has_value(); }));

    testsupport::FakeWorkspace workspace;  // no running application's name to match
    platform::QtScheduler scheduler;
    EventBus bus{scheduler};
    std::vector<NotificationSignal> received;
    auto subscription = bus.signalSubject.sink([&](const NotificationSignal& s) { received.push_back(s); });
    const AXTreeSnapshot::Sources sources{ax, workspace, scheduler};
    PollingDetector detector(
        bus, scheduler, [&] { return AXTreeSnapshot::take(sources); },
        [&](const platform::AXElement& window) { return AXTreeSnapshot::take(sources, {window}); });
    detector.start();

    ASSERT_TRUE(desktop->notify(QStringLiteral("Polled title"), QStringLiteral("Polled body")));
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received.front().message, QStringLiteral("Polled title \u2022 Polled body"));
    EXPECT_NE(received.front().sourceHint, QStringLiteral("Polled title"));
    EXPECT_NE(received.front().sourceHint, QStringLiteral("Polled body"));
    detector.stop();
}

}  // namespace
