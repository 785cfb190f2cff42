#include "test_island_view_fixture.h"

#include "core/l10n.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace overlaytest {
namespace {

using platform::Animation;

QStringList drawnTexts(const IslandView& view) { return view.layout().texts(); }

TEST_F(IslandViewTest, HiddenStateIsAdoptedOnlyAfterTheShrink) {
    IslandView& v = view();
    send(visible(QStringLiteral("First")));
    at(1.0);
    EXPECT_EQ(v.contentScaleX().value(), 1.0);

    send(hidden(QStringLiteral("Gone")));
    EXPECT_EQ(v.contentScaleX().lastAnimation()->animation, Animation::spring(0.3, 0.85, 0));
    EXPECT_EQ(v.contentScaleY().target(), 0.35);
    at(1.54);
    EXPECT_EQ(drawnTexts(v), QStringList{QStringLiteral("First")});
    EXPECT_TRUE(v.state().isVisible);
    at(1.55);
    EXPECT_EQ(drawnTexts(v), QStringList{QStringLiteral("Gone")});
    EXPECT_FALSE(v.state().isVisible);
    EXPECT_FALSE(v.hasPendingHiddenState());
}

TEST_F(IslandViewTest, VisibleStateCancelsThePendingHiddenOneAndSpringsBackWithoutAJump) {
    IslandView& v = view();
    send(visible(QStringLiteral("First")));
    at(1.0);
    send(hidden(QStringLiteral("Gone")));
    at(1.2);
    const double shrinking = v.contentScaleX().value();
    ASSERT_LT(shrinking, 1.0);
    ASSERT_GT(shrinking, 0.35);

    send(visible(QStringLiteral("Second")));
    EXPECT_FALSE(v.hasPendingHiddenState());
    const auto grow = v.contentScaleX().lastAnimation();
    EXPECT_EQ(grow->animation, Animation::spring(0.4, 0.75, 0));
    EXPECT_NEAR(grow->from, shrinking, 1e-9);  // no jump to 0.35
    at(3.0);
    EXPECT_EQ(drawnTexts(v), QStringList{QStringLiteral("Second")});
    EXPECT_NEAR(v.contentScaleY().value(), 1.0, 1e-3);
}

TEST_F(IslandViewTest, OfTwoHiddenStatesOnlyTheSecondIsAdopted) {
    IslandView& v = view();
    send(visible(QStringLiteral("First")));
    at(1.0);
    send(hidden(QStringLiteral("Older")));
    at(1.3);
    send(hidden(QStringLiteral("Newer")));
    at(1.84);
    EXPECT_EQ(drawnTexts(v), QStringList{QStringLiteral("First")});
    at(1.85);
    EXPECT_EQ(drawnTexts(v), QStringList{QStringLiteral("Newer")});
}

TEST_F(IslandViewTest, VisibleAfterAnAdoptedHiddenStateGrowsFromTheShrunkSize) {
    IslandView& v = view();  // adopts the bus's initial hidden state
    at(1.0);
    EXPECT_EQ(v.contentScaleX().value(), 0.35);
    send(visible(QStringLiteral("Hello")));
    const auto grow = v.contentScaleY().lastAnimation();
    EXPECT_EQ(grow->from, 0.35);
    EXPECT_EQ(grow->to, 1.0);
    EXPECT_EQ(grow->animation, Animation::spring(0.4, 0.75, 0));

    bus.overlayDismissSubject.send();
    EXPECT_EQ(v.contentScaleX().target(), 0.35);
    EXPECT_EQ(v.contentScaleX().lastAnimation()->animation, Animation::spring(0.3, 0.85, 0));
    EXPECT_TRUE(v.state().isVisible);  // the dismiss alone changes no state
}

TEST_F(IslandViewTest, IconFallsThroughUndecodableAndSmallImagesToTheDefault) {
    IslandView& v = view();
    OverlayState s = visible(QStringLiteral("Hi"), QStringLiteral("Chat"));
    s.appIconData = QByteArray("0123456789");
    s.bundleId = QStringLiteral("com.example.chat");
    send(s);
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning,
                             QStringLiteral("IslandView: Failed to create image from notification data (10 bytes)")));
    EXPECT_TRUE(log.contains(QStringLiteral("AppIconHelper: Searching icon for bundle ID 'com.example.chat'")));
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, QStringLiteral("IslandView: Failed to get icon for app 'Chat'")));
    EXPECT_TRUE(log.contains(QStringLiteral("IslandView: Using default notification icon")));
    EXPECT_TRUE(v.layout().icon.isDefault);
    EXPECT_FALSE(v.accentColor());
    EXPECT_FALSE(v.cachedIconSourceHint());

    log.clear();
    send(hidden(std::nullopt));
    at(1.0);
    s = visible(QStringLiteral("Hi"), QStringLiteral("Other"));
    s.appIconData = png(127, 200);
    send(s);
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug,
                             QStringLiteral("IslandView: Notification icon too small (size: (127.0, 200.0)), trying "
                                            "to get higher resolution")));
}

TEST_F(IslandViewTest, IconCacheIsKeyedBySourceHintAlone) {
    IslandView& v = view();
    OverlayState s = visible(QStringLiteral("One"), QStringLiteral("Paint"));
    s.appIconData = png(128, 128, QColor(20, 40, 220));
    send(s);
    EXPECT_TRUE(log.contains(QStringLiteral("IslandView: Using high-res icon from notification data (size: (128.0, 128.0))")));
    ASSERT_TRUE(v.accentColor());
    EXPECT_GT(v.accentColor()->blue(), 200);
    EXPECT_FALSE(v.layout().icon.isDefault);

    log.clear();
    s.message = QStringLiteral("Two");
    s.appIconData = png(256, 256, QColor(220, 40, 20));
    send(s);  // same application: icon and accent stay
    EXPECT_TRUE(log.matching(QStringLiteral("IslandView:")).isEmpty());
    EXPECT_GT(v.accentColor()->blue(), 200);
    EXPECT_EQ(v.cachedIcon()->size(), QSize(128, 128));
}

TEST_F(IslandViewTest, IconByBundleIdentifierThenByName) {
    workspace.addApplication(42, QStringLiteral("com.example.notes"), QStringLiteral("Notes"),
                             testsupport::solidIcon(QColor(30, 200, 30), 256));
    IslandView& v = view();
    OverlayState s = visible(QStringLiteral("Hi"), QStringLiteral("Notes"));
    s.bundleId = QStringLiteral("com.example.notes");
    send(s);
    EXPECT_TRUE(log.contains(QStringLiteral(
        "IslandView: Using high-res icon from AppIconHelper for bundle ID 'com.example.notes' (size: (256.0, 256.0))")));
    EXPECT_EQ(v.cachedIconSourceHint(), QStringLiteral("Notes"));
    ASSERT_TRUE(v.accentColor());
    EXPECT_GT(v.accentColor()->green(), 150);

    send(hidden(std::nullopt));
    at(1.0);
    s.sourceHint = QStringLiteral("notes");
    s.bundleId = QString();  // empty: skipped
    send(s);
    EXPECT_TRUE(log.contains(
        QStringLiteral("IslandView: Using high-res icon from AppIconHelper for 'notes' (size: (256.0, 256.0))")));
}

class IslandViewClickTest : public IslandViewTest {
protected:
    void click() {
        IslandView& v = view();
        v.resize(v.sizeHint());
        const QPointF centre = v.frameRect().center();
        QMouseEvent press(QEvent::MouseButtonPress, centre, v.mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, centre, v.mapToGlobal(centre), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&v, &press);
        QApplication::sendEvent(&v, &release);
    }
};

TEST_F(IslandViewClickTest, OpensByBundleIdentifierFirst) {
    workspace.launchableBundleIdentifiers.insert(QStringLiteral("com.example.mail"));
    OverlayState s = visible(QStringLiteral("Hi"), QStringLiteral("mail"));
    s.bundleId = QStringLiteral("com.example.mail");
    view();
    send(s);
    click();
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("IslandView: Opened app with bundle ID: com.example.mail")));
    EXPECT_TRUE(workspace.activations.empty());
}

TEST_F(IslandViewClickTest, ActivatesTheRunningApplicationWhoseNameMatchesIgnoringCase) {
    workspace.addApplication(7, std::nullopt, std::nullopt);
    workspace.addApplication(11, QStringLiteral("com.example.mail"), QStringLiteral("Mail"));
    OverlayState s = visible(QStringLiteral("Hi"), QStringLiteral("mail"));
    s.bundleId = QString();  // empty: no launch by identifier
    view();
    send(s);
    click();
    EXPECT_TRUE(workspace.launchedBundleIdentifiers.empty());
    ASSERT_EQ(workspace.activations.size(), 1u);
    EXPECT_EQ(workspace.activations[0], std::make_pair(qint64(11), true));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("IslandView: Activated running app: mail")));
    EXPECT_TRUE(scripts.scripts().isEmpty());
}

TEST_F(IslandViewClickTest, UnmatchedNameIsLaunchedByNameElseNotificationCenterOpens) {
    workspace.addApplication(11, QStringLiteral("com.example.mail"), QStringLiteral("Mail"));
    workspace.launchableNames.insert(QStringLiteral("Mai"));
    view();
    send(visible(QStringLiteral("Hi"), QStringLiteral("Mai")));
    click();
    EXPECT_EQ(workspace.launchedNames, std::vector<QString>{QStringLiteral("Mai")});
    EXPECT_TRUE(log.contains(QStringLiteral("IslandView: Launched app by name: Mai")));
    EXPECT_TRUE(scripts.scripts().isEmpty());

    // A fresh overlay with neither bundle identifier nor source.
    send(hidden(std::nullopt));
    at(1.0);
    send(visible(QStringLiteral("Hi")));
    log.clear();
    click();
    EXPECT_TRUE(log.contains(platform::LogLevel::Debug,
                             QStringLiteral("IslandView: Could not open source app, opening Notification Center")));
    EXPECT_EQ(scripts.scripts().size(), 1);
}

class IslandViewWheelTest : public IslandViewTest {
protected:
    bool wheel(int angleY, bool inverted) {
        IslandView& v = view();
        const QPointF at = v.frameRect().center();
        QWheelEvent event(at, v.mapToGlobal(at), QPoint(), QPoint(0, angleY), Qt::NoButton, Qt::NoModifier,
                          Qt::ScrollUpdate, inverted);
        event.setAccepted(true);
        QApplication::sendEvent(&v, &event);
        return event.isAccepted();
    }
    void hover() {
        IslandView& v = view();
        v.resize(v.sizeHint());
        const QPointF centre = v.frameRect().center();
        QEnterEvent enter(centre, centre, v.mapToGlobal(centre));
        QApplication::sendEvent(&v, &enter);
    }
    int dismissals = 0;
    platform::AnyCancellable counting = bus.overlayDismissSubject.sink([this] { ++dismissals; });
};

TEST_F(IslandViewWheelTest, UpwardScrollOverTheOverlayDismissesAndTheRestPassesOn) {
    send(visible(QStringLiteral("Hi")));
    EXPECT_FALSE(wheel(120, false));  // not hovering: passed on
    EXPECT_EQ(dismissals, 0);

    hover();
    ASSERT_TRUE(view().isHovering());
    EXPECT_FALSE(wheel(48, false));  // 0.4
    EXPECT_FALSE(wheel(-48, false));
    EXPECT_FALSE(wheel(-60, false));  // downward
    EXPECT_EQ(dismissals, 0);
    EXPECT_TRUE(wheel(60, false));  // 0.5 upward
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(view().contentScaleX().target(), 0.35);

    EXPECT_FALSE(wheel(360, true));  // natural scrolling: positive is downward
    EXPECT_TRUE(wheel(-360, true));
    EXPECT_EQ(dismissals, 2);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view(), &leave);
    EXPECT_FALSE(wheel(120, false));
    EXPECT_EQ(dismissals, 2);
}

TEST_F(IslandViewTest, FallbackWordFollowsTheLanguage) {
    IslandView& v = view();
    send(visible(std::nullopt));
    defaults().set(L10n::languageKey, L10n::languageEnglish);
    EXPECT_EQ(v.displayText(), QStringLiteral("Notification"));
    defaults().set(L10n::languageKey, L10n::languageJapanese);
    EXPECT_EQ(v.displayText(), QStringLiteral("通知"));
    EXPECT_EQ(drawnTexts(v), QStringList{QStringLiteral("通知")});  // redrawn on the setting change
    send(visible(QString()));
    EXPECT_EQ(v.displayText(), QStringLiteral("通知"));
    send(visible(QStringLiteral("Text")));
    EXPECT_EQ(v.displayText(), QStringLiteral("Text"));
}

TEST_F(IslandViewTest, UnknownStoredStyleOrTintDrawsSplitPillInBlack) {
    IslandView& v = view();
    send(visible(QStringLiteral("Hi")));
    setStyle(QStringLiteral("pill"));
    setTint(QString());
    EXPECT_EQ(v.layout().style, OverlayStyle::splitPill);
    EXPECT_EQ(v.layout().tint, OverlayTint::black);
    setStyle(QStringLiteral("notchSheet"));
    setTint(QStringLiteral("midnight"));
    EXPECT_EQ(v.layout().style, OverlayStyle::notchSheet);
    EXPECT_EQ(v.layout().shapes.at(0).fill.rgb(), QColor::fromRgbF(0.05f, 0.06f, 0.08f).rgb());
    EXPECT_EQ(v.sizeHint(), QSize(386, 78));
}

}  // namespace
}  // namespace overlaytest
