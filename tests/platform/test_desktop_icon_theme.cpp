#include "platform/workspace/desktop_icon_theme.h"

#include "platform/workspace/desktop_entries.h"
#include "support/fake_process.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"
#include "support/virtual_scheduler.h"
#include "support/xsettings_manager.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

using platform::DesktopIconTheme;

using testsupport::XSettingsManager;

TEST(DesktopIconTheme, XSettingsStringsAreReadInEitherByteOrderAndMalformedDataGivesNone) {
    const QByteArray name = "Net/IconThemeName";
    for (const bool bigEndian : {false, true}) {
        const QByteArray data =
            XSettingsManager::settings({{"Net/ThemeName", "Adwaita-dark"}, {name, "Papirus"}}, bigEndian);
        EXPECT_EQ(DesktopIconTheme::xsettingsString(data, name), QStringLiteral("Papirus")) << bigEndian;
        EXPECT_EQ(DesktopIconTheme::xsettingsString(data, "Net/ThemeName"), QStringLiteral("Adwaita-dark"));
        EXPECT_FALSE(DesktopIconTheme::xsettingsString(data, "Net/DoubleClickTime")) << "an integer is no name";
        EXPECT_FALSE(DesktopIconTheme::xsettingsString(data, "Net/Missing"));
        // Cut anywhere, the value is never read past the end.
        for (qsizetype size = 0; size < data.size(); ++size)
            EXPECT_FALSE(DesktopIconTheme::xsettingsString(data.left(size), name)) << size;
    }
    QByteArray lying = XSettingsManager::settings({{name, "Papirus"}});
    qToLittleEndian<quint32>(0x7fffffff, lying.data() + lying.size() - 12);  // the string's length
    EXPECT_FALSE(DesktopIconTheme::xsettingsString(lying, name));
    QByteArray unknownType = XSettingsManager::settings({{name, "Papirus"}});
    unknownType[12] = 5;
    EXPECT_FALSE(DesktopIconTheme::xsettingsString(unknownType, name));
    QByteArray unknownOrder = XSettingsManager::settings({{name, "Papirus"}});
    unknownOrder[0] = 2;
    EXPECT_FALSE(DesktopIconTheme::xsettingsString(unknownOrder, name));
}

// gsettings' answer is read up to 4 KiB, far more than a theme's name takes: an answer of exactly
// that size is read, one a byte longer is cut short and read as none.
TEST(DesktopIconTheme, AGsettingsAnswerIsReadUpToItsLimit) {
    testsupport::FakeProcessLauncher launcher;
    QByteArray answer = QByteArray(4096 - 9, ' ') + "'Gnomish'";
    launcher.onRun = [&answer](const platform::ProcessSpec&, double) {
        platform::ProcessResult result;
        result.status = platform::ProcessResult::Status::Exited;
        result.exitCode = 0;
        result.standardOutput = answer;
        return result;
    };
    EXPECT_EQ(DesktopIconTheme::gnomeIconTheme(launcher, QStringLiteral("/usr/bin/gsettings")), QStringLiteral("Gnomish"));
    answer.prepend(' ');
    EXPECT_FALSE(DesktopIconTheme::gnomeIconTheme(launcher, QStringLiteral("/usr/bin/gsettings")));
}

// A private X server, data folders holding a few tiny themes that each draw mail-message-new in
// their own colour (hicolor has no such icon, as on a real system), and QIcon pointed at them.
class DesktopIconThemeTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        x_ = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &error);
        if (!x_) QUILLVEX_SERVICE_MISSING("no X server: " << error.toStdString());
        display_ = x_->exportDisplay();
        env_.set("XDG_DATA_HOME", data_.filePath(QStringLiteral("home")).toUtf8());
        env_.set("XDG_DATA_DIRS", data_.path().toUtf8());
        theme(QStringLiteral("hicolor"), QColor());
        theme(QStringLiteral("Adwaita"), Qt::red);
        theme(QStringLiteral("breeze"), Qt::yellow);
        theme(QStringLiteral("Fancy"), Qt::blue);
        theme(QStringLiteral("Gnomish"), Qt::green);
        savedPaths_ = QIcon::themeSearchPaths();
        savedTheme_ = QIcon::themeName();
        QIcon::setThemeSearchPaths({icons()});
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    void TearDown() override {
        QIcon::setThemeSearchPaths(savedPaths_);
        QIcon::setThemeName(savedTheme_);
    }

    QString icons() const { return data_.filePath(QStringLiteral("icons")); }
    void theme(const QString& name, const QColor& colour) {
        const QString folder = icons() + QLatin1Char('/') + name;
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/48x48/apps")));
        QFile index(folder + QStringLiteral("/index.theme"));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=" + name.toUtf8() +
                    "\nInherits=hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
        if (!colour.isValid()) return;
        icon(name, QStringLiteral("mail-message-new"), colour);
    }
    void icon(const QString& theme, const QString& name, const QColor& colour) {
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(icons() + u'/' + theme + QStringLiteral("/48x48/apps/") + name + QStringLiteral(".png")));
    }
    // The colour the data folders' icon lookup draws mail-message-new in; invalid when none is found.
    static QColor mailIcon() {
        const QIcon icon = platform::DesktopEntries::icon(QStringLiteral("mail-message-new"));
        return icon.isNull() ? QColor() : icon.pixmap(48, 48).toImage().pixelColor(24, 24);
    }

    // Follows the desktop's theme with gsettings answering `gnome` (none: failing as without the
    // schema); the themes it changed to, in order.
    QStringList follow(const std::optional<QByteArray>& gnome) {
        QStringList changes;
        testsupport::FakeProcessLauncher launcher;
        launcher.onRun = [gnome](const platform::ProcessSpec&, double) {
            platform::ProcessResult result;
            result.status = platform::ProcessResult::Status::Exited;
            result.exitCode = gnome ? 0 : 1;
            result.standardOutput = gnome.value_or(QByteArray());
            return result;
        };
        DesktopIconTheme::Sources sources;
        sources.gsettings = QStringLiteral("/usr/bin/gsettings");
        DesktopIconTheme::follow(scheduler_, launcher, [&changes](const QString& theme) { changes << theme; }, sources);
        scheduler_.drain();
        gsettingsRuns_ += launcher.runs().size();
        if (!launcher.runs().empty()) {
            EXPECT_EQ(launcher.runs().front().spec.arguments,
                      QStringList({"get", "org.gnome.desktop.interface", "icon-theme"}));
        }
        return changes;
    }

    std::unique_ptr<testsupport::PrivateXServer> x_;
    std::unique_ptr<testsupport::ScopedEnvironment> display_;
    testsupport::ScopedEnvironment env_;
    QTemporaryDir data_;
    QStringList savedPaths_;
    QString savedTheme_;
    platform::VirtualScheduler scheduler_;
    size_t gsettingsRuns_ = 0;
    XSettingsManager manager_;
};

TEST_F(DesktopIconThemeTest, ThemedNamesComeFromTheDesktopsThemeElseTheInstalledDefaultNeverHicolorAlone) {
    EXPECT_FALSE(mailIcon().isValid()) << "hicolor has no mail-message-new";

    // Nothing names a theme: the installed default serves at once, without a worker.
    DesktopIconTheme::Sources none;
    none.gsettings = QString();
    testsupport::FakeProcessLauncher unused;
    QStringList changes;
    DesktopIconTheme::follow(scheduler_, unused, [&changes](const QString& theme) { changes << theme; }, none);
    EXPECT_EQ(changes, QStringList({"Adwaita"}));
    EXPECT_EQ(QIcon::themeName(), QStringLiteral("Adwaita"));
    EXPECT_EQ(mailIcon(), QColor(Qt::red));
    EXPECT_TRUE(unused.runs().empty());

    // The GNOME setting comes before the default; one that is not installed does not.
    QIcon::setThemeName(QStringLiteral("hicolor"));
    EXPECT_EQ(follow(QByteArray("'Gnomish'\n")), QStringList({"Adwaita", "Gnomish"}));
    EXPECT_EQ(mailIcon(), QColor(Qt::green));
    QIcon::setThemeName(QStringLiteral("hicolor"));
    EXPECT_EQ(follow(QByteArray("'Missing'\n")), QStringList({"Adwaita"}));
    QIcon::setThemeName(QStringLiteral("hicolor"));
    EXPECT_EQ(follow(std::nullopt), QStringList({"Adwaita"}));
    EXPECT_EQ(gsettingsRuns_, 3u);

    // Without Adwaita, breeze is the default.
    QIcon::setThemeName(QStringLiteral("hicolor"));
    ASSERT_TRUE(QDir(icons() + QStringLiteral("/Adwaita")).removeRecursively());
    EXPECT_EQ(follow(std::nullopt), QStringList({"breeze"}));
    EXPECT_EQ(mailIcon(), QColor(Qt::yellow));

    // A theme Qt's platform theme chose stays when no X settings name another.
    EXPECT_EQ(follow(QByteArray("'Gnomish'\n")), QStringList());
    EXPECT_EQ(gsettingsRuns_, 4u);

    // The XSETTINGS manager's theme comes first of all, and the GNOME setting is not asked.
    manager_.serveIconTheme("Fancy");
    EXPECT_EQ(follow(QByteArray("'Gnomish'\n")), QStringList({"Fancy"}));
    EXPECT_EQ(mailIcon(), QColor(Qt::blue));
    EXPECT_EQ(gsettingsRuns_, 4u);
    // One that is not installed, or a path, is passed over.
    for (const QByteArray& named : {QByteArray("Missing"), QByteArray("../icons/Gnomish"), QByteArray("hicolor")}) {
        SCOPED_TRACE(named.toStdString());
        QIcon::setThemeName(QStringLiteral("hicolor"));
        manager_.serveIconTheme(named);
        EXPECT_EQ(follow(QByteArray("'Gnomish'\n")), QStringList({"breeze", "Gnomish"}));
    }

    // A theme whose index changes is read again: Fancy now lists a larger folder first.
    QIcon::setThemeName(QStringLiteral("Fancy"));
    EXPECT_EQ(mailIcon(), QColor(Qt::blue));
    const QString fancy = icons() + QStringLiteral("/Fancy");
    ASSERT_TRUE(QDir().mkpath(fancy + QStringLiteral("/64x64/apps")));
    QImage larger(64, 64, QImage::Format_ARGB32);
    larger.fill(Qt::magenta);
    ASSERT_TRUE(larger.save(fancy + QStringLiteral("/64x64/apps/mail-message-new.png")));
    ASSERT_TRUE(testsupport::writeFile(fancy + QStringLiteral("/index.theme"),
                                       "[Icon Theme]\nName=Fancy\nInherits=hicolor\nDirectories=48x48/apps,64x64/apps\n\n"
                                       "[48x48/apps]\nSize=48\nType=Fixed\n\n[64x64/apps]\nSize=64\nType=Fixed\n"));
    EXPECT_EQ(mailIcon(), QColor(Qt::magenta));
}

// A theme the manager names that only another file system holds is looked for there by a worker,
// and taken once found, after the installed default stood in.
TEST_F(DesktopIconThemeTest, AThemeTheXSettingsManagerNamesOnAnotherFileSystemIsTakenOnceFoundThere) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    ASSERT_TRUE(testsupport::writeFile(mount->backingFolder() + QStringLiteral("/Remote/index.theme"),
                                       "[Icon Theme]\nName=Remote\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n"));
    QIcon::setThemeSearchPaths({mount->answeringFolder(), icons()});
    manager_.serveIconTheme("Remote");
    EXPECT_EQ(follow(std::nullopt), QStringList({"Adwaita", "Remote"}));
}

// The desktop's manager names another theme while the application runs, then quits and another
// starts: each theme it names is taken as it comes, on the event loop, and icons come from it.
TEST_F(DesktopIconThemeTest, EachThemeTheXSettingsManagerNamesLaterIsTakenAndItsIconsFound) {
    icon(QStringLiteral("Gnomish"), QStringLiteral("gnomish-only"), Qt::green);
    manager_.serveIconTheme("Fancy");
    platform::QtScheduler scheduler;
    testsupport::FakeProcessLauncher unused;
    DesktopIconTheme::Sources sources;
    sources.gsettings = QString();
    QStringList changes;
    const platform::AnyCancellable following =
        DesktopIconTheme::follow(scheduler, unused, [&changes](const QString& theme) { changes << theme; }, sources);
    EXPECT_EQ(changes, QStringList({"Fancy"}));
    EXPECT_TRUE(platform::DesktopEntries::icon(QStringLiteral("gnomish-only")).isNull());
    const auto taken = [&changes](const QString& theme) {
        return testsupport::spinUntil([&] { return !changes.isEmpty() && changes.back() == theme; });
    };

    manager_.serveIconTheme("Gnomish");
    ASSERT_TRUE(taken(QStringLiteral("Gnomish"))) << changes.join(u',').toStdString();
    EXPECT_EQ(mailIcon(), QColor(Qt::green));
    EXPECT_FALSE(platform::DesktopEntries::icon(QStringLiteral("gnomish-only")).isNull()) << "the missing answer stayed";

    // Settings that cannot be read, or that name a theme not installed, keep the theme.
    manager_.publish("\x05 not settings");
    manager_.serveIconTheme("Missing");
    manager_.serveIconTheme("breeze");
    ASSERT_TRUE(taken(QStringLiteral("breeze")));
    EXPECT_EQ(changes, QStringList({"Fancy", "Gnomish", "breeze"}));

    manager_.quit();
    manager_.serveIconTheme("Fancy");
    ASSERT_TRUE(taken(QStringLiteral("Fancy")));
    EXPECT_EQ(mailIcon(), QColor(Qt::blue));
    EXPECT_TRUE(unused.runs().empty());
}

}  // namespace
