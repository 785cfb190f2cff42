#include "live_activities/brightness_services.h"
#include "support/fixtures.h"

#include <QTemporaryDir>

#include <string_view>
#include <vector>

namespace {

// Device announcements the test makes itself.
class FakeBacklightWatch final : public platform::BacklightWatch {
public:
    platform::AnyCancellable onChange(std::function<void()> changed) override {
        return changed_.subscribe([changed = std::move(changed)](const platform::Unit&) { changed(); });
    }
    void announce() const { changed_.send(); }
    size_t listeners() const { return changed_.subscriberCount(); }

private:
    platform::PassthroughSubject<platform::Unit> changed_;
};

// A sysfs tree of our own: one display backlight and one keyboard light.
class BrightnessTest : public testsupport::QuillvexTest {
protected:
    BrightnessTest() {
        display = root.path() + "/class/backlight/intel_backlight";
        keyboard = root.path() + "/class/leds/tpacpi::kbd_backlight";
        write(display, "max_brightness", "100");
        write(display, "brightness", "50");
        write(display, "type", "raw");
        write(keyboard, "max_brightness", "4");
        write(keyboard, "brightness", "3");
        subscriptions.insert(bus.displayBrightnessSubject.sink([this](const std::optional<BrightnessInfo>& info) {
            if (info) displayLevels.push_back(info->level);
        }));
        subscriptions.insert(bus.liveActivityEventSubject.sink([this](const std::optional<LiveActivityType>& type) {
            if (type) events.push_back(*type);
        }));
    }

    static void write(const QString& dir, const char* file, const QByteArray& text) {
        ASSERT_TRUE(testsupport::writeFile(dir + "/" + file, text + "\n"));
    }
    void setDisplay(int percent) { write(display, "brightness", QByteArray::number(percent)); }
    int count(LiveActivityType type) const { return static_cast<int>(std::count(events.begin(), events.end(), type)); }

    QTemporaryDir root;
    QString display;
    QString keyboard;
    EventBus bus{scheduler()};
    std::vector<float> displayLevels;
    std::vector<LiveActivityType> events;
    platform::CancellableSet subscriptions;
    FakeBacklightWatch watch;
};

}  // namespace

TEST_F(BrightnessTest, ARampPublishesEveryStepAndAsksAtItsStartAndWhenSettled) {
    platform::Backlights backlights(root.path());
    DisplayBrightnessService service(bus, scheduler(), backlights);
    service.start();
    EXPECT_TRUE(log.contains("DisplayBrightnessService: Started (brightness=50%)"));
    scheduler().advance(0.3);
    EXPECT_TRUE(displayLevels.empty());  // no change since start

    for (int percent = 55; percent <= 80; percent += 5) {
        setDisplay(percent);
        scheduler().advance(0.3);
    }
    EXPECT_EQ(displayLevels.size(), 6u);
    EXPECT_FLOAT_EQ(displayLevels.back(), 0.8f);
    EXPECT_EQ(count(LiveActivityType::displayBrightness), 1);
    EXPECT_EQ(log.matching("DisplayBrightnessService: Brightness=").size(), 1);
    EXPECT_TRUE(log.contains("DisplayBrightnessService: Brightness=55% (show)"));
    scheduler().advance(0.5);
    EXPECT_EQ(count(LiveActivityType::displayBrightness), 2);
    EXPECT_TRUE(log.contains("DisplayBrightnessService: Brightness=80% (final)"));

    setDisplay(90);  // one step: one event, no settle event
    scheduler().advance(2.0);
    EXPECT_EQ(count(LiveActivityType::displayBrightness), 3);
    EXPECT_EQ(log.matching("DisplayBrightnessService: Brightness=").size(), 3);
}

TEST_F(BrightnessTest, ReadingsNearTheEndsSnapAndSmallDriftWaits) {
    platform::Backlights backlights(root.path());
    DisplayBrightnessService service(bus, scheduler(), backlights);
    service.start();
    setDisplay(98);
    scheduler().advance(0.3);
    setDisplay(99);  // still 1.0
    scheduler().advance(0.3);
    setDisplay(2);
    scheduler().advance(0.3);
    ASSERT_EQ(displayLevels.size(), 2u);
    EXPECT_EQ(displayLevels[0], 1.0f);
    EXPECT_EQ(displayLevels[1], 0.0f);
    EXPECT_EQ(BrightnessService::snap(0.97f), 0.97f);
    EXPECT_EQ(BrightnessService::snap(0.03f), 0.03f);
    EXPECT_EQ(BrightnessService::snap(0.985f), 1.0f);

    // Drift counts against the last published level, not the last reading.
    setDisplay(50);
    scheduler().advance(0.3);
    for (int percent : {51, 52}) {
        setDisplay(percent);
        scheduler().advance(0.3);
    }
    EXPECT_EQ(displayLevels.size(), 3u);
    setDisplay(53);
    scheduler().advance(0.3);
    EXPECT_EQ(displayLevels.size(), 4u);
}

TEST_F(BrightnessTest, AFailedReadSkipsThePollInsteadOfShowingZero) {
    platform::Backlights backlights(root.path());
    DisplayBrightnessService service(bus, scheduler(), backlights);
    service.start();
    write(display, "brightness", "garbage");
    scheduler().advance(0.3);
    ASSERT_TRUE(QFile::remove(display + "/max_brightness"));
    scheduler().advance(0.3);
    EXPECT_TRUE(displayLevels.empty());
    EXPECT_TRUE(events.empty());
    write(display, "max_brightness", "100");
    setDisplay(70);
    scheduler().advance(0.3);
    ASSERT_EQ(displayLevels.size(), 1u);
    EXPECT_FLOAT_EQ(displayLevels[0], 0.7f);
}

TEST_F(BrightnessTest, StopCancelsTheSettleStepAndAlwaysLogs) {
    platform::Backlights backlights(root.path());
    DisplayBrightnessService service(bus, scheduler(), backlights);
    service.start();
    setDisplay(60);
    scheduler().advance(0.3);
    setDisplay(80);
    scheduler().advance(0.3);
    service.stop();
    setDisplay(20);
    // Started again at once: the settle step of the old run must not come through.
    service.start();
    scheduler().advance(3.0);
    EXPECT_EQ(count(LiveActivityType::displayBrightness), 1);
    EXPECT_EQ(displayLevels.size(), 2u);
    service.stop();
    service.stop();
    EXPECT_EQ(log.count("DisplayBrightnessService: Stopped"), 3);

    // A restart takes the level of its start as the new base.
    service.start();
    scheduler().advance(0.3);
    EXPECT_EQ(displayLevels.size(), 2u);
    EXPECT_TRUE(log.contains("DisplayBrightnessService: Started (brightness=20%)"));
}

TEST_F(BrightnessTest, WithoutABacklightTheDisplayServiceNeverStartsAndFirmwareOnesWin) {
    QTemporaryDir empty;
    platform::Backlights none(empty.path());
    DisplayBrightnessService service(bus, scheduler(), none);
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "DisplayBrightnessService: Failed to load DisplayServices framework"));
    service.start();
    service.start();
    EXPECT_FALSE(service.isRunning());
    EXPECT_EQ(log.count("DisplayBrightnessService: DisplayServices not available"), 2);

    ASSERT_TRUE(QDir().mkpath(empty.path() + "/class/backlight"));
    DisplayBrightnessService noDevice(bus, scheduler(), none);
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning,
                             "DisplayBrightnessService: DisplayServicesGetBrightness symbol not found"));
    EXPECT_FALSE(noDevice.isAvailable());

    // With several, firmware backlights win over raw ones.
    const QString firmware = root.path() + "/class/backlight/acpi_video0";
    write(firmware, "max_brightness", "10");
    write(firmware, "brightness", "10");
    write(firmware, "type", "firmware");
    const auto lookup = platform::Backlights(root.path()).findDisplay();
    EXPECT_EQ(lookup.result, platform::Backlights::DisplayLookup::Result::found);
    EXPECT_EQ(lookup.devicePath, firmware);
}

TEST_F(BrightnessTest, KeyboardLevelIsItsShareOfTheMaximum) {
    platform::Backlights backlights(root.path());
    std::vector<float> levels;
    subscriptions.insert(bus.keyboardBrightnessSubject.sink([&](const std::optional<BrightnessInfo>& info) {
        if (info) levels.push_back(info->level);
    }));
    KeyboardBrightnessService service(bus, scheduler(), backlights, watch);
    service.start();
    EXPECT_TRUE(log.contains("KeyboardBrightnessService: Started (brightness=75%)"));
    EXPECT_EQ(service.lastBrightness(), 0.75f);

    write(keyboard, "max_brightness", "0");  // no range: off
    scheduler().advance(0.3);
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0], 0.0f);
    EXPECT_EQ(count(LiveActivityType::keyboardBrightness), 1);
    EXPECT_TRUE(log.contains("KeyboardBrightnessService: Brightness=0% (show)"));

    write(keyboard, "max_brightness", "4");
    write(keyboard, "brightness", "4");
    scheduler().advance(0.3);
    ASSERT_TRUE(QDir(keyboard).removeRecursively());  // the keyboard went away: off
    scheduler().advance(0.3);
    EXPECT_EQ(levels, (std::vector<float>{0.0f, 1.0f, 0.0f}));
    EXPECT_FALSE(service.isPolling());  // nothing left to read: it waits for a keyboard
    service.stop();
    EXPECT_TRUE(log.contains("KeyboardBrightnessService: Stopped"));
    EXPECT_EQ(watch.listeners(), 0u);
}

TEST_F(BrightnessTest, WithoutAKeyboardLightNothingIsPolledUntilOneComesThenPollsKeepTheirGrid) {
    ASSERT_TRUE(QDir(keyboard).removeRecursively());
    platform::Backlights backlights(root.path());
    std::vector<std::pair<double, float>> levels;
    subscriptions.insert(bus.keyboardBrightnessSubject.sink([&](const std::optional<BrightnessInfo>& info) {
        if (info) levels.emplace_back(scheduler().elapsed(), info->level);
    }));
    KeyboardBrightnessService service(bus, scheduler(), backlights, watch);
    service.start();  // polls would fall at 0.3, 0.6, ...
    EXPECT_TRUE(log.contains("KeyboardBrightnessService: Started (brightness=0%)"));
    EXPECT_TRUE(service.isRunning());
    EXPECT_FALSE(service.isPolling());
    EXPECT_EQ(scheduler().pendingCount(), 0u);

    // A light that comes unannounced is not seen: nothing polls.
    write(keyboard, "max_brightness", "4");
    write(keyboard, "brightness", "2");
    scheduler().advance(1.0);
    EXPECT_TRUE(levels.empty());

    // Announced at 1.0, it is read at the next point of the grid, 1.2.
    watch.announce();
    EXPECT_TRUE(service.isPolling());
    EXPECT_EQ(watch.listeners(), 0u);
    scheduler().advance(0.25);
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_NEAR(levels[0].first, 1.2, 1e-6);
    EXPECT_EQ(levels[0].second, 0.5f);
    EXPECT_TRUE(log.contains("KeyboardBrightnessService: Brightness=50% (show)"));

    // Another light class device that is no keyboard light: one poll, then waiting again.
    ASSERT_TRUE(QDir(keyboard).removeRecursively());
    scheduler().advance(0.3);
    EXPECT_FALSE(service.isPolling());
    EXPECT_EQ(levels.back().second, 0.0f);
    watch.announce();
    scheduler().advance(0.3);
    EXPECT_FALSE(service.isPolling());
    EXPECT_EQ(levels.size(), 2u);

    // Stopped while waiting: an announcement starts nothing.
    service.stop();
    watch.announce();
    EXPECT_FALSE(service.isPolling());
}

TEST(BacklightWatch, ReadsWhetherAKernelAnnouncementAddsOrRemovesALight) {
    auto concerns = [](std::string_view message) {
        return platform::KernelBacklightWatch::concernsBacklight(message.data(), message.size());
    };
    using namespace std::string_view_literals;
    EXPECT_TRUE(concerns("add@/devices/platform/thinkpad_acpi/leds/tpacpi::kbd_backlight\0ACTION=add\0"
                         "DEVPATH=/devices/platform/thinkpad_acpi/leds/tpacpi::kbd_backlight\0SUBSYSTEM=leds\0SEQNUM=4711"sv));
    EXPECT_TRUE(concerns("remove@/devices/pci0000:00/backlight/intel_backlight\0ACTION=remove\0SUBSYSTEM=backlight"sv));
    EXPECT_FALSE(concerns("change@/devices/platform/thinkpad_acpi/leds/tpacpi::kbd_backlight\0ACTION=change\0SUBSYSTEM=leds"sv));
    EXPECT_FALSE(concerns("add@/devices/pci0000:00/usb1/1-1\0ACTION=add\0SUBSYSTEM=usb\0DEVTYPE=usb_device"sv));
    // A field that only starts like the subsystem, and a message without a header.
    EXPECT_FALSE(concerns("add@/devices/x\0ACTION=add\0SUBSYSTEM=ledsx"sv));
    EXPECT_FALSE(concerns("libudev\0SUBSYSTEM=leds"sv));
}
