#include "platform/notification_store/notification_list.h"

#include "support/fake_dbus_connection.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <optional>

using platform::DBusCall;
using platform::DBusReply;

namespace {

class NotificationListTest : public testsupport::QuillvexTest {
protected:
    void serve(const QString& serverName) {
        bus.reply(QStringLiteral("org.freedesktop.Notifications.GetServerInformation"),
                  {serverName, QStringLiteral("vendor"), QStringLiteral("1.0"), QStringLiteral("1.2")});
    }
    // What show() reported, once the bus has answered; none while it has not.
    std::optional<bool> show() {
        std::optional<bool> shown;
        int reports = 0;
        list.show([&](bool value) {
            shown = value;
            ++reports;
        });
        scheduler().drain();
        EXPECT_LE(reports, 1);
        return shown;
    }
    QString lastMethod() const {
        const DBusCall& c = bus.calls().back();
        return c.service + QLatin1Char(' ') + c.path + QLatin1Char(' ') + c.interface + QLatin1Char('.') + c.method;
    }

    testsupport::FakeDBusConnection bus;
    platform::DesktopNotificationList list{&bus};
};

TEST_F(NotificationListTest, EachDaemonWithAListIsAskedToShowIt) {
    serve(QStringLiteral("dunst"));
    bus.reply(QStringLiteral("org.dunstproject.cmd0.NotificationShow"), {});
    EXPECT_EQ(show(), true);
    ASSERT_EQ(bus.calls().size(), 2u);
    EXPECT_EQ(bus.calls()[0].method, QStringLiteral("GetServerInformation"));
    EXPECT_EQ(lastMethod(), "org.freedesktop.Notifications /org/freedesktop/Notifications org.dunstproject.cmd0.NotificationShow");

    serve(QStringLiteral("SwayNotificationCenter"));
    bus.reply(QStringLiteral("org.erikreider.swaync.cc.SetVisibility"), {});
    EXPECT_EQ(show(), true);
    EXPECT_EQ(lastMethod(), "org.erikreider.swaync.cc /org/erikreider/swaync/cc org.erikreider.swaync.cc.SetVisibility");
    EXPECT_EQ(bus.calls().back().arguments, QVariantList{true});

    serve(QStringLiteral("mako"));
    bus.reply(QStringLiteral("fr.emersion.Mako.RestoreNotification"), {});
    EXPECT_EQ(show(), true);
    EXPECT_EQ(lastMethod(), "org.freedesktop.Notifications /fr/emersion/Mako fr.emersion.Mako.RestoreNotification");
    for (const auto& timeout : bus.timeouts()) EXPECT_GT(timeout.count(), 0);
}

TEST_F(NotificationListTest, NoDaemonADaemonWithoutAListOrAFailedCallShowsNothing) {
    // No daemon at all.
    EXPECT_EQ(show(), false);
    EXPECT_EQ(bus.calls().size(), 1u);
    // A daemon that keeps no list is asked nothing more.
    serve(QStringLiteral("Xfce Notify Daemon"));
    EXPECT_EQ(show(), false);
    EXPECT_EQ(bus.calls().size(), 2u);
    // A daemon that names itself as one with a list but refuses the call.
    serve(QStringLiteral("dunst"));
    EXPECT_EQ(show(), false);
    EXPECT_EQ(bus.calls().size(), 4u);
    // A daemon that never answers counts as none once the wait is over.
    bus.silence(QStringLiteral("org.freedesktop.Notifications.GetServerInformation"));
    std::optional<bool> shown;
    list.show([&](bool value) { shown = value; });
    scheduler().drain();
    EXPECT_FALSE(shown);
    scheduler().advance(5);
    EXPECT_EQ(shown, false);
}

TEST_F(NotificationListTest, OnlyTheKnownNamesCount) {
    EXPECT_TRUE(platform::DesktopNotificationList::showCall(QStringLiteral("Dunst")));
    EXPECT_FALSE(platform::DesktopNotificationList::showCall(QStringLiteral("dunstify")));
    EXPECT_FALSE(platform::DesktopNotificationList::showCall(QString()));
    EXPECT_FALSE(platform::DesktopNotificationList::showCall(QStringLiteral("notification-daemon")));
}

}  // namespace
