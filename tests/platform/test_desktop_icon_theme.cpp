#include "platform/workspace/desktop_icon_theme.h"

#include "platform/workspace/desktop_entries.h"
#include "support/fake_process.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"
#include "support/virtual_scheduler.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

using platform::DesktopIconTheme;

// An _XSETTINGS_SETTINGS value: an integer, a colour, then the string settings given.
QByteArray xsettings(const std::vector<std::pair<QByteArray, QByteArray>>& strings, bool bigEndian = false) {
    QByteArray data;
    const auto card = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
            data.append(char((value >> shift) & 0xff));
        }
    };
    const auto pad = [&] {
        while (data.size() % 4) data.append('\0');
    };
    const auto header = [&](char type, const QByteArray& name) {
        data.append(type).append('\0');
        card(quint32(name.size()), 2);
        data.append(name);
        pad();
        card(7, 4);  // last-change serial
    };
    data.append(char(bigEndian ? 1 : 0)).append(QByteArray(3, '\0'));
    card(1, 4);  // serial
    card(quint32(strings.size() + 2), 4);
    header(0, "Net/DoubleClickTime");
    card(400, 4);
    header(2, "Gtk/Colour");
    card(1, 2), card(2, 2), card(3, 2), card(4, 2);
    for (const auto& [name, value] : strings) {
        header(1, name);
        card(quint32(value.size()), 4);
        data.append(value);
        pad();
    }
    return data;
}

TEST(DesktopIconTheme, XSettingsStringsAreReadInEitherByteOrderAndMalformedDataGivesNone) {
    const QByteArray name = "Net/IconThemeName";
    for (const bool bigEndian : {false, true}) {
        const QByteArray data = xsettings({{"Net/ThemeName", "Adwaita-dark"}, {name, "Papirus"}}, bigEndian);
        EXPECT_EQ(DesktopIconTheme::xsettingsString(data, name), QStringLiteral("Papirus")) << bigEndian;
        EXPECT_EQ(DesktopIconTheme::xsettingsString(data, "Net/ThemeName"), QStringLiteral("Adwaita-dark"));
        EXPECT_FALSE(DesktopIconTheme::xsettingsString(data, "Net/DoubleClickTime")) << "an integer is no name";
        EXPECT_FALSE(DesktopIconTheme::xsettingsString(data, "Net/Missing"));
        // Cut anywhere, the value is never read past the end.
        for (qsizetype size = 0; size < data.size(); ++size)
            EXPECT_FALSE(DesktopIconTheme::xsettingsString(data.left(size), name)) << size;
    }
    QByteArray lying = xsettings({{name, "Papirus"}});
    qToLittleEndian<quint32>(0x7fffffff, lying.data() + lying.size() - 12);  // the string's length
    EXPECT_FALSE(DesktopIconTheme::xsettingsString(lying, name));
    QByteArray unknownType = xsettings({{name, "Papirus"}});
    unknownType[12] = 5;
    EXPECT_FALSE(DesktopIconTheme::xsettingsString(unknownType, name));
    QByteArray unknownOrder = xsettings({{name, "Papirus"}});
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

    // Makes a window of ours the XSETTINGS manager of screen 0, naming `iconTheme`.
    void serveXSettings(const QByteArray& iconTheme) { publish(xsettings({{"Net/IconThemeName", iconTheme}})); }
    // Sets the manager's settings to `value`, as a manager does: on its first publication (or the
    // first after quitManager) a new window takes the selection and announces it on the root window.
    void publish(const QByteArray& value) {
        if (!c_) {
            c_ = xcb_connect(nullptr, nullptr);
            ASSERT_FALSE(xcb_connection_has_error(c_));
        }
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const bool starting = !manager_;
        if (starting) {
            manager_ = xcb_generate_id(c_);
            xcb_create_window(c_, XCB_COPY_FROM_PARENT, manager_, screen->root, 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        }
        const xcb_atom_t property = atom("_XSETTINGS_SETTINGS");
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, manager_, property, property, 8, uint32_t(value.size()),
                            value.constData());
        if (starting) {
            xcb_set_selection_owner(c_, manager_, atom("_XSETTINGS_S0"), XCB_CURRENT_TIME);
            xcb_client_message_event_t announce{};
            announce.response_type = XCB_CLIENT_MESSAGE;
            announce.format = 32;
            announce.window = screen->root;
            announce.type = atom("MANAGER");
            announce.data.data32[0] = XCB_CURRENT_TIME;
            announce.data.data32[1] = atom("_XSETTINGS_S0");
            announce.data.data32[2] = manager_;
            xcb_send_event(c_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announce));
        }
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));  // a round trip: all is done
    }
    // The manager ends: its window goes, and the selection with it.
    void quitManager() {
        xcb_destroy_window(c_, manager_);
        manager_ = 0;
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    xcb_atom_t atom(const QByteArray& name) {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
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
    xcb_connection_t* c_ = nullptr;
    xcb_window_t manager_ = 0;

public:
    ~DesktopIconThemeTest() override {
        if (c_) xcb_disconnect(c_);
    }
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
    serveXSettings("Fancy");
    EXPECT_EQ(follow(QByteArray("'Gnomish'\n")), QStringList({"Fancy"}));
    EXPECT_EQ(mailIcon(), QColor(Qt::blue));
    EXPECT_EQ(gsettingsRuns_, 4u);
    // One that is not installed, or a path, is passed over.
    for (const QByteArray& named : {QByteArray("Missing"), QByteArray("../icons/Gnomish"), QByteArray("hicolor")}) {
        SCOPED_TRACE(named.toStdString());
        QIcon::setThemeName(QStringLiteral("hicolor"));
        serveXSettings(named);
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
    serveXSettings("Remote");
    EXPECT_EQ(follow(std::nullopt), QStringList({"Adwaita", "Remote"}));
}

// The desktop's manager names another theme while the application runs, then quits and another
// starts: each theme it names is taken as it comes, on the event loop, and icons come from it.
TEST_F(DesktopIconThemeTest, EachThemeTheXSettingsManagerNamesLaterIsTakenAndItsIconsFound) {
    icon(QStringLiteral("Gnomish"), QStringLiteral("gnomish-only"), Qt::green);
    serveXSettings("Fancy");
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

    serveXSettings("Gnomish");
    ASSERT_TRUE(taken(QStringLiteral("Gnomish"))) << changes.join(u',').toStdString();
    EXPECT_EQ(mailIcon(), QColor(Qt::green));
    EXPECT_FALSE(platform::DesktopEntries::icon(QStringLiteral("gnomish-only")).isNull()) << "the missing answer stayed";

    // Settings that cannot be read, or that name a theme not installed, keep the theme.
    publish("\x05 not settings");
    serveXSettings("Missing");
    serveXSettings("breeze");
    ASSERT_TRUE(taken(QStringLiteral("breeze")));
    EXPECT_EQ(changes, QStringList({"Fancy", "Gnomish", "breeze"}));

    quitManager();
    serveXSettings("Fancy");
    ASSERT_TRUE(taken(QStringLiteral("Fancy")));
    EXPECT_EQ(mailIcon(), QColor(Qt::blue));
    EXPECT_TRUE(unused.runs().empty());
}

}  // namespace
