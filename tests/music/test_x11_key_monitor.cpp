// The X11 key monitor: the modifier bookkeeping on its own, no display, and a private Xvfb where
// XTest presses keys: Super+Right skips through the hotkey service while the focused window still
// receives the key, other modifiers stop it, Num Lock does not.

#include "fake_helper.h"
#include "music/global_hotkey_service.h"
#include "music/media_remote_service.h"
#include "platform/input_monitor/x11_global_key_monitor.h"
#include "platform/input_monitor/x11_key_state.h"
#include "scripted_players.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

using platform::KeyEvent;
using platform::LogLevel;
using platform::X11KeyState;

namespace {

constexpr uint32_t XK_Left = 0xff51, XK_Right = 0xff53, XK_Control_L = 0xffe3, XK_Control_R = 0xffe4, XK_Shift_L = 0xffe1,
                   XK_Super_L = 0xffeb, XK_Alt_L = 0xffe9, XK_Num_Lock = 0xff7f, XK_Caps_Lock = 0xffe5, XK_a = 0x61;
constexpr uint32_t kArrowFlags = platform::modifierNumericPad | platform::modifierFunction;

X11KeyState keyState() {
    X11KeyState state;
    uint8_t keycode = 10;
    for (uint32_t sym : {XK_Left, XK_Right, XK_Control_L, XK_Control_R, XK_Shift_L, XK_Super_L, XK_Alt_L, XK_Num_Lock,
                         XK_Caps_Lock, XK_a}) {
        state.setKeysym(keycode++, sym);
    }
    return state;
}
uint8_t code(uint32_t sym) {
    const X11KeyState state = keyState();
    for (int k = 0; k < 256; ++k) {
        if (state.keysym(static_cast<uint8_t>(k)) == sym) return static_cast<uint8_t>(k);
    }
    return 0;
}

}  // namespace

TEST(X11KeyState, MapsTheDesktopsModifiersAndIgnoresLocks) {
    X11KeyState state = keyState();
    EXPECT_FALSE(state.press(code(XK_Super_L)));  // a modifier alone is no key-down
    auto right = state.press(code(XK_Right));
    ASSERT_TRUE(right);
    EXPECT_EQ(right->keyCode, platform::keyCodeRightArrow);
    EXPECT_EQ(right->modifierFlags, platform::modifierCommand | kArrowFlags);

    state.press(code(XK_Num_Lock));
    state.release(code(XK_Num_Lock));
    state.press(code(XK_Caps_Lock));
    EXPECT_EQ(state.press(code(XK_Left))->modifierFlags, platform::modifierCommand | kArrowFlags);
    EXPECT_EQ(state.press(code(XK_Left))->keyCode, platform::keyCodeLeftArrow);

    state.press(code(XK_Control_L));
    state.press(code(XK_Alt_L));
    state.press(code(XK_Shift_L));
    EXPECT_EQ(state.modifierFlags(), platform::modifierCommand | platform::modifierControl | platform::modifierOption |
                                         platform::modifierShift);

    // Releasing one of two Ctrl keys keeps Control held.
    state.releaseAll();
    state.press(code(XK_Control_L));
    state.press(code(XK_Control_R));
    state.release(code(XK_Control_L));
    EXPECT_EQ(state.modifierFlags(), platform::modifierControl);
    state.release(code(XK_Control_R));
    auto plain = state.press(code(XK_a));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->keyCode, platform::keyCodeUnknown);
    EXPECT_EQ(plain->modifierFlags, 0u);
}

TEST(X11GlobalKeyMonitor, WithoutADisplayThereIsNoMonitor) {
    testsupport::ScopedEnvironment env;
    env.unset("DISPLAY");
    platform::X11GlobalKeyMonitor monitor;
    EXPECT_FALSE(monitor.addKeyDownMonitor([](const KeyEvent&) {}));
    EXPECT_FALSE(monitor.isConnected());

    platform::X11GlobalKeyMonitor unreachable(QByteArrayLiteral(":4093"));
    EXPECT_FALSE(unreachable.addKeyDownMonitor([](const KeyEvent&) {}));
}

namespace {

// Presses keys through XTest, as a keyboard would, and owns a focused window that must still get them.
class XKeyboard {
public:
    explicit XKeyboard(const QByteArray& display) : c_(xcb_connect(display.constData(), nullptr)) {
        const xcb_setup_t* setup = xcb_get_setup(c_);
        root_ = xcb_setup_roots_iterator(setup).data->root;
        auto* mapping = xcb_get_keyboard_mapping_reply(
            c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1)),
            nullptr);
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        for (int i = 0; i < count; ++i) {
            const xcb_keysym_t sym = syms[i * mapping->keysyms_per_keycode];
            if (sym && !keycodes_.count(sym)) keycodes_[sym] = static_cast<uint8_t>(setup->min_keycode + i);
        }
        std::free(mapping);

        window_ = xcb_generate_id(c_);
        const uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, root_, 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        xcb_map_window(c_, window_);
        sync();
        xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
        sync();
    }
    ~XKeyboard() { xcb_disconnect(c_); }

    bool hasKeys(std::initializer_list<uint32_t> syms) const {
        for (uint32_t s : syms) {
            if (!keycodes_.count(s)) return false;
        }
        return true;
    }
    // Holds the modifiers, taps the key, lets go in reverse order.
    void chord(std::initializer_list<uint32_t> modifiers, uint32_t key) {
        for (uint32_t m : modifiers) send(XCB_KEY_PRESS, m);
        send(XCB_KEY_PRESS, key);
        send(XCB_KEY_RELEASE, key);
        for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) send(XCB_KEY_RELEASE, *it);
        sync();
    }
    // Holds or lets go of one key.
    void hold(uint32_t sym, bool down) {
        send(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, sym);
        sync();
    }
    // Key presses the focused window received so far, by keycode.
    std::vector<uint8_t> focusedWindowPresses() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                presses_.push_back(reinterpret_cast<xcb_key_press_event_t*>(event)->detail);
            }
            std::free(event);
        }
        return presses_;
    }
    uint8_t keycode(uint32_t sym) const { return keycodes_.at(sym); }

private:
    void send(uint8_t type, uint32_t sym) { xcb_test_fake_input(c_, type, keycodes_.at(sym), XCB_CURRENT_TIME, root_, 0, 0, 0); }
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    xcb_window_t window_ = 0;
    std::map<uint32_t, uint8_t> keycodes_;
    std::vector<uint8_t> presses_;
};

class X11HotkeyTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        QString error;
        server = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &error).release();
        if (!server) skipReason = new QString(error);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
        delete skipReason;
        skipReason = nullptr;
    }

    void SetUp() override {
        if (!server) QUILLVEX_SERVICE_MISSING("no Xvfb: " << skipReason->toStdString());
        keyboard = std::make_unique<XKeyboard>(server->display().toLocal8Bit());
        if (!keyboard->hasKeys({XK_Left, XK_Right, XK_Control_L, XK_Shift_L, XK_Super_L, XK_Alt_L, XK_Num_Lock})) {
            QUILLVEX_SERVICE_MISSING("the server's keymap lacks a needed key");
        }
        monitor = std::make_unique<platform::X11GlobalKeyMonitor>(server->display().toLocal8Bit());
        auto bridge = std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler(), QStringLiteral("/fake/helper"));
        nowPlaying = std::make_unique<MediaRemoteService>(bus, scheduler(), &defaults(), std::move(bridge),
                                                          PlayerScripts(&players, [](double) {},
                                                                        [](const QUrl&) { return std::nullopt; }));
        scheduler().drain();  // the helper's launch
        defaults().set(AppSettings::enableMusicHotkeysKey, true);
        service = std::make_unique<GlobalHotkeyService>(&defaults(), scheduler(), monitor.get(), nowPlaying.get());
        service->start();
    }
    void TearDown() override {
        if (service) service->stop();
        service.reset();
    }

    // Waits (on the real server) until `count` skips have been asked for, or a short time passed.
    int skipsAfterWaiting(int count) {
        QDeadlineTimer deadline(2000);
        while (skips() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return skips();
    }
    int skips() const {
        return static_cast<int>(helper.requests.count("cmd:4") + helper.requests.count("cmd:5"));
    }

    static testsupport::PrivateXServer* server;
    static QString* skipReason;

    EventBus bus{scheduler()};
    musictest::FakeHelper helper;
    musictest::ScriptedPlayers players;
    std::unique_ptr<XKeyboard> keyboard;
    std::unique_ptr<platform::X11GlobalKeyMonitor> monitor;
    std::unique_ptr<MediaRemoteService> nowPlaying;
    std::unique_ptr<GlobalHotkeyService> service;
};

testsupport::PrivateXServer* X11HotkeyTest::server = nullptr;
QString* X11HotkeyTest::skipReason = nullptr;

}  // namespace

TEST_F(X11HotkeyTest, SuperRightSkipsAndTheFocusedWindowStillGetsTheKey) {
    ASSERT_TRUE(service->hasMonitor());
    EXPECT_TRUE(monitor->isConnected());
    keyboard->chord({XK_Super_L}, XK_Right);
    ASSERT_EQ(skipsAfterWaiting(1), 1);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "GlobalHotkeyService: Cmd+Right -> Next track"));
    EXPECT_EQ(helper.requests.count("cmd:4"), 1);

    keyboard->chord({XK_Super_L}, XK_Left);
    ASSERT_EQ(skipsAfterWaiting(2), 2);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "GlobalHotkeyService: Cmd+Left -> Previous track"));

    // Listening took nothing away from the window that has the focus.
    const std::vector<uint8_t> presses = keyboard->focusedWindowPresses();
    EXPECT_NE(std::find(presses.begin(), presses.end(), keyboard->keycode(XK_Right)), presses.end());
    EXPECT_NE(std::find(presses.begin(), presses.end(), keyboard->keycode(XK_Left)), presses.end());
}

TEST_F(X11HotkeyTest, CtrlAloneOrShiftCtrlOrAltAddedDoNothingAndNumLockDoesNotGetInTheWay) {
    keyboard->chord({XK_Super_L, XK_Shift_L}, XK_Right);
    keyboard->chord({XK_Super_L, XK_Control_L}, XK_Right);
    keyboard->chord({XK_Super_L, XK_Alt_L}, XK_Right);
    keyboard->chord({XK_Control_L}, XK_Right);  // the editors' word jump
    keyboard->chord({}, XK_Right);
    // Num Lock on (pressed once), then Super+Right: the one "next" of this test.
    keyboard->chord({}, XK_Num_Lock);
    keyboard->chord({XK_Super_L}, XK_Right);
    // Keys arrive in order: once this last "previous" is in, everything before it has been seen.
    keyboard->chord({XK_Super_L}, XK_Left);
    ASSERT_EQ(skipsAfterWaiting(2), 2);
    EXPECT_EQ(helper.requests.count("cmd:5"), 1);
    EXPECT_EQ(helper.requests.count("cmd:4"), 1);
    EXPECT_EQ(log.count("GlobalHotkeyService: Cmd+Right -> Next track"), 1);
    keyboard->chord({}, XK_Num_Lock);  // back off for the next test
}

TEST_F(X11HotkeyTest, TurningTheSettingOffClosesTheConnection) {
    ASSERT_TRUE(monitor->isConnected());
    defaults().set(AppSettings::enableMusicHotkeysKey, false);
    scheduler().drain();
    EXPECT_FALSE(service->hasMonitor());
    EXPECT_FALSE(monitor->isConnected());
    EXPECT_EQ(monitor->handlerCount(), 0u);
    defaults().set(AppSettings::enableMusicHotkeysKey, true);
    scheduler().drain();
    EXPECT_TRUE(monitor->isConnected());
    keyboard->chord({XK_Super_L}, XK_Right);
    EXPECT_EQ(skipsAfterWaiting(1), 1);
}

// Super already held when listening begins (the setting turned on meanwhile) counts with the
// Right tapped after it.
TEST_F(X11HotkeyTest, AModifierHeldBeforeListeningBeganCountsWithTheKeyTappedAfter) {
    defaults().set(AppSettings::enableMusicHotkeysKey, false);
    scheduler().drain();
    keyboard->hold(XK_Super_L, true);
    defaults().set(AppSettings::enableMusicHotkeysKey, true);
    scheduler().drain();
    ASSERT_TRUE(monitor->isConnected());
    keyboard->chord({}, XK_Right);
    keyboard->hold(XK_Super_L, false);
    EXPECT_EQ(skipsAfterWaiting(1), 1);
    EXPECT_EQ(helper.requests.count("cmd:4"), 1);
}
