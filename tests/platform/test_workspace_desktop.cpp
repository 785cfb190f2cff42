// The Linux workspace's calls on the session bus: files shown by the file manager, and D-Bus
// activatable applications activated, against stand-ins on a private bus.

#include "platform/workspace/linux_workspace.h"

#include "support/fake_process.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"  // spinUntil
#include "support/service_fixtures.h"

#include <QDesktopServices>
#include <QDir>
#include <QObject>

#include <gtest/gtest.h>

namespace {

using testsupport::DBusMock;
using testsupport::spinUntil;

// Stands in for the desktop's handler of file URLs.
class FileUrlSink : public QObject {
    Q_OBJECT
public:
    FileUrlSink() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FileUrlSink() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

// The arguments of each call of `method` the mock has seen.
QList<QVariantList> callArguments(DBusMock& mock, const QString& method) {
    QList<QVariantList> result;
    const platform::DBusReply reply = mock.call(QStringLiteral("GetMethodCalls"), {method});
    for (const QVariant& call : reply.value(0).toList()) {
        const QVariantList parts = call.toList();
        if (parts.size() == 2) result << parts[1].toList();
    }
    return result;
}

class WorkspaceDesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error).release();
    }
    static void TearDownTestSuite() {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override {
        if (!bus) QUILLVEX_SERVICE_MISSING(error.toStdString());
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        env.unset("DISPLAY");
        env.set("XDG_DATA_HOME", home.path().toUtf8());
        env.set("XDG_DATA_DIRS", home.filePath(QStringLiteral("none")).toUtf8());
    }
    void writeEntry(const QString& id, const QByteArray& body) {
        ASSERT_TRUE(testsupport::writeFile(home.filePath(QStringLiteral("applications/") + id + QStringLiteral(".desktop")),
                                           "[Desktop Entry]\nType=Application\n" + body));
    }

    static inline testsupport::PrivateBus* bus = nullptr;
    static inline QString error;
    QTemporaryDir home;
    testsupport::ScopedEnvironment env;
    testsupport::FakeProcessLauncher launcher;
};

TEST_F(WorkspaceDesktopTest, TheFileManagerShowsTheFileSelectedElseItsFolderOpens) {
    platform::LinuxWorkspace workspace({}, launcher, &bus->connection());
    FileUrlSink desktop;
    const QUrl bundle = QUrl::fromLocalFile(QStringLiteral("/opt/Tools/Quill vex.app"));

    // No file manager on the bus: the folder opens.
    ASSERT_TRUE(workspace.activateFileViewerSelecting({bundle}));
    ASSERT_TRUE(spinUntil([&] { return !desktop.opened.isEmpty(); }));
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/opt/Tools"))});

    auto manager = DBusMock::startPlain(*bus, QStringLiteral("org.freedesktop.FileManager1"),
                                        QStringLiteral("/org/freedesktop/FileManager1"),
                                        QStringLiteral("org.freedesktop.FileManager1"), &error);
    ASSERT_TRUE(manager) << error.toStdString();
    ASSERT_TRUE(manager->addMethod(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"),
                                   QStringLiteral("ass"), {}, {}));
    ASSERT_TRUE(workspace.activateFileViewerSelecting({bundle}));
    ASSERT_TRUE(spinUntil([&] { return !callArguments(*manager, QStringLiteral("ShowItems")).isEmpty(); }));
    const QVariantList args = callArguments(*manager, QStringLiteral("ShowItems")).front();
    ASSERT_EQ(args.size(), 2);
    EXPECT_EQ(args[0].toStringList(), QStringList{QStringLiteral("file:///opt/Tools/Quill%20vex.app")});
    // It answered: nothing opens besides.
    spinUntil([] { return false; }, 0.2);
    EXPECT_EQ(desktop.opened.size(), 1);

    // Nothing but local files is shown.
    EXPECT_FALSE(workspace.activateFileViewerSelecting({QUrl(QStringLiteral("https://example.com/a"))}));
    EXPECT_FALSE(workspace.activateFileViewerSelecting({}));
}

TEST_F(WorkspaceDesktopTest, ADBusActivatableEntryIsActivatedOnTheBusAndRunOnlyWhenThatFails) {
    writeEntry(QStringLiteral("org.example.Gamma-Viewer"),
               "Name=Gamma\nExec=/bin/true --gamma\nDBusActivatable=true\n");
    writeEntry(QStringLiteral("org.example.Delta"), "Name=Delta\nExec=/bin/true --delta\n");
    platform::LinuxWorkspace workspace({}, launcher, &bus->connection());

    auto app = DBusMock::startPlain(*bus, QStringLiteral("org.example.Gamma-Viewer"),
                                    QStringLiteral("/org/example/Gamma_Viewer"),
                                    QStringLiteral("org.freedesktop.Application"), &error);
    ASSERT_TRUE(app) << error.toStdString();
    ASSERT_TRUE(app->addMethod(QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"),
                               QStringLiteral("a{sv}"), {}, {}));
    ASSERT_TRUE(workspace.launchApplicationWithBundleIdentifier(QStringLiteral("org.example.Gamma-Viewer")));
    EXPECT_TRUE(spinUntil([&] { return callArguments(*app, QStringLiteral("Activate")).size() == 1; }));
    spinUntil([] { return false; }, 0.2);
    EXPECT_TRUE(launcher.detachedStarts().empty());

    // Nobody answers to the name (the bus cannot start it): its program runs.
    app.reset();
    ASSERT_TRUE(workspace.launchApplicationWithBundleIdentifier(QStringLiteral("Gamma")));
    ASSERT_TRUE(spinUntil([&] { return launcher.detachedStarts().size() == 1; }));
    EXPECT_EQ(launcher.detachedStarts()[0].arguments, QStringList{QStringLiteral("--gamma")});

    // An ordinary entry runs at once.
    ASSERT_TRUE(workspace.launchApplicationWithBundleIdentifier(QStringLiteral("org.example.Delta")));
    ASSERT_EQ(launcher.detachedStarts().size(), 2u);
    EXPECT_EQ(launcher.detachedStarts()[1].arguments, QStringList{QStringLiteral("--delta")});
}

}  // namespace

#include "test_workspace_desktop.moc"
