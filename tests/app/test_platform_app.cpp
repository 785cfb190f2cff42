// The application stand-ins of the platform layer: windows and their order, the reopen channel,
// queued alerts and bundle resources. (Closing versus hiding a window is covered through the
// delegate's settings window.)

#include "platform/shell/alert_presenter.h"
#include "platform/shell/desktop_application.h"
#include "platform/shell/reopen_channel.h"
#include "platform/shell/main_bundle.h"
#include "platform/shell/status_item.h"
#include "support/fake_app.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

using platform::Window;
using platform::WindowStyle;

TEST(PlatformWindows, RegistryKeepsFrontToBackOrder) {
    testsupport::FakeApplication application;
    auto a = application.makeWindow(QSize(200, 100), WindowStyle::Titled);
    auto b = application.makeWindow(QSize(200, 100), WindowStyle::Titled);
    auto panel = application.makeWindow(QSize(200, 100), platform::WindowStyleMask());
    EXPECT_FALSE(application.hasVisibleWindows());
    b->makeKeyAndOrderFront();
    panel->orderFrontRegardless();
    a->makeKeyAndOrderFront();
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{a.get(), panel.get(), b.get()}));
    b.reset();
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{a.get(), panel.get()}));
}

TEST(PlatformWindows, FixedWindowsFollowTheirContentAndContentIsReplaced) {
    testsupport::FakeApplication application;
    auto window = application.makeWindow(QSize(560, 420), WindowStyle::Titled | WindowStyle::Closable);
    QPointer<QWidget> first = new QWidget;
    window->setContentView(first);
    EXPECT_EQ(window->contentSize(), QSize(560, 420));  // content without a size of its own

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* child = new QWidget(content);
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
    ASSERT_TRUE(testsupport::writeFile(path));  // left by an instance that died: it does not block the next one

    int reopened = 0;
    platform::ReopenChannel running(path);
    ASSERT_EQ(running.start([&] { ++reopened; }), platform::ReopenChannel::Outcome::Listening);
    platform::ReopenChannel second(path);
    EXPECT_EQ(second.start([] { FAIL() << "the second start must not listen"; }),
              platform::ReopenChannel::Outcome::DeliveredToRunningInstance);
    QDeadlineTimer deadline(5000);  // a real socket: waits until the request arrives, not longer
    while (reopened == 0 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(reopened, 1);
}

TEST(PlatformAlerts, RequestsWaitForTheAlertOnScreen) {
    auto surface = std::make_unique<testsupport::FakeAlertSurface>();
    auto* fake = surface.get();
    platform::AlertPresenter presenter(std::move(surface));
    QStringList answers;
    for (const QString text : {"first", "second"}) {
        presenter.present({platform::Alert::Style::Warning, text, "", {"OK", "Cancel"}},
                          [&answers, text](int button) { answers << text + QString::number(button); });
    }
    ASSERT_EQ(fake->shown().size(), 1u);
    fake->answer(1);
    ASSERT_EQ(fake->shown().size(), 2u);
    EXPECT_EQ(fake->shown().back().alert.messageText, "second");
    fake->shown().front().done(0);  // a second answer to the same alert is ignored
    fake->answer(0);
    EXPECT_EQ(answers, (QStringList{"first1", "second0"}));
    EXPECT_FALSE(presenter.isShowing());
}

TEST(PlatformApplication, IconResourceComesFromTheBundleInAReadableFormat) {
    QTemporaryDir dir;
    const QString resources = dir.path() + QStringLiteral("/Quillvex.app/Contents/Resources/");
    platform::MainBundle bundle(QStringLiteral("com.example.test"), dir.path() + QStringLiteral("/Quillvex.app"));
    const platform::MainBundle* previous = platform::MainBundle::setShared(&bundle);
    platform::DesktopApplication application;
    EXPECT_FALSE(application.imageResource("AppIcon", "icns").has_value());

    // A container this desktop cannot read does not count; the same icon as SVG stands in.
    ASSERT_TRUE(testsupport::writeFile(resources + "AppIcon.icns", QByteArray("icns\0\0\0\x08", 8)));
    EXPECT_FALSE(application.imageResource("AppIcon", "icns").has_value());
    ASSERT_TRUE(testsupport::writeFile(resources + "AppIcon.svg",
              R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"><rect width="16" height="16"/></svg>)"));
    EXPECT_TRUE(application.imageResource("AppIcon", "icns").has_value());
    EXPECT_FALSE(application.imageResource("AppIcon", "png").has_value());
    platform::MainBundle::setShared(previous);
}

// The tray bell must read on a dark panel and on a light one: light strokes ringed in dark.
TEST(StatusItemTray, TheBellHasLightAndDarkPixelsAtEverySize) {
    for (int size : {16, 22, 32, 64}) {
        const QImage image = platform::StatusItem::trayImage(QStringLiteral("bell.fill"), size);
        ASSERT_EQ(image.size(), QSize(size, size));
        int light = 0, dark = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 200) continue;
                if (c.lightness() > 200) ++light;
                if (c.lightness() < 60) ++dark;
            }
        }
        EXPECT_GT(light, size * size / 20) << size;
        EXPECT_GT(dark, size * size / 40) << size;
    }
}
