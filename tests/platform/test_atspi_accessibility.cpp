// The AT-SPI backend against the real accessibility bus and real notification daemons on a
// private desktop: trust follows the desktop's switch, the daemon's popups are read and
// announced, and a daemon without accessibility gives failures, never a wait.

#include "platform/accessibility/atspi_accessibility.h"
#include "platform/accessibility/atspi_mirror.h"

#include "support/atspi_desktop.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <functional>

#include <unistd.h>

using platform::AXAttributeValue;
using platform::AXElement;
using platform::AXElementList;
using platform::AXError;

namespace {

using testsupport::AtSpiDesktop;

// Every text of an element and its subtree, depth first.
QStringList textsBelow(platform::Accessibility& ax, const AXElement& element, int depth = 0) {
    QStringList texts;
    if (depth > 12) return texts;
    AXAttributeValue value;
    for (const char* name : {"AXValue", "AXTitle"}) {
        if (ax.copyAttributeValue(element, QString::fromLatin1(name), value) == AXError::Success)
            if (auto* s = std::get_if<QString>(&value)) texts << *s;
    }
    if (ax.copyAttributeValue(element, QStringLiteral("AXChildren"), value) == AXError::Success)
        if (auto* list = std::get_if<AXElementList>(&value))
            for (const auto& child : *list) texts << textsBelow(ax, child, depth + 1);
    return texts;
}

AXElementList windowsOf(platform::Accessibility& ax, int32_t pid) {
    AXAttributeValue value;
    if (ax.copyAttributeValue(AXElement::application(pid), QStringLiteral("AXWindows"), value) != AXError::Success)
        return {};
    auto* list = std::get_if<AXElementList>(&value);
    return list ? *list : AXElementList{};
}

// The connections this process holds on the bus at `address`, besides the one that asks.
int connectionsOfThisProcess(const QString& address) {
    const QString name = QStringLiteral("count-") + QUuid::createUuid().toString(QUuid::Id128);
    int count = -1;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
        if (bus.isConnected() && names.isValid()) {
            count = 0;
            for (const QString& unique : names.value()) {
                if (!unique.startsWith(QLatin1Char(':')) || unique == bus.baseService()) continue;
                const QDBusReply<uint> pid = bus.interface()->servicePid(unique);
                count += pid.isValid() && pid.value() == static_cast<uint>(::getpid()) ? 1 : 0;
            }
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return count;
}

QString accessibilityBusAddress(const QString& session) {
    const QString name = QStringLiteral("address-") + QUuid::createUuid().toString(QUuid::Id128);
    QString address;
    {
        const QDBusMessage reply = QDBusConnection::connectToBus(session, name).call(QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
            QStringLiteral("GetAddress")));
        if (!reply.arguments().isEmpty()) address = reply.arguments().constFirst().toString();
    }
    QDBusConnection::disconnectFromBus(name);
    return address;
}

class AtSpiAccessibilityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        desktop.start([](QString* error) { return AtSpiDesktop::start(error); });
    }
    static void TearDownTestSuite() { desktop.stop(); }
    void SetUp() override {
        if (!desktop) QUILLVEX_SERVICE_MISSING(desktop.error().toStdString());
    }

    static inline testsupport::SuiteService<testsupport::AtSpiDesktop> desktop;
};

TEST_F(AtSpiAccessibilityTest, TrustFollowsTheDesktopSwitchAndTheRequestTurnsItOn) {
    ASSERT_TRUE(desktop->setEnabled(false));
    platform::AtSpiAccessibility ax;
    QElapsedTimer settle;
    settle.start();
    AtSpiDesktop::waitUntil([&] { return settle.elapsed() > 1500; });  // several probes' worth
    EXPECT_FALSE(ax.isProcessTrusted());

    // The request answers at once, and the switch follows.
    EXPECT_FALSE(ax.isProcessTrustedWithOptions(true));
    EXPECT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted(); }));

    ASSERT_TRUE(desktop->setEnabled(false));
    EXPECT_TRUE(AtSpiDesktop::waitUntil([&] { return !ax.isProcessTrusted(); }));
    ASSERT_TRUE(desktop->setEnabled(true));
    EXPECT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted(); }));

    // Every turn of the switch is announced: a settings page asking every second wakes nobody.
    QElapsedTimer asking;
    asking.start();
    AtSpiDesktop::waitUntil([&] { return !ax.isProcessTrusted() || asking.elapsed() > 1200; });
    EXPECT_TRUE(ax.isProcessTrusted());
    EXPECT_EQ(ax.probesRequested(), 0);
}

TEST_F(AtSpiAccessibilityTest, APopupOfAGtkDaemonIsAnnouncedOnceAndReadWithItsTexts) {
    ASSERT_TRUE(desktop->setEnabled(true));
    QString error;
    if (!desktop->startDaemon(AtSpiDesktop::notificationDaemon(), &error))
        QUILLVEX_SERVICE_MISSING(error.toStdString());
    const int32_t pid = desktop->daemonPid();
    platform::AtSpiAccessibility ax;
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted() && ax.notificationServerPID() == pid; }));

    struct Received {
        QStringList notifications;
    } received;
    std::unique_ptr<platform::AXObserver> observer;
    ASSERT_EQ(ax.createObserver(
                  pid,
                  [](platform::AXObserver&, const AXElement&, const QString& notification, void* context) {
                      static_cast<Received*>(context)->notifications << notification;
                  },
                  observer),
              AXError::Success);
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] {
        return observer->addNotification(AXElement::application(pid), QStringLiteral("AXWindowCreated"), &received) ==
               AXError::Success;
    }));
    observer->addRunLoopSource();
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.treeGeneration(pid).has_value(); }));
    const auto before = ax.treeGeneration(pid);

    ASSERT_TRUE(desktop->notify(QStringLiteral("Dinner at 7?"), QStringLiteral("See you there")));
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return !received.notifications.isEmpty(); }));
    EXPECT_EQ(received.notifications, QStringList{"AXWindowCreated"});
    EXPECT_NE(ax.treeGeneration(pid), before);
    QStringList texts;
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] {
        texts.clear();
        for (const auto& window : windowsOf(ax, pid)) texts << textsBelow(ax, window);
        return texts.contains("Dinner at 7?") && texts.contains("See you there");
    })) << texts.join(" | ").toStdString();

    // Nothing changes while nothing is shown anew.
    const auto settled = ax.treeGeneration(pid);
    QElapsedTimer quiet;
    quiet.start();
    AtSpiDesktop::waitUntil([&] { return quiet.elapsed() > 1000; });
    EXPECT_EQ(ax.treeGeneration(pid), settled);
    EXPECT_EQ(received.notifications, QStringList{"AXWindowCreated"});
}

TEST_F(AtSpiAccessibilityTest, ADaemonWithoutAccessibilityFailsAtOnce) {
    ASSERT_TRUE(desktop->setEnabled(true));
    QString error;
    if (!desktop->startDaemon(AtSpiDesktop::dunst(), &error)) QUILLVEX_SERVICE_MISSING(error.toStdString());
    const int32_t pid = desktop->daemonPid();
    platform::AtSpiAccessibility ax;
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted() && ax.notificationServerPID() == pid; }));

    std::unique_ptr<platform::AXObserver> observer;
    ASSERT_EQ(ax.createObserver(pid, [](platform::AXObserver&, const AXElement&, const QString&, void*) {}, observer),
              AXError::Success);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(observer->addNotification(AXElement::application(pid), QStringLiteral("AXWindowCreated"), nullptr),
              AXError::CannotComplete);
    AXAttributeValue value;
    EXPECT_EQ(ax.copyAttributeValue(AXElement::application(pid), QStringLiteral("AXWindows"), value),
              AXError::CannotComplete);
    // Answered from what is known, never by waiting on a bus: a wait would last until the reader's
    // calls give up (a second each). The bound only has to stay below that, never to be tight.
    EXPECT_LT(timer.elapsed(), 700);
}

// Applications that join the desktop after the reader began are announced by the registry and
// read like those that were there first, also two that join at once (the second announced while
// the listing for the first is fresh).
TEST_F(AtSpiAccessibilityTest, ApplicationsStartedLaterAreRead) {
    ASSERT_TRUE(desktop->setEnabled(true));
    platform::AtSpiAccessibility ax;
    ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted(); }));

    QTemporaryDir dir;
    std::vector<std::unique_ptr<testsupport::ServiceProcess>> later;
    for (const char* label : {"Joined later", "Joined with it"}) {
        const QString ui = dir.filePath(QString::fromLatin1(label) + QStringLiteral(".ui"));
        QFile file(ui);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(R"(<interface><object class="GtkWindow"><child><object class="GtkLabel">
                   <property name="label">)") + label + R"(</property><property name="visible">True</property>
                   </object></child></object></interface>)");
        file.close();
        QString error;
        later.push_back(testsupport::ServiceProcess::start(QStringLiteral("/usr/bin/gtk-builder-tool"),
                                                           {QStringLiteral("preview"), ui}, {}, -1, &error));
        if (!later.back()) QUILLVEX_SERVICE_MISSING(error.toStdString());
    }
    QStringList texts;
    EXPECT_TRUE(AtSpiDesktop::waitUntil([&] {
        texts.clear();
        for (const auto& app : later)
            for (const auto& window : windowsOf(ax, app->pid())) texts << textsBelow(ax, window);
        return texts.contains("Joined later") && texts.contains("Joined with it");
    })) << texts.join(" | ").toStdString();
}

// The reader's connections to the session bus and to the accessibility bus end with it.
TEST_F(AtSpiAccessibilityTest, StoppingClosesTheReadersConnectionsToBothBuses) {
    ASSERT_TRUE(desktop->setEnabled(true));
    const QString session = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString a11y = accessibilityBusAddress(session);
    ASSERT_FALSE(a11y.isEmpty());
    const int sessionBefore = connectionsOfThisProcess(session);
    const int a11yBefore = connectionsOfThisProcess(a11y);
    ASSERT_GE(sessionBefore, 0);
    ASSERT_GE(a11yBefore, 0);
    {
        platform::AtSpiAccessibility ax;
        ASSERT_TRUE(AtSpiDesktop::waitUntil([&] { return ax.isProcessTrusted(); }));
        EXPECT_GT(connectionsOfThisProcess(session), sessionBefore);
        EXPECT_GT(connectionsOfThisProcess(a11y), a11yBefore);
    }
    // The bus daemon drops a closed connection's name as soon as it reads the hang-up.
    EXPECT_TRUE(AtSpiDesktop::waitUntil([&] { return connectionsOfThisProcess(session) == sessionBefore; }));
    EXPECT_TRUE(AtSpiDesktop::waitUntil([&] { return connectionsOfThisProcess(a11y) == a11yBefore; }));
}

TEST(AtSpiMirror, AttributesReadAsTheirAXCounterparts) {
    platform::atspi::Mirror mirror;
    mirror.pid = 9;
    mirror.applicationName = QStringLiteral("notification-daemon");
    mirror.windows = {1};
    mirror.nodes[1] = {QStringLiteral("frame"), QStringLiteral("Notification"), {}, {}, {}, {2, 3}, true};
    mirror.nodes[2] = {QStringLiteral("label"), QStringLiteral("Title"), QStringLiteral("d"), QStringLiteral("title-id"),
                       QStringLiteral("Title"), {}, false};
    mirror.nodes[3] = {QStringLiteral("alert"), {}, {}, {}, {}, {}, false};
    AXAttributeValue v;
    auto text = [&](uint64_t id, const char* name) {
        v = {};
        return platform::atspi::readAttribute(mirror, id, QString::fromLatin1(name), v) == AXError::Success
                   ? std::get<QString>(v)
                   : QStringLiteral("<none>");
    };
    EXPECT_EQ(text(0, "AXRole"), "AXApplication");
    EXPECT_EQ(text(0, "AXTitle"), "notification-daemon");
    ASSERT_EQ(platform::atspi::readAttribute(mirror, 0, QStringLiteral("AXWindows"), v), AXError::Success);
    EXPECT_EQ(std::get<AXElementList>(v), (AXElementList{AXElement(9, 1)}));
    // A window of the daemon is a popup: a group with a notification subrole.
    EXPECT_EQ(text(1, "AXRole"), "AXGroup");
    EXPECT_EQ(text(1, "AXSubrole"), "AXNotification");
    EXPECT_EQ(text(2, "AXRole"), "AXStaticText");
    EXPECT_EQ(text(2, "AXValue"), "Title");
    EXPECT_EQ(text(2, "AXDescription"), "d");
    EXPECT_EQ(text(2, "AXIdentifier"), "title-id");
    EXPECT_EQ(text(2, "AXSubrole"), "<none>");
    EXPECT_EQ(text(3, "AXSubrole"), "AXNotification");
    EXPECT_EQ(platform::atspi::readAttribute(mirror, 2, QStringLiteral("AXImage"), v), AXError::AttributeUnsupported);
    EXPECT_EQ(platform::atspi::readAttribute(mirror, 7, QStringLiteral("AXRole"), v), AXError::InvalidUIElement);
    EXPECT_EQ(platform::atspi::axRole(QStringLiteral("tree table")), "AXOutline");
    EXPECT_EQ(platform::atspi::axRole(QStringLiteral("scroll pane")), "AXScrollPane");

    platform::atspi::Mirror changed = mirror;
    EXPECT_TRUE(mirror.sameContent(changed));
    changed.nodes[2].text = QStringLiteral("Other");
    EXPECT_FALSE(mirror.sameContent(changed));
}

}  // namespace
