#include "switcher/app_switcher_service.h"

#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

namespace {

using platform::ActivationPolicy;
using platform::RunningApplication;

const QString ownId = QStringLiteral("com.varnock.Quillvex");
constexpr qint64 ownPid = 999;

RunningApplication app(qint64 pid, std::optional<QString> id,
                       ActivationPolicy policy = ActivationPolicy::Regular) {
    RunningApplication a;
    a.processIdentifier = pid;
    a.bundleIdentifier = std::move(id);
    a.localizedName = QStringLiteral("App %1").arg(pid);
    a.activationPolicy = policy;
    return a;
}

QList<qint64> pids(const QList<RunningApplication>& apps) {
    QList<qint64> out;
    for (const auto& a : apps) out << a.processIdentifier;
    return out;
}

class AppSwitcherServiceTest : public testsupport::QuillvexTest {
protected:
    testsupport::FakeWorkspace workspace;
    EventBus bus{scheduler()};
    std::vector<QList<qint64>> published;
    platform::AnyCancellable recording;

    AppSwitcherServiceTest() {
        recording = bus.recentAppsSubject.sink(
            [this](const QList<RunningApplication>& apps) { published.push_back(pids(apps)); });
        published.clear();  // the subject's initial empty list
    }

    std::unique_ptr<AppSwitcherService> makeService(std::optional<QString> own = ownId) {
        return std::make_unique<AppSwitcherService>(bus, &workspace, scheduler(), std::optional(own), ownPid);
    }

    void activate(const RunningApplication& a) {
        workspace.announceActivation(a);
        scheduler().drain();
    }

    void addRunning(const RunningApplication& a) { workspace.applications.push_back(a); }
};

TEST_F(AppSwitcherServiceTest, SeedingKeepsTheFirstEightTrackedInWorkspaceOrderAndPublishesOnce) {
    addRunning(app(ownPid, ownId));
    addRunning(app(50, QStringLiteral("com.apple.finder")));
    addRunning(app(51, QStringLiteral("org.example.Tool"), ActivationPolicy::Accessory));
    for (qint64 pid = 1; pid <= 10; ++pid) addRunning(app(pid, QStringLiteral("org.example.A%1").arg(pid)));
    auto service = makeService();
    service->start();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0], (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(pids(service->recentApps()), published[0]);
}

TEST_F(AppSwitcherServiceTest, ActivationMovesToFrontKeepsOthersInOrderAndCapsAtEight) {
    for (qint64 pid : {1, 2, 3}) addRunning(app(pid, QStringLiteral("org.example.A%1").arg(pid)));
    auto service = makeService();
    service->start();
    published.clear();

    activate(app(3, QStringLiteral("org.example.A3")));
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back(), (QList<qint64>{3, 1, 2}));

    // Already in front: the unchanged list is still published.
    activate(app(3, QStringLiteral("org.example.A3")));
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published.back(), (QList<qint64>{3, 1, 2}));

    for (qint64 pid = 4; pid <= 8; ++pid) activate(app(pid, QStringLiteral("org.example.A%1").arg(pid)));
    EXPECT_EQ(published.back(), (QList<qint64>{8, 7, 6, 5, 4, 3, 1, 2}));
    activate(app(9, QStringLiteral("org.example.A9")));
    EXPECT_EQ(published.back(), (QList<qint64>{9, 8, 7, 6, 5, 4, 3, 1}));
    EXPECT_EQ(service->recentApps().size(), AppSwitcherService::maxApps);
}

TEST_F(AppSwitcherServiceTest, ThisProgramTheFileManagerAndAccessoriesPublishNothing) {
    addRunning(app(1, QStringLiteral("org.example.A1")));
    auto service = makeService();
    service->start();
    published.clear();
    activate(app(ownPid, ownId));
    activate(app(77, ownId));  // another instance of this program
    activate(app(50, QStringLiteral("com.apple.finder")));
    activate(app(51, QStringLiteral("org.example.Tool"), ActivationPolicy::Accessory));
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(pids(service->recentApps()), (QList<qint64>{1}));

    // Without an identifier an application is still tracked.
    activate(app(60, std::nullopt));
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back(), (QList<qint64>{60, 1}));
}

TEST_F(AppSwitcherServiceTest, UnbundledProgramTellsItselfByProcessNotByMissingIdentifier) {
    auto service = makeService(std::nullopt);
    service->start();
    published.clear();
    activate(app(ownPid, std::nullopt));
    EXPECT_TRUE(published.empty());
    activate(app(60, std::nullopt));
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back(), (QList<qint64>{60}));
}

TEST_F(AppSwitcherServiceTest, StartTwiceSubscribesOnceStopKeepsTheListAndRestartReseeds) {
    addRunning(app(1, QStringLiteral("org.example.A1")));
    auto service = makeService();
    service->start();
    service->start();
    EXPECT_EQ(workspace.activationObserverCount(), 1u);
    EXPECT_EQ(published.size(), 1u);
    published.clear();
    activate(app(2, QStringLiteral("org.example.A2")));
    EXPECT_EQ(published.size(), 1u) << "one activation is handled once";

    // Queued before the stop: dropped with the run.
    workspace.announceActivation(app(3, QStringLiteral("org.example.A3")));
    service->stop();
    scheduler().drain();
    EXPECT_EQ(workspace.activationObserverCount(), 0u);
    EXPECT_EQ(published.size(), 1u);
    EXPECT_EQ(pids(service->recentApps()), (QList<qint64>{2, 1}));
    activate(app(4, QStringLiteral("org.example.A4")));
    EXPECT_EQ(published.size(), 1u);

    service->start();
    EXPECT_EQ(published.back(), (QList<qint64>{1}));
}

// Activations arrive on the main queue, where one queued for a destroyed service is dropped.
TEST_F(AppSwitcherServiceTest, ActivationsArriveOnTheMainQueue) {
    auto service = makeService();
    service->start();
    published.clear();
    workspace.announceActivation(app(5, QStringLiteral("org.example.A5")));
    EXPECT_TRUE(published.empty());
    scheduler().drain();
    EXPECT_EQ(published.size(), 1u);
    workspace.announceActivation(app(6, QStringLiteral("org.example.A6")));
    service.reset();
    scheduler().drain();
    EXPECT_EQ(published.size(), 1u);
}

}  // namespace
