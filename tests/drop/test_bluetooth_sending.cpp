// Sending dropped files over Bluetooth: the drop service's sharing road against obexd (its
// Object Push API, from python3-dbusmock with the Object Push extension) on a private session
// bus, and BlueZ (the bluez5 template) on a private system bus.

#include "drop/bluetooth_device_chooser.h"
#include "drop/drop_service.h"
#include "platform/sharing/obex_sharing_services.h"

#include "live_activities/live_test_helpers.h"
#include "support/fake_folder_chooser.h"
#include "support/fake_process.h"
#include "support/fixtures.h"
#include "support/golden_image.h"
#include "support/service_fixtures.h"

#include <QApplication>
#include <QDBusVariant>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

using platform::LogLevel;
using platform::NearbyDevice;
using testsupport::DBusMock;
using testsupport::PrivateBus;

namespace {

const QString kPhone = QStringLiteral("AA:BB:CC:DD:EE:01");
const QString kHeadset = QStringLiteral("AA:BB:CC:DD:EE:02");
const QString kMock = QStringLiteral("org.bluez.Mock");

// Offers what it is given to the test, which answers when it likes.
class FakeNearbyDeviceChooser final : public platform::NearbyDeviceChooser {
public:
    std::vector<NearbyDevice> offered;
    int fileCount = -1;
    Done pending;

    void choose(const std::vector<NearbyDevice>& devices, int count, Done done) override {
        offered = devices;
        fileCount = count;
        pending = std::move(done);
    }
    void answer(std::optional<QString> address) { std::exchange(pending, nullptr)(std::move(address)); }
};

class BluetoothSendingTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::dbusmockAvailable()) return;
        sessionBus = PrivateBus::start(PrivateBus::Kind::session, &setUpError).release();
        systemBus = PrivateBus::start(PrivateBus::Kind::system, &setUpError).release();
        if (!sessionBus || !systemBus) return;
        obexd = DBusMock::startTemplate(*sessionBus, QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR "/obex_opp_template.py"),
                                        QStringLiteral("org.bluez.obex"), QStringLiteral("/"), {}, &setUpError)
                    .release();
        bluez = DBusMock::startTemplate(*systemBus, QStringLiteral("bluez5"), QStringLiteral("org.bluez"), QStringLiteral("/"),
                                        {}, &setUpError)
                    .release();
        if (!obexd || !bluez) return;
        // A phone (Object Push among its profiles) and a headset (audio only), both paired.
        const bool made =
            bluez->call(QStringLiteral("AddAdapter"), {QStringLiteral("hci0"), QStringLiteral("quill-host")}, kMock, QStringLiteral("/org/bluez")).ok() &&
            pair(kPhone, QStringLiteral("Quill Phone")) && pair(kHeadset, QStringLiteral("Quill Buds")) &&
            bluez->call(QStringLiteral("Set"),
                        {QStringLiteral("org.bluez.Device1"), QStringLiteral("UUIDs"),
                         QVariant::fromValue(QDBusVariant(QStringList{QStringLiteral("0000110b-0000-1000-8000-00805f9b34fb")}))},
                        QStringLiteral("org.freedesktop.DBus.Properties"), devicePath(kHeadset))
                .ok();
        if (!made) setUpError = QStringLiteral("the bluez5 mock did not take the adapter and devices");
        else ready = true;
    }
    static void TearDownTestSuite() {
        delete obexd;
        delete bluez;
        delete sessionBus;
        delete systemBus;
        obexd = nullptr;
        bluez = nullptr;
        sessionBus = systemBus = nullptr;
    }
    void SetUp() override {
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        ASSERT_TRUE(ready) << "the mocks did not come up: " << setUpError.toStdString();
        ASSERT_TRUE(setPowered(true));
    }

    static QString devicePath(const QString& address) {
        return QStringLiteral("/org/bluez/hci0/dev_") + QString(address).replace(QLatin1Char(':'), QLatin1Char('_'));
    }
    static bool pair(const QString& address, const QString& name) {
        return bluez->call(QStringLiteral("AddDevice"), {QStringLiteral("hci0"), address, name}, kMock, QStringLiteral("/org/bluez")).ok() &&
               bluez->call(QStringLiteral("PairDevice"), {QStringLiteral("hci0"), address, 0x5a020cu}, kMock, QStringLiteral("/org/bluez")).ok();
    }
    static bool setPowered(bool on) {
        return bluez->setProperty(QStringLiteral("org.bluez.Adapter1"), QStringLiteral("Powered"), on, QStringLiteral("/org/bluez/hci0"));
    }
    // The path of every SendFile call so far, in call order.
    static QStringList sentFiles() {
        return obexd->call(QStringLiteral("SentFiles"), {}, QStringLiteral("org.bluez.obex.Mock"), QStringLiteral("/org/bluez/obex"))
            .value()
            .toStringList();
    }

    QString file(const QString& name, const QByteArray& bytes = "data") {
        const QString path = temp.path() + QLatin1Char('/') + name;
        testsupport::writeFile(path, bytes);
        return path;
    }

    platform::ObexSharingServices sharingOn(platform::DBusConnection& session, platform::DBusConnection& system,
                                            QStringList desktopSenders = {}) {
        platform::ObexSharingConfig config;
        config.desktopSenders = std::move(desktopSenders);
        return platform::ObexSharingServices(session, system, launcher, &devices, &scheduler(), config);
    }

    static inline PrivateBus* sessionBus = nullptr;
    static inline PrivateBus* systemBus = nullptr;
    static inline DBusMock* obexd = nullptr;
    static inline DBusMock* bluez = nullptr;
    static inline bool ready = false;
    static inline QString setUpError;

    QTemporaryDir temp;
    testsupport::FakeProcessLauncher launcher;
    FakeNearbyDeviceChooser devices;
    testsupport::FakeFolderChooser folders;
    FileConverterService converter{launcher, scheduler()};
};

TEST_F(BluetoothSendingTest, TwoDroppedFilesGoToTheChosenPhoneOneAfterTheOther) {
    auto sharing = sharingOn(sessionBus->connection(), systemBus->connection());
    DropService service(converter, sharing, folders, scheduler());
    const QString a = file(QStringLiteral("a.txt")), b = file(QStringLiteral("b photo.jpg"), "jpeg bytes");
    const qsizetype sentBefore = sentFiles().size();
    service.perform(DropAction::airdrop, {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("[DropService] AirDrop initiated for 2 file(s)")));

    // Only the device that takes pushed files is offered.
    EXPECT_EQ(devices.offered, (std::vector<NearbyDevice>{{QStringLiteral("Quill Phone"), kPhone}}));
    EXPECT_EQ(devices.fileCount, 2);
    EXPECT_TRUE(launcher.children().empty());
    devices.answer(kPhone);
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return sharing.sendsInProgress() == 0; }));

    EXPECT_EQ(log.matching(QStringLiteral("ObjectPush: ")),
              (QStringList{QStringLiteral("ObjectPush: Sent a.txt to ") + kPhone, QStringLiteral("ObjectPush: Sent b photo.jpg to ") + kPhone}));
    EXPECT_EQ(sentFiles().mid(sentBefore), (QStringList{a, b}));
    const QStringList clientCalls = obexd->calledMethods(QStringLiteral("/org/bluez/obex"));
    EXPECT_EQ(clientCalls.count(QStringLiteral("CreateSession")), 1);
    EXPECT_EQ(clientCalls.count(QStringLiteral("RemoveSession")), 1);
}

TEST_F(BluetoothSendingTest, AFileThatCannotBeSentFailsAloneAndACancelledChoiceSendsNothing) {
    auto sharing = sharingOn(sessionBus->connection(), systemBus->connection());
    DropService service(converter, sharing, folders, scheduler());
    ASSERT_TRUE(obexd->clearCalls(QStringLiteral("/org/bluez/obex")));
    const QString gone = temp.path() + QStringLiteral("/gone.txt"), kept = file(QStringLiteral("kept.txt"));
    service.perform(DropAction::airdrop, {QUrl::fromLocalFile(gone), QUrl::fromLocalFile(kept)});
    devices.answer(kPhone);
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return sharing.sendsInProgress() == 0; }));
    const QStringList lines = log.matching(QStringLiteral("ObjectPush: "));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("ObjectPush: Could not send gone.txt to ") + kPhone + QStringLiteral(": ")));
    EXPECT_TRUE(log.contains(LogLevel::Error, lines[0]));
    EXPECT_EQ(lines[1], QStringLiteral("ObjectPush: Sent kept.txt to ") + kPhone);
    EXPECT_TRUE(obexd->calledMethods(QStringLiteral("/org/bluez/obex")).contains(QStringLiteral("RemoveSession")));

    // Cancelled, or answered with a device it was not offered: nothing is sent.
    ASSERT_TRUE(obexd->clearCalls(QStringLiteral("/org/bluez/obex")));
    service.perform(DropAction::airdrop, {QUrl::fromLocalFile(kept)});
    devices.answer(std::nullopt);
    service.perform(DropAction::airdrop, {QUrl::fromLocalFile(kept)});
    devices.answer(kHeadset);
    testsupport::pumpUntil(scheduler(), [] { return false; }, 200);
    EXPECT_EQ(sharing.sendsInProgress(), 0);
    EXPECT_TRUE(obexd->calledMethods(QStringLiteral("/org/bluez/obex")).isEmpty());

    // Only local files can be pushed.
    service.perform(DropAction::airdrop, {QUrl(QStringLiteral("https://example.org/a.txt"))});
    service.perform(DropAction::airdrop, {});
    EXPECT_EQ(log.count(QStringLiteral("[DropService] AirDrop cannot perform with given items")), 2);
}

TEST_F(BluetoothSendingTest, WithoutAPoweredAdapterOrObexdTheServiceIsUnavailable) {
    auto unavailable = [&](platform::ObexSharingServices& sharing) {
        log.clear();
        DropService service(converter, sharing, folders, scheduler());
        service.perform(DropAction::airdrop, {QUrl::fromLocalFile(file(QStringLiteral("a.txt")))});
        return log.contains(LogLevel::Error, QStringLiteral("[DropService] AirDrop service unavailable"));
    };
    ASSERT_TRUE(setPowered(false));
    auto sharing = sharingOn(sessionBus->connection(), systemBus->connection());
    EXPECT_TRUE(unavailable(sharing));
    ASSERT_TRUE(setPowered(true));
    EXPECT_FALSE(unavailable(sharing));

    // No Bluetooth service at all, no adapter, no obexd, no bus.
    QString error;
    auto emptySystem = PrivateBus::start(PrivateBus::Kind::system, &error);
    auto emptySession = PrivateBus::start(PrivateBus::Kind::session, &error);
    ASSERT_TRUE(emptySystem && emptySession) << error.toStdString();
    auto noBlueZ = sharingOn(sessionBus->connection(), emptySystem->connection());
    EXPECT_TRUE(unavailable(noBlueZ));
    auto noAdapterBus = PrivateBus::start(PrivateBus::Kind::system, &error);
    ASSERT_TRUE(noAdapterBus) << error.toStdString();
    auto adapterless = DBusMock::startTemplate(*noAdapterBus, QStringLiteral("bluez5"), QStringLiteral("org.bluez"),
                                               QStringLiteral("/"), {}, &error);
    ASSERT_TRUE(adapterless) << error.toStdString();
    auto noAdapter = sharingOn(sessionBus->connection(), noAdapterBus->connection());
    EXPECT_TRUE(unavailable(noAdapter));
    auto noObexd = sharingOn(emptySession->connection(), systemBus->connection());
    EXPECT_TRUE(unavailable(noObexd));
    platform::QtDBusConnection nowhere(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("obex-nowhere"));
    auto noBus = sharingOn(nowhere, nowhere);
    EXPECT_TRUE(unavailable(noBus));
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("[DropService] Performing action: airdrop on 1 file(s)")));
}

TEST_F(BluetoothSendingTest, TheDesktopsSendToolTakesTheFilesAndIsReapedWhenItEnds) {
    const QString tool = file(QStringLiteral("bin/bluetooth-sendto"), "#!/bin/sh\n");
    ASSERT_TRUE(QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner));
    auto sharing = sharingOn(sessionBus->connection(), systemBus->connection(),
                             {temp.path() + QStringLiteral("/bin/missing-sendto"), tool});
    DropService service(converter, sharing, folders, scheduler());
    const QString a = file(QStringLiteral("a.txt")), b = file(QStringLiteral("b.txt"));
    service.perform(DropAction::airdrop, {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("[DropService] AirDrop initiated for 2 file(s)")));
    EXPECT_FALSE(devices.pending);  // the tool asks the user itself
    ASSERT_EQ(launcher.children().size(), 1u);
    const auto child = launcher.lastChild();
    EXPECT_EQ(child->spec.program, tool);
    EXPECT_EQ(child->spec.arguments, (QStringList{a, b}));
    EXPECT_TRUE(child->inputClosed());

    scheduler().advance(10.0);
    EXPECT_EQ(sharing.sendsInProgress(), 1);
    EXPECT_FALSE(child->released());
    child->exit(0);
    scheduler().advance(platform::ObexSharingConfig().toolPollInterval);
    EXPECT_TRUE(child->released());
    EXPECT_EQ(sharing.sendsInProgress(), 0);

    launcher.failStart(tool, QStringLiteral("Permission denied"));
    service.perform(DropAction::airdrop, {QUrl::fromLocalFile(a)});
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("ObjectPush: Could not start ") + tool + QStringLiteral(": Permission denied")));
}

// What BlueZ's objects say about the radio and the devices worth offering.
TEST(ObexSharingRadio, APoweredAdapterAndThePairedDevicesThatTakePushedFiles) {
    auto device = [](const QString& address, const QVariantMap& extra) {
        QVariantMap properties{{QStringLiteral("Address"), address}, {QStringLiteral("Paired"), true},
                               {QStringLiteral("UUIDs"), QStringList{QStringLiteral("00001105-0000-1000-8000-00805F9B34FB")}}};
        for (auto it = extra.begin(); it != extra.end(); ++it) properties.insert(it.key(), *it);
        return QVariant(QVariantMap{{QStringLiteral("org.bluez.Device1"), properties}});
    };
    const QVariantMap objects{
        {QStringLiteral("/org/bluez/hci0"), QVariantMap{{QStringLiteral("org.bluez.Adapter1"), QVariantMap{{QStringLiteral("Powered"), false}}}}},
        {QStringLiteral("/org/bluez/hci1"), QVariantMap{{QStringLiteral("org.bluez.Adapter1"), QVariantMap{{QStringLiteral("Powered"), true}}}}},
        {QStringLiteral("/d1"), device(QStringLiteral("01"), {{QStringLiteral("Alias"), QStringLiteral("Zed's phone")}, {QStringLiteral("Name"), QStringLiteral("Pixel")}})},
        {QStringLiteral("/d2"), device(QStringLiteral("02"), {{QStringLiteral("Name"), QStringLiteral("Alpha tablet")}})},
        {QStringLiteral("/d3"), device(QStringLiteral("03"), {})},
        {QStringLiteral("/d4"), device(QStringLiteral("04"), {{QStringLiteral("Paired"), false}})},
        {QStringLiteral("/d5"), device(QStringLiteral("05"), {{QStringLiteral("UUIDs"), QStringList{QStringLiteral("0000110b-0000-1000-8000-00805f9b34fb")}}})},
        {QStringLiteral("/d6"), device(QString(), {{QStringLiteral("Name"), QStringLiteral("No address")}})},
    };
    const auto radio = platform::ObexSharingServices::radioFrom(objects);
    EXPECT_TRUE(radio.powered);
    EXPECT_EQ(radio.devices, (std::vector<NearbyDevice>{{QStringLiteral("03"), QStringLiteral("03")},
                                                        {QStringLiteral("Alpha tablet"), QStringLiteral("02")},
                                                        {QStringLiteral("Zed's phone"), QStringLiteral("01")}}));
    EXPECT_FALSE(platform::ObexSharingServices::radioFrom(QVariantMap{{objects.firstKey(), objects.first()}}).powered);
}

// The chooser the application shows where the desktop has no send tool.
class BluetoothDeviceDialogTest : public testsupport::QuillvexTest {
protected:
    static QStringList rows(const BluetoothDeviceDialog& dialog) {
        QStringList texts;
        for (int i = 0; i < dialog.deviceList()->count(); ++i) texts << dialog.deviceList()->item(i)->text();
        return texts;
    }
    static QAbstractButton* button(const BluetoothDeviceDialog& dialog, const QString& text) {
        for (QAbstractButton* button : dialog.buttons()->buttons())
            if (button->text() == text) return button;
        return nullptr;
    }
    static QStringList buttonTexts(const BluetoothDeviceDialog& dialog) {
        QStringList texts;
        for (QAbstractButton* button : dialog.buttons()->buttons()) texts << button->text();
        return texts;
    }
    const std::vector<NearbyDevice> devices{{QStringLiteral("Pixel"), QStringLiteral("AA:00:00:00:00:01")},
                                            {QStringLiteral("Pixel"), QStringLiteral("AA:00:00:00:00:02")},
                                            {QStringLiteral("Quill Tablet"), QStringLiteral("AA:00:00:00:00:03")}};
};

TEST_F(BluetoothDeviceDialogTest, OffersEveryDeviceAndAnswersOnceWithTheChosenOne) {
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("en"));
    BluetoothDeviceDialog dialog(devices, 2);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Send with Bluetooth"));
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QStringLiteral("Send 2 files to:"));
    // Devices of one name are told apart by their addresses.
    EXPECT_EQ(rows(dialog), (QStringList{QStringLiteral("Pixel (AA:00:00:00:00:01)"), QStringLiteral("Pixel (AA:00:00:00:00:02)"),
                                         QStringLiteral("Quill Tablet")}));
    EXPECT_EQ(buttonTexts(dialog).size(), 2);
    ASSERT_TRUE(button(dialog, QStringLiteral("Send")) && button(dialog, QStringLiteral("Cancel")));
    EXPECT_TRUE(button(dialog, QStringLiteral("Send"))->isEnabled());
    EXPECT_EQ(dialog.selectedAddress(), QStringLiteral("AA:00:00:00:00:01"));
    dialog.deviceList()->setCurrentRow(2);
    EXPECT_EQ(dialog.selectedAddress(), QStringLiteral("AA:00:00:00:00:03"));
    EXPECT_GOLDEN(QStringLiteral("device-chooser-en"), dialog);

    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("ja"));
    BluetoothDeviceDialog japanese({devices[2]}, 1);
    EXPECT_EQ(japanese.windowTitle(), QStringLiteral("Bluetoothで送信"));
    EXPECT_EQ(japanese.findChild<QLabel*>()->text(), QStringLiteral("1個のファイルの送信先:"));
    EXPECT_TRUE(button(japanese, QStringLiteral("送信")) && button(japanese, QStringLiteral("キャンセル")));
    EXPECT_GOLDEN(QStringLiteral("device-chooser-ja"), japanese);
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("en"));
    EXPECT_EQ(BluetoothDeviceDialog({devices[2]}, 1).findChild<QLabel*>()->text(), QStringLiteral("Send 1 file to:"));

    // The chooser's window answers once: the chosen address, or none when it is cancelled or closed.
    BluetoothDeviceChooser chooser;
    std::vector<std::optional<QString>> answers;
    for (int round = 0; round < 3; ++round) {
        chooser.choose(devices, 1, [&](std::optional<QString> address) { answers.push_back(address); });
        QApplication::processEvents();
        BluetoothDeviceDialog* shown = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* candidate = qobject_cast<BluetoothDeviceDialog*>(widget); candidate && candidate->isVisible()) shown = candidate;
        ASSERT_TRUE(shown);
        EXPECT_FALSE(shown->isModal());
        if (round == 0) {
            shown->deviceList()->setCurrentRow(1);
            button(*shown, QStringLiteral("Send"))->click();
        } else if (round == 1) {
            button(*shown, QStringLiteral("Cancel"))->click();
        } else {
            shown->close();
        }
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(answers, (std::vector<std::optional<QString>>{QStringLiteral("AA:00:00:00:00:02"), std::nullopt, std::nullopt}));
}

}  // namespace
