// The card's icon: where it comes from, what shows while it is looked up, and when it is
// resolved again.

#include "test_island_view_fixture.h"

#include "platform/workspace/desktop_icon_theme.h"
#include "platform/workspace/icon_lookup.h"
#include "support/fake_process.h"
#include "support/loopback_http_server.h"
#include "support/service_fixtures.h"
#include "support/xsettings_manager.h"

#include <QDir>
#include <QFile>
#include <QIcon>

namespace overlaytest {
namespace {

using platform::LogLevel;

TEST_F(IslandViewTest, IconFallsThroughUndecodableImagesToTheDefaultAndKeepsASmallOneOverTheBell) {
    IslandView& v = view();
    OverlayState s = visible(QStringLiteral("Hi"), QStringLiteral("Chat"));
    s.appIconData = QByteArray("0123456789");
    s.bundleId = QStringLiteral("com.example.chat");
    send(s);
    EXPECT_TRUE(log.contains(LogLevel::Warning,
                             QStringLiteral("IslandView: Failed to create image from notification data (10 bytes)")));
    EXPECT_TRUE(log.contains(QStringLiteral("AppIconHelper: Searching icon for bundle ID 'com.example.chat'")));
    EXPECT_TRUE(log.contains(LogLevel::Warning, QStringLiteral("IslandView: Failed to get icon for app 'Chat'")));
    EXPECT_TRUE(log.contains(QStringLiteral("IslandView: Using default notification icon")));
    EXPECT_TRUE(v.layout().icon.isDefault);
    EXPECT_FALSE(v.accentColor());

    send(hidden(std::nullopt));
    at(1.0);
    s = visible(QStringLiteral("Hi"), QStringLiteral("Other"));
    s.appIconData = png(127, 200);
    send(s);
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("IslandView: Notification icon too small (size: (127.0, "
                                                             "200.0)), trying to get higher resolution")));
    // Nothing better is found: the notification's own small picture, not the bell.
    EXPECT_FALSE(v.layout().icon.isDefault);
    ASSERT_TRUE(v.cachedIcon());
    EXPECT_EQ(v.cachedIcon()->size(), QSize(127, 200));
    EXPECT_EQ(v.cachedIconSourceHint(), "Other");
    EXPECT_TRUE(v.accentColor());
}

// An application's icon still being looked up shows once it is found; meanwhile no icon is drawn,
// neither the last application's nor the bell.
TEST_F(IslandViewTest, AnIconStillBeingLookedUpShowsOnceFoundAndNoOtherMeanwhile) {
    const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/icons/hicolor/128x128/apps");
    QDir().mkpath(folder);
    ASSERT_TRUE(testsupport::solidIcon(QColor(30, 200, 30), 128).pixmap(128).save(folder + QStringLiteral("/view-later.png")));
    workspace.applicationPaths[QStringLiteral("org.example.Later")] = QStringLiteral("/apps/later.desktop");
    workspace.fileIconNames[QStringLiteral("/apps/later.desktop")] = QStringLiteral("view-later");
    platform::IconLookup& lookup = platform::IconLookup::shared();
    lookup.setAwaitAnswers(std::nullopt);
    IslandView& v = view();
    OverlayState s = visible(QStringLiteral("One"), QStringLiteral("Paint"));
    s.appIconData = png(128, 128, QColor(20, 40, 220));
    send(s);

    s = visible(QStringLiteral("Two"), QStringLiteral("Later"));
    s.bundleId = QStringLiteral("org.example.Later");
    send(s);
    ASSERT_TRUE(v.cachedIcon());
    EXPECT_TRUE(v.cachedIcon()->isNull());
    EXPECT_FALSE(v.layout().icon.isDefault);
    EXPECT_FALSE(v.accentColor());
    EXPECT_FALSE(log.contains(QStringLiteral("IslandView: Using default notification icon")));

    ASSERT_TRUE(lookup.waitUntilIdle(std::chrono::seconds(20)));
    scheduler().drain();
    lookup.setAwaitAnswers(std::chrono::seconds(20));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "IslandView: Using high-res icon from AppIconHelper for bundle ID 'org.example.Later' (size: (128.0, 128.0))")));
    ASSERT_TRUE(v.cachedIcon());
    EXPECT_EQ(v.cachedIcon()->pixelColor(64, 64), QColor(30, 200, 30));
    EXPECT_EQ(v.layout().icon.image.pixelColor(64, 64), QColor(30, 200, 30));
    EXPECT_EQ(v.cachedIconSourceHint(), "Later");
}

// Looked up by the bundle alone or by the name alone, an icon still being found leaves the card
// without one meanwhile: the bell it may not end with shows no sooner.
TEST_F(IslandViewTest, AnIconLookedUpByItsBundleOrItsNameAloneShowsNoBellMeanwhile) {
    const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/icons/hicolor/128x128/apps");
    QDir().mkpath(folder);
    for (const char* name : {"view-by-bundle", "view-by-name"})
        ASSERT_TRUE(testsupport::solidIcon(QColor(30, 200, 30), 128).pixmap(128).save(folder + QLatin1Char('/') + name + ".png"));
    workspace.applicationPaths[QStringLiteral("org.example.Later")] = QStringLiteral("/apps/later.desktop");
    workspace.fileIconNames[QStringLiteral("/apps/later.desktop")] = QStringLiteral("view-by-bundle");
    const QString entries = AppIconHelper::root() + qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
    QDir().mkpath(entries);
    QFile entry(entries + QStringLiteral("/Notes.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Notes\nIcon=view-by-name\n");
    entry.close();
    workspace.fileIconNames[entry.fileName()] = QStringLiteral("view-by-name");
    platform::IconLookup& lookup = platform::IconLookup::shared();
    lookup.setAwaitAnswers(std::nullopt);
    IslandView& v = view();

    OverlayState byBundle = visible(QStringLiteral("One"));
    byBundle.bundleId = QStringLiteral("org.example.Later");
    for (const OverlayState& s : {byBundle, visible(QStringLiteral("Two"), QStringLiteral("Notes"))}) {
        send(s);
        ASSERT_TRUE(v.cachedIcon()) << s.message->toStdString();
        EXPECT_TRUE(v.cachedIcon()->isNull()) << s.message->toStdString();
        EXPECT_FALSE(v.layout().icon.isDefault) << s.message->toStdString();
    }
    EXPECT_FALSE(log.contains(QStringLiteral("IslandView: Using default notification icon")));
    ASSERT_TRUE(lookup.waitUntilIdle(std::chrono::seconds(20)));
    scheduler().drain();
    lookup.setAwaitAnswers(std::chrono::seconds(20));
    EXPECT_EQ(v.cachedIcon()->pixelColor(64, 64), QColor(30, 200, 30));
}

TEST_F(IslandViewTest, IconCacheIsKeyedBySourceHintAlone) {
    IslandView& v = view();
    OverlayState s = visible(QStringLiteral("One"), QStringLiteral("Paint"));
    s.appIconData = png(128, 128, QColor(20, 40, 220));
    send(s);
    EXPECT_TRUE(log.contains(QStringLiteral("IslandView: Using high-res icon from notification data (size: (128.0, 128.0))")));
    ASSERT_TRUE(v.accentColor());
    EXPECT_GT(v.accentColor()->blue(), 200);

    log.clear();
    s.appIconData = png(256, 256, QColor(220, 40, 20));
    send(s);  // same application: icon and accent stay, nothing is looked up
    EXPECT_TRUE(log.matching(QStringLiteral("IslandView:")).isEmpty());
    EXPECT_EQ(v.cachedIcon()->size(), QSize(128, 128));

    // Another application: looked up by its (non-empty) bundle identifier.
    workspace.addApplication(42, QStringLiteral("com.example.notes"), QStringLiteral("Notes"),
                             testsupport::solidIcon(QColor(30, 200, 30), 256));
    s = visible(QStringLiteral("Hi"), QStringLiteral("Notes"));
    s.bundleId = QStringLiteral("com.example.notes");
    send(s);
    EXPECT_TRUE(log.contains(QStringLiteral(
        "IslandView: Using high-res icon from AppIconHelper for bundle ID 'com.example.notes' (size: (256.0, 256.0))")));
    EXPECT_GT(v.accentColor()->green(), 150);
}

// The desktop switches its icon theme while a card is up, and a card of the same application comes
// 0.35 s later: the card on screen is drawn from the new theme at once, and so is the next.
class IslandViewIconThemeTest : public IslandViewTest {
protected:
    void SetUp() override {
        savedPaths_ = QIcon::themeSearchPaths();
        savedTheme_ = QIcon::themeName();
        QString error;
        x_ = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &error);
        if (!x_) QUILLVEX_SERVICE_MISSING("no X server: " << error.toStdString());
        display_ = x_->exportDisplay();
        // Two themes that draw the application's icon each in its own colour.
        const QString icons = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/icons/");
        for (const auto& [theme, colour] : {std::pair{"Light", Qt::yellow}, {"Dark", Qt::magenta}}) {
            const QString folder = icons + QLatin1String(theme);
            ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/128x128/apps")));
            ASSERT_TRUE(testsupport::writeFile(
                folder + QStringLiteral("/index.theme"),
                "[Icon Theme]\nDirectories=128x128/apps\n\n[128x128/apps]\nSize=128\nType=Fixed\n"));
            ASSERT_TRUE(testsupport::solidIcon(colour, 128).pixmap(128).save(
                folder + QStringLiteral("/128x128/apps/theta-app.png")));
        }
        workspace.applicationPaths[QStringLiteral("org.example.Theta")] = QStringLiteral("/apps/theta.desktop");
        workspace.fileIconNames[QStringLiteral("/apps/theta.desktop")] = QStringLiteral("theta-app");
        QIcon::setThemeSearchPaths(platform::DesktopIconTheme::searchPaths());
    }
    void TearDown() override {
        following_.cancel();
        QIcon::setThemeSearchPaths(savedPaths_);
        QIcon::setThemeName(savedTheme_);
    }

    // The manager names `theme`; true once it is the one icons come from.
    bool switchTo(const QByteArray& theme) {
        manager_.serveIconTheme(theme);
        if (!following_.isActive()) {
            platform::DesktopIconTheme::Sources sources;
            sources.gsettings = QString();
            following_ = platform::DesktopIconTheme::follow(scheduler(), launcher_, {}, sources);
        }
        return testsupport::spinUntil([&] { return QIcon::themeName() == QString::fromUtf8(theme); });
    }
    // The colour of the icon the card shows, once every lookup's end has reached the view.
    std::string shownColour() {
        EXPECT_TRUE(platform::IconLookup::shared().waitUntilIdle(std::chrono::seconds(20)));
        scheduler().drain();
        const QImage& image = view().layout().icon.image;
        if (image.isNull()) return "none";
        return image.pixelColor(image.width() / 2, image.height() / 2).name().toStdString();
    }
    OverlayState theta(const QString& message, IslandMode mode) {
        OverlayState s = visible(message, QStringLiteral("Theta"), mode);
        s.bundleId = QStringLiteral("org.example.Theta");
        return s;
    }

    std::unique_ptr<testsupport::PrivateXServer> x_;
    std::unique_ptr<testsupport::ScopedEnvironment> display_;
    testsupport::XSettingsManager manager_;
    testsupport::FakeProcessLauncher launcher_;
    platform::AnyCancellable following_;
    QStringList savedPaths_;
    QString savedTheme_;
};

TEST_F(IslandViewIconThemeTest, AThemeChangeReachesTheCardOnScreenAndTheOnesStackedAfter) {
    ASSERT_TRUE(switchTo("Light"));
    view();  // up before the first card, as the overlay's views are
    send(theta(QStringLiteral("One"), IslandMode::expanded));
    EXPECT_EQ(shownColour(), QColor(Qt::yellow).name().toStdString());

    ASSERT_TRUE(switchTo("Dark"));
    EXPECT_EQ(shownColour(), QColor(Qt::magenta).name().toStdString()) << "the card on screen";
    at(scheduler().elapsed() + 0.35);
    send(theta(QStringLiteral("Two"), IslandMode::stacked));
    EXPECT_EQ(shownColour(), QColor(Qt::magenta).name().toStdString()) << "the card stacked after";
}

}  // namespace
}  // namespace overlaytest
