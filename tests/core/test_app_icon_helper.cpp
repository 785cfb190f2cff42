#include "core/app_icon_helper.h"
#include "platform/workspace/icon_lookup.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using platform::LogLevel;
using testsupport::solidIcon;

namespace {

const QColor red(200, 30, 30), green(30, 160, 60), blue(30, 60, 200), yellow(210, 180, 20);

QColor centreOf(const std::optional<QImage>& icon) {
    return icon ? icon->pixelColor(icon->width() / 2, icon->height() / 2) : QColor();
}

class AppIconHelperTest : public testsupport::QuillvexTest {
protected:
    AppIconHelperTest() : previousRoot_(AppIconHelper::setRoot(root_.path())) {
        // The data folders, most important first, each looked up under the fixture root.
        environment_.set("XDG_DATA_HOME", "/home/me/.local/share");
        environment_.set("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    }
    ~AppIconHelperTest() override { AppIconHelper::setRoot(previousRoot_); }

    // Creates an application entry (or a folder, for a name without ".desktop") under the fixture
    // root and gives it an icon of `color`.
    QString install(const QString& relative, const QColor& color) {
        const QString path = root_.path() + relative;
        if (relative.endsWith(QLatin1String(".desktop"))) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile(path).open(QIODevice::WriteOnly);
        } else {
            QDir().mkpath(path);
        }
        workspace.fileIcons[path] = solidIcon(color);
        return path;
    }

    QString rootPath() const { return root_.path(); }

    testsupport::FakeWorkspace workspace;

private:
    QTemporaryDir root_;
    QString previousRoot_;
    testsupport::ScopedEnvironment environment_;
};

TEST_F(AppIconHelperTest, RunningBundleWinsOverName) {
    workspace.addApplication(1, QStringLiteral("com.example.Notes"), QStringLiteral("Notes"), solidIcon(green));
    workspace.addApplication(2, QStringLiteral("com.example.Mail"), QStringLiteral("Mail"), solidIcon(red));

    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("Notes"), QStringLiteral("com.example.Mail"))), red);
    EXPECT_EQ(log.texts(), (QStringList{
                               "AppIconHelper: Searching icon for app 'Notes' bundleId 'com.example.Mail'",
                               "AppIconHelper: Searching icon for bundle ID 'com.example.Mail'",
                               "AppIconHelper: Found running app 'Mail' for bundle 'com.example.Mail'",
                               "AppIconHelper: Found icon via bundle ID 'com.example.Mail'",
                           }));
}

TEST_F(AppIconHelperTest, BundleLookupFallsFromRunningToInstalledToWarning) {
    // A running instance without a name or icon ends the bundle lookup with nothing.
    workspace.addApplication(3, QStringLiteral("com.example.Bare"), std::nullopt);
    workspace.applicationPaths[QStringLiteral("com.example.Bare")] = QStringLiteral("/Applications/Bare.app");
    EXPECT_FALSE(AppIconHelper::getIconForBundleId(QStringLiteral("com.example.Bare")).has_value());
    EXPECT_TRUE(log.contains("AppIconHelper: Found running app 'unknown' for bundle 'com.example.Bare'"));

    workspace.applicationPaths[QStringLiteral("com.example.Maps")] = QStringLiteral("/Applications/Maps.app");
    workspace.fileIcons[QStringLiteral("/Applications/Maps.app")] = solidIcon(blue);
    EXPECT_EQ(centreOf(AppIconHelper::getIconForBundleId(QStringLiteral("com.example.Maps"))), blue);
    EXPECT_TRUE(log.contains(LogLevel::Debug,
                             "AppIconHelper: Found app at '/Applications/Maps.app' for bundle 'com.example.Maps'"));

    EXPECT_FALSE(AppIconHelper::getIconForBundleId(QStringLiteral("com.example.Gone")).has_value());
    EXPECT_TRUE(log.contains(LogLevel::Warning, "AppIconHelper: Could not find app for bundle ID 'com.example.Gone'"));

    log.clear();
    EXPECT_FALSE(AppIconHelper::getIconForBundleId(QString()).has_value());
    EXPECT_TRUE(log.texts().isEmpty());
}

TEST_F(AppIconHelperTest, NoNameMeansNoIcon) {
    EXPECT_FALSE(AppIconHelper::getIcon(std::nullopt, std::nullopt).has_value());
    EXPECT_EQ(log.texts(), (QStringList{"AppIconHelper: Searching icon for app 'nil' bundleId 'nil'",
                                        "AppIconHelper: No app name provided"}));

    // An empty identifier is skipped like an absent one.
    log.clear();
    EXPECT_FALSE(AppIconHelper::getIcon(QString(), QString()).has_value());
    EXPECT_EQ(log.texts(), (QStringList{"AppIconHelper: Searching icon for app '' bundleId ''",
                                        "AppIconHelper: No app name provided"}));
}

TEST_F(AppIconHelperTest, NameMatchesTightenBeforeTheyLoosen) {
    workspace.addApplication(1, std::nullopt, QStringLiteral("Mail Helper"), solidIcon(yellow));
    workspace.addApplication(2, std::nullopt, QStringLiteral("mail"), solidIcon(green));
    workspace.addApplication(3, std::nullopt, QStringLiteral("Mail"), solidIcon(red));

    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("Mail"), std::nullopt)), red);
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Found via exact name match"));
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("MAIL"), std::nullopt)), green);
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Found via case-insensitive match"));
    // Both "Mail Helper" and "mail" contain "mai": the earlier in the workspace's list wins.
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("mai"), std::nullopt)), yellow);
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Found via partial match (Mail Helper)"));

    // Partial runs one way only: a longer name does not match a shorter running name.
    EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("mail app"), std::nullopt).has_value());
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Could not find icon for 'mail app'"));

    // Last, a whole piece of a bundle identifier: "notesapp" is not "notes".
    workspace.addApplication(4, QStringLiteral("com.example.notesapp"), std::nullopt, solidIcon(blue));
    workspace.addApplication(5, QStringLiteral("com..example.Notes."), std::nullopt, solidIcon(green));
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("notes"), std::nullopt)), green);
    EXPECT_EQ(log.texts().last(),
              QStringLiteral("AppIconHelper: Found via bundle ID component match (com..example.Notes.)"));
    EXPECT_EQ(workspace.runningApplicationsReads, 5);  // one snapshot per lookup serves every step
}

TEST_F(AppIconHelperTest, MatchedApplicationWithoutIconEndsTheLookup) {
    workspace.addApplication(1, std::nullopt, QStringLiteral("Preview"));
    install(QStringLiteral("/usr/share/applications/Preview.desktop"), red);

    EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("Preview"), std::nullopt).has_value());
    EXPECT_TRUE(workspace.iconRequests.empty());
    EXPECT_TRUE(log.matching(QStringLiteral("AppIconHelper: Could not find icon")).isEmpty());
}

TEST_F(AppIconHelperTest, EntriesNamedByTheNameAreTestedInTheDataFoldersOrder) {
    const QString shared = install(QStringLiteral("/usr/share/applications/org.example.Viewer.desktop"), blue);
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("org.example.Viewer"), std::nullopt)), blue);
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Found app at path ") + shared);
    install(QStringLiteral("/usr/local/share/applications/org.example.Viewer.desktop"), green);
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("org.example.Viewer.desktop"), std::nullopt)), green);
    install(QStringLiteral("/home/me/.local/share/applications/org.example.Viewer.desktop"), yellow);
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("org.example.Viewer"), std::nullopt)), yellow);

    // Only entries count: an entry is named with ".desktop" exactly, and a name with a slash
    // never reaches out of the folders.
    log.clear();
    install(QStringLiteral("/usr/share/applications/Tool"), red);
    install(QStringLiteral("/usr/share/Escape.desktop"), red);
    for (const char* name : {"org.example.Viewer.DESKTOP", "Tool", "../Escape"})
        AppIconHelper::getIcon(QString::fromLatin1(name), std::nullopt);
    EXPECT_TRUE(log.matching(QStringLiteral("AppIconHelper: Found app at path")).isEmpty());
}

TEST_F(AppIconHelperTest, EntryScanMatchesBothWaysInSortedOrder) {
    const QString notes = install(QStringLiteral("/usr/local/share/applications/org.example.Notes.desktop"), green);
    install(QStringLiteral("/usr/local/share/applications/Sticky.desktop"), red);
    install(QStringLiteral("/usr/local/share/applications/kde4/Nested.desktop"), red);  // not entered
    QFile(rootPath() + QStringLiteral("/usr/local/share/applications/note.txt")).open(QIODevice::WriteOnly);
    QFile(rootPath() + QStringLiteral("/usr/local/share/applications/.desktop")).open(QIODevice::WriteOnly);

    // The name contains the entry's name ...
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("org.example.Notes Plus"), std::nullopt)), green);
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Found via directory search at ") + notes);
    // ... or the entry's name contains the name.
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("note"), std::nullopt)), green);
    EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("Nested"), std::nullopt).has_value());

    // A later folder is scanned when the earlier ones have no match, or are missing altogether.
    const QString music = install(QStringLiteral("/usr/share/applications/org.example.Music.desktop"), blue);
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("music"), std::nullopt)), blue);
    QDir(rootPath() + QStringLiteral("/usr/local")).removeRecursively();
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("music"), std::nullopt)), blue);
    EXPECT_EQ(log.texts().last(), QStringLiteral("AppIconHelper: Found via directory search at ") + music);

    EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("Weather"), std::nullopt).has_value());
    EXPECT_TRUE(log.contains(LogLevel::Warning, QStringLiteral("AppIconHelper: Could not find icon for 'Weather'")));
}

TEST_F(AppIconHelperTest, ARememberingHelperLooksEachApplicationUpOnceUntilAnEntryChanges) {
    AppIconHelper::setRemembering(true);
    workspace.addApplication(1, QStringLiteral("com.example.Mail"), QStringLiteral("Mail"), solidIcon(red));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("Mail"), QStringLiteral("com.example.Mail"))), red);
        EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("Mail"), std::nullopt)), red);
        EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("Weather"), std::nullopt).has_value());
    }
    // One read for the bundle, one each for the two names: a failure is remembered too.
    EXPECT_EQ(workspace.runningApplicationsReads, 3);
    EXPECT_EQ(log.matching(QStringLiteral("AppIconHelper: Searching icon for bundle ID")).size(), 1);
    EXPECT_EQ(log.matching(QStringLiteral("AppIconHelper: Could not find icon for 'Weather'")).size(), 1);

    // A new entry in an applications folder makes the missing icon findable.
    install(QStringLiteral("/usr/share/applications/org.example.Weather.desktop"), blue);
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("Weather"), std::nullopt)), blue);

    // Not remembering looks up every time.
    AppIconHelper::setRemembering(false);
    AppIconHelper::getIcon(QStringLiteral("Mail"), std::nullopt);
    AppIconHelper::getIcon(QStringLiteral("Mail"), std::nullopt);
    EXPECT_EQ(workspace.runningApplicationsReads, 6);

    AppIconHelper::setRemembering(true);
    // An answer given while the entry's icon was still being looked up is not remembered.
    testsupport::ScopedEnvironment data;
    data.set("XDG_DATA_HOME", QFile::encodeName(rootPath()));
    const QString icons = rootPath() + QStringLiteral("/icons/hicolor/128x128/apps");
    QDir().mkpath(icons);
    solidIcon(yellow, 128).pixmap(128).save(icons + QStringLiteral("/remembered-later.png"));
    workspace.applicationPaths[QStringLiteral("org.example.Later")] = QStringLiteral("/apps/later.desktop");
    workspace.fileIconNames[QStringLiteral("/apps/later.desktop")] = QStringLiteral("remembered-later");
    platform::IconLookup::shared().setAwaitAnswers(std::nullopt);
    EXPECT_NE(centreOf(AppIconHelper::getIcon(std::nullopt, QStringLiteral("org.example.Later"))), yellow);
    ASSERT_TRUE(platform::IconLookup::shared().waitUntilIdle(std::chrono::seconds(20)));
    platform::IconLookup::shared().setAwaitAnswers(std::chrono::seconds(20));
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(std::nullopt, QStringLiteral("org.example.Later"))), yellow);
    AppIconHelper::setRemembering(false);
}

// The applications folders are asked for their stamps through a handle kept open: a folder that
// went and came back is the new one, whatever the handle of the old still says.
TEST_F(AppIconHelperTest, AnApplicationsFolderRemovedAndMadeAgainIsLookedAtAgain) {
    AppIconHelper::setRemembering(true);
    install(QStringLiteral("/usr/share/applications/org.example.Notes.desktop"), green);
    EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("Weather"), std::nullopt).has_value());
    ASSERT_TRUE(QDir(rootPath() + QStringLiteral("/usr/share/applications")).removeRecursively());
    EXPECT_FALSE(AppIconHelper::getIcon(QStringLiteral("Weather"), std::nullopt).has_value());
    install(QStringLiteral("/usr/share/applications/org.example.Weather.desktop"), blue);
    EXPECT_EQ(centreOf(AppIconHelper::getIcon(QStringLiteral("Weather"), std::nullopt)), blue);
    AppIconHelper::setRemembering(false);
}

TEST_F(AppIconHelperTest, ASendersThemedNameIsLookedUpButNeverAPath) {
    testsupport::ScopedEnvironment data;
    data.set("XDG_DATA_HOME", QFile::encodeName(rootPath()));
    QDir().mkpath(rootPath() + QStringLiteral("/icons/hicolor/48x48/apps"));
    solidIcon(green, 48).pixmap(48).save(rootPath() + QStringLiteral("/icons/hicolor/48x48/apps/sender-own-icon.png"));
    EXPECT_EQ(centreOf(AppIconHelper::getIconForThemedName(QStringLiteral("sender-own-icon"))), green);

    const QString file = rootPath() + QStringLiteral("/icons/hicolor/48x48/apps/sender-own-icon.png");
    for (const QString& name : {QString(), file, QStringLiteral("../sender-own-icon"), QStringLiteral("no-such-icon-here")})
        EXPECT_FALSE(AppIconHelper::getIconForThemedName(name).has_value()) << name.toStdString();
}

// Colour tests work on stored premultiplied bytes, as the sampler sees them.
QImage uniform(int r, int g, int b, int a, int side = 16) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(qRgba(r, g, b, a));  // written as given, already premultiplied
    return image;
}

void expectColour(const std::optional<QColor>& colour, double r, double g, double b) {
    ASSERT_TRUE(colour.has_value());
    EXPECT_NEAR(colour->redF(), r, 1e-3);
    EXPECT_NEAR(colour->greenF(), g, 1e-3);
    EXPECT_NEAR(colour->blueF(), b, 1e-3);
    EXPECT_EQ(colour->alphaF(), 1.0f);
}

TEST(AppIconDominantColorTest, ThresholdsOnStoredBytes) {
    expectColour(AppIconHelper::dominantColor(uniform(242, 40, 40, 255)), 242 / 255.0, 40 / 255.0, 40 / 255.0);
    EXPECT_TRUE(AppIconHelper::dominantColor(uniform(39, 0, 0, 255)).has_value());
    // Premultiplied bytes are used as stored, not divided by alpha.
    expectColour(AppIconHelper::dominantColor(uniform(100, 20, 20, 128)), 100 / 255.0, 20 / 255.0, 20 / 255.0);

    // Too bright, too dark, too transparent, grey, too weakly coloured (saturation 0.125), empty.
    for (const QImage& dull : {uniform(243, 40, 40, 255), uniform(38, 0, 0, 255), uniform(100, 20, 20, 127),
                               uniform(0, 0, 0, 0), uniform(120, 120, 120, 255), uniform(120, 110, 105, 255), QImage()}) {
        EXPECT_FALSE(AppIconHelper::dominantColor(dull).has_value());
    }
}

TEST(AppIconDominantColorTest, AveragesOnlyVividPixels) {
    QImage image = uniform(250, 250, 250, 255);
    image.setPixelColor(3, 4, QColor(200, 50, 50));
    expectColour(AppIconHelper::dominantColor(image), 200 / 255.0, 50 / 255.0, 50 / 255.0);

    QImage halves = uniform(200, 0, 0, 255, 64);
    for (int y = 32; y < 64; ++y)
        for (int x = 0; x < 64; ++x) halves.setPixelColor(x, y, QColor(0, 0, 200));
    expectColour(AppIconHelper::dominantColor(halves), 100 / 255.0, 0, 100 / 255.0);
}

}  // namespace
