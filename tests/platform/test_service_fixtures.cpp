// The service fixtures start what they promise, and leave no process behind.

#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <signal.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::DBusMock;
using testsupport::PrivateBus;

namespace {

bool alive(pid_t pid) { return ::kill(pid, 0) == 0; }

TEST(ServiceFixtures, BusesAndMocksAnswerAndStopWithNothingLeft) {
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    QString error;
    auto session = PrivateBus::start(PrivateBus::Kind::session, &error);
    ASSERT_TRUE(session) << error.toStdString();
    auto system = PrivateBus::start(PrivateBus::Kind::system, &error);
    ASSERT_TRUE(system) << error.toStdString();
    EXPECT_NE(session->address(), system->address());
    std::vector<pid_t> pids{session->pid(), system->pid()};
    {
        auto upower = DBusMock::startTemplate(*system, QStringLiteral("upower"), QStringLiteral("org.freedesktop.UPower"),
                                              QStringLiteral("/org/freedesktop/UPower"),
                                              R"({"OnBattery": true, "DaemonVersion": "0.99.20"})", &error);
        ASSERT_TRUE(upower) << error.toStdString();
        EXPECT_TRUE(system->connection()
                        .property(upower->busName(), upower->objectPath(), QStringLiteral("org.freedesktop.UPower"),
                                  QStringLiteral("OnBattery"), 2s)
                        .value()
                        .toBool());
        auto logind = DBusMock::startTemplate(*system, QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1"),
                                              QStringLiteral("/org/freedesktop/login1"), {}, &error);
        ASSERT_TRUE(logind) << error.toStdString();
        auto bluez = DBusMock::startTemplate(*system, QStringLiteral("bluez5"), QStringLiteral("org.bluez"),
                                             QStringLiteral("/org/bluez"), {}, &error);
        ASSERT_TRUE(bluez) << error.toStdString();
        EXPECT_TRUE(bluez->call(QStringLiteral("AddAdapter"), {QStringLiteral("hci0"), QStringLiteral("host")},
                                QStringLiteral("org.bluez.Mock"))
                        .ok());
        auto gnome = DBusMock::startTemplate(*session, QStringLiteral("gnome_screensaver"),
                                             QStringLiteral("org.gnome.ScreenSaver"),
                                             QStringLiteral("/org/gnome/ScreenSaver"), {}, &error);
        ASSERT_TRUE(gnome) << error.toStdString();

        auto saver = DBusMock::startScreenSaver(*session, &error);
        ASSERT_TRUE(saver) << error.toStdString();
        std::optional<bool> active;
        auto subscription = session->connection().subscribe(
            {saver->busName(), {}, QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("ActiveChanged"), {}},
            [&](const platform::DBusSignal& s) { active = s.arguments.value(0).toBool(); });
        EXPECT_TRUE(saver->call(QStringLiteral("Lock"), {}, QStringLiteral("org.freedesktop.ScreenSaver")).ok());
        EXPECT_TRUE(saver->call(QStringLiteral("GetActive"), {}, QStringLiteral("org.freedesktop.ScreenSaver"))
                        .value()
                        .toBool());
        for (int i = 0; i < 200 && !active; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(active, true);

        auto player = DBusMock::startMprisPlayer(*session, QStringLiteral("mock"),
                                                 {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")}}, &error);
        ASSERT_TRUE(player) << error.toStdString();
        EXPECT_EQ(session->connection()
                      .property(player->busName(), player->objectPath(), QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                QStringLiteral("PlaybackStatus"), 2s)
                      .value()
                      .toString(),
                  "Playing");
        EXPECT_TRUE(player->call(QStringLiteral("Next"), {}, QStringLiteral("org.mpris.MediaPlayer2.Player")).ok());
        EXPECT_TRUE(player->calledMethods().contains("Next"));

        for (auto* mock : {upower.get(), logind.get(), bluez.get(), gnome.get(), saver.get(), player.get()})
            pids.push_back(mock->pid());
    }
    session.reset();
    system.reset();
    for (pid_t pid : pids) EXPECT_FALSE(alive(pid)) << pid;
}

TEST(ServiceFixtures, PulseAudioAndXvfbComeUpPrivatelyAndStop) {
    QString error;
    testsupport::ScopedServiceHome home;
    EXPECT_EQ(qgetenv("HOME"), home.path().toLocal8Bit());
    pid_t pulsePid = 0;
    pid_t xPid = 0;
    {
        auto pulse = testsupport::PrivatePulseAudio::start({QStringLiteral("quill_a"), QStringLiteral("quill_b")}, &error);
        if (!pulse) QUILLVEX_SERVICE_MISSING(error.toStdString());
        QString info;
        ASSERT_TRUE(pulse->pactl({QStringLiteral("info")}, &info));
        EXPECT_TRUE(info.contains(QStringLiteral("Default Sink: quill_a"))) << info.toStdString();
        pulsePid = pulse->pid();

        auto x = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &error);
        ASSERT_TRUE(x) << error.toStdString();
        EXPECT_TRUE(x->display().startsWith(u':'));
        xPid = x->pid();
    }
    EXPECT_FALSE(alive(pulsePid));
    EXPECT_FALSE(alive(xPid));
}

TEST(ServiceFixtures, ToolsThatHangAreKilledAtTheirLimit) {
    QString output;
    EXPECT_EQ(testsupport::runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo hi; exit 3")}, &output),
              3);
    EXPECT_EQ(output.trimmed(), "hi");
    EXPECT_EQ(testsupport::runTool(QStringLiteral("sleep"), {QStringLiteral("10")}, nullptr, 50ms), -1);
    EXPECT_EQ(testsupport::runTool(QStringLiteral("no-such-program-here"), {}), -1);
}

// Tests run side by side: a picture or folder under a fixed name in the shared temporary folder is
// overwritten by another run. Pictures go through testsupport::keep instead.
TEST(TestHermeticity, NoTestWritesUnderAFixedNameInTheSharedTemporaryFolder) {
    const QRegularExpression fixedWrite(QStringLiteral(R"((save|mkpath|screenshot)\(.*"/tmp/)"));
    QStringList offenders;
    QDirIterator files(QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR "/.."), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                       QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        const QString text = QString::fromUtf8(file.read(1 << 20));
        if (fixedWrite.match(text).hasMatch()) offenders << file.fileName();
    }
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join(QLatin1Char(' ')).toStdString();
}

}  // namespace
