// The application stand-ins of the platform layer: windows and their order, the reopen channel,
// the status item's shortcuts, queued alerts and bundle resources.

#include "platform/app_alert_presenter.h"
#include "platform/app_desktop_application.h"
#include "platform/app_reopen_channel.h"
#include "platform/app_status_item.h"
#include "platform/main_bundle.h"
#include "support/fake_app.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

using platform::Window;
using platform::WindowStyle;

namespace {

class RecordingWindowDelegate final : public platform::WindowDelegate {
public:
    void windowWillClose(Window& window) override { closed.push_back(&window); }
    std::vector<Window*> closed;
};

// Runs the event loop until `done` or five seconds have passed (a real socket, not a timer).
template <class Done>
bool processEventsUntil(Done done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

}  // namespace

TEST(PlatformWindows, RegistryKeepsFrontToBackOrderAndKey) {
    testsupport::FakeApplication application;
    auto a = application.makeWindow(QSize(200, 100), WindowStyle::Titled | WindowStyle::Closable);
    auto b = application.makeWindow(QSize(200, 100), WindowStyle::Titled);
    auto panel = application.makeWindow(QSize(200, 100), platform::WindowStyleMask());
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{a.get(), b.get(), panel.get()}));
    EXPECT_FALSE(application.hasVisibleWindows());

    b->makeKeyAndOrderFront();
    a->makeKeyAndOrderFront();
    EXPECT_EQ(application.windows().orderedWindows().front(), a.get());
    EXPECT_TRUE(a->isKey());
    EXPECT_FALSE(b->isKey());

    // A window without a title bar comes forward but cannot take the focus.
    EXPECT_FALSE(panel->canBecomeKey());
    panel->makeKeyAndOrderFront();
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{panel.get(), a.get(), b.get()}));
    EXPECT_TRUE(a->isKey());

    a->orderOut();
    EXPECT_FALSE(a->isKey());
    EXPECT_TRUE(application.hasVisibleWindows());
    b.reset();
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{panel.get(), a.get()}));
}

TEST(PlatformWindows, ClosingTellsTheDelegateAndHidingDoesNot) {
    testsupport::FakeApplication application;
    RecordingWindowDelegate recorder;
    auto window = application.makeWindow(QSize(300, 200), WindowStyle::Titled | WindowStyle::Closable);
    window->setDelegate(&recorder);
    window->makeKeyAndOrderFront();

    window->orderOut();
    EXPECT_TRUE(recorder.closed.empty());

    window->makeKeyAndOrderFront();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(recorder.closed, std::vector<Window*>{window.get()});

    // A closed window can be shown again.
    window->makeKeyAndOrderFront();
    EXPECT_TRUE(window->isVisible());
}

TEST(PlatformWindows, OwnerMayDropTheWindowWhileItCloses) {
    testsupport::FakeApplication application;
    struct Dropper final : platform::WindowDelegate {
        std::shared_ptr<Window> held;
        void windowWillClose(Window&) override { held.reset(); }
    } dropper;
    dropper.held = application.makeWindow(QSize(300, 200), WindowStyle::Titled | WindowStyle::Closable);
    dropper.held->setDelegate(&dropper);
    dropper.held->makeKeyAndOrderFront();
    dropper.held->close();
    EXPECT_EQ(dropper.held, nullptr);
    EXPECT_TRUE(application.windows().orderedWindows().empty());
}

TEST(PlatformWindows, FixedWindowsFollowTheirContentAndContentIsReplaced) {
    testsupport::FakeApplication application;
    auto window = application.makeWindow(QSize(560, 420), WindowStyle::Titled | WindowStyle::Closable);
    QPointer<QWidget> first = new QWidget;
    window->setContentView(first);
    EXPECT_EQ(window->contentSize(), QSize(560, 420));  // content without a size of its own

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* child = new QWidget;
    child->setFixedHeight(600);
    layout->addWidget(child);
    window->setContentView(content);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(window->contentSize().width(), 560);
    EXPECT_EQ(window->contentSize().height(), layout->minimumSize().height());

    child->setFixedHeight(300);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(window->contentSize().height(), layout->minimumSize().height());
    EXPECT_LT(window->contentSize().height(), 420);
    EXPECT_EQ(window->widget()->minimumSize(), window->widget()->maximumSize());
}

TEST(PlatformReopen, SecondStartDeliversToTheRunningInstance) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/app.reopen");
    // A socket file left by an instance that died does not block the next one.
    QFile stale(path);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();

    int reopened = 0;
    platform::ReopenChannel running(path);
    ASSERT_EQ(running.start([&] { ++reopened; }), platform::ReopenChannel::Outcome::Listening);

    platform::ReopenChannel second(path);
    EXPECT_EQ(second.start([] { FAIL() << "the second start must not listen"; }),
              platform::ReopenChannel::Outcome::DeliveredToRunningInstance);
    EXPECT_TRUE(processEventsUntil([&] { return reopened == 1; }));
}

TEST(PlatformStatusItem, ShortcutsWorkFromAnyWidgetAndTheModelIsRebuilt) {
    int quits = 0;
    QString title = QStringLiteral("Quit");
    platform::StatusItem item(
        "App", "bell.fill",
        [&] {
            return std::vector<platform::MenuItem>{
                platform::MenuItem::command("Open", [] {}), platform::MenuItem::separator(),
                platform::MenuItem::command(title, [&] { ++quits; }, QKeySequence(Qt::CTRL | Qt::Key_Q))};
        },
        platform::StatusItem::Presentation::ModelOnly);

    title = QStringLiteral("Beenden");
    EXPECT_EQ(item.menuItems().back().title, "Beenden");
    EXPECT_FALSE(item.trigger("Quit"));
    EXPECT_TRUE(item.trigger("Beenden"));

    QWidget widget;
    QKeyEvent controlW(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier);
    QCoreApplication::sendEvent(&widget, &controlW);
    QKeyEvent controlQ(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
    QCoreApplication::sendEvent(&widget, &controlQ);
    EXPECT_EQ(quits, 2);
}

TEST(PlatformAlerts, RequestsWaitForTheAlertOnScreen) {
    auto surface = std::make_unique<testsupport::FakeAlertSurface>();
    auto* fake = surface.get();
    platform::AlertPresenter presenter(std::move(surface));
    std::vector<QString> answers;

    presenter.present({platform::Alert::Style::Warning, "First", "", {"OK", "Cancel"}},
                      [&](int button) { answers.push_back("first:" + QString::number(button)); });
    presenter.present({platform::Alert::Style::Informational, "Second", "", {}},
                      [&](int button) { answers.push_back("second:" + QString::number(button)); });
    ASSERT_EQ(fake->shown().size(), 1u);
    EXPECT_EQ(presenter.waitingCount(), 1u);

    fake->answer(1);
    fake->answer(0);  // a second answer to the same alert is ignored
    ASSERT_EQ(fake->shown().size(), 2u);
    EXPECT_EQ(fake->shown().back().alert.messageText, "Second");

    // An alert requested from a completion waits behind the ones already queued.
    presenter.present({platform::Alert::Style::Critical, "Third", "", {}}, [&](int) {
        answers.push_back("third");
    });
    fake->answer(0);
    ASSERT_EQ(fake->shown().size(), 3u);
    fake->answer(0);
    EXPECT_EQ(answers, (std::vector<QString>{"first:1", "second:0", "third"}));
    EXPECT_FALSE(presenter.isShowing());
}

TEST(PlatformApplication, IconResourceComesFromTheBundleInAReadableFormat) {
    QTemporaryDir dir;
    const QString resources = dir.path() + QStringLiteral("/Quillvex.app/Contents/Resources");
    ASSERT_TRUE(QDir().mkpath(resources));
    platform::MainBundle bundle(QStringLiteral("com.example.test"), dir.path() + QStringLiteral("/Quillvex.app"));
    const platform::MainBundle* previous = platform::MainBundle::setShared(&bundle);

    platform::DesktopApplication application;
    EXPECT_FALSE(application.imageResource("AppIcon", "icns").has_value());

    // A container this desktop cannot read does not count; the same icon as SVG stands in.
    QFile container(resources + QStringLiteral("/AppIcon.icns"));
    ASSERT_TRUE(container.open(QIODevice::WriteOnly));
    container.write("icns\0\0\0\x08", 8);
    container.close();
    EXPECT_FALSE(application.imageResource("AppIcon", "icns").has_value());

    QFile svg(resources + QStringLiteral("/AppIcon.svg"));
    ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
    svg.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"><rect width="16" height="16"/></svg>)");
    svg.close();
    EXPECT_TRUE(application.imageResource("AppIcon", "icns").has_value());
    EXPECT_FALSE(application.imageResource("AppIcon", "png").has_value());

    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::Accessory);
    platform::MainBundle::setShared(previous);
}
