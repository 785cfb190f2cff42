#include "app/desktop_app_updater.h"
#include "app/desktop_notch_features.h"
#include "app/quillvex_app.h"
#include "app/signal_quit.h"
#include "core/app_icon_helper.h"
#include "core/log.h"
#include "core/qt_translation.h"
#include "core/ui_fonts.h"
#include "drop/bluetooth_device_chooser.h"
#include "permissions/notification_database_locations.h"
#include "platform/accessibility/accessibility.h"
#include "platform/calendar/calendar_store.h"
#include "platform/notification_store/desktop_notification_recorder.h"
#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"
#include "platform/shell/desktop_application.h"
#include "platform/shell/reopen_channel.h"
#include "platform/storage/defaults.h"
#include "platform/workspace/cursor_folders.h"
#include "platform/workspace/desktop_icon_theme.h"

#include <QApplication>
#include <QIcon>

#include <optional>

int main(int argc, char** argv) {
    // A cursor folder on a file system that stopped answering must not freeze the first window.
    platform::keepCursorFoldersLocal();
    // Windows are drawn without shared memory with the X server: with it, Qt waits for the server
    // (a round trip) before every paint into an area it sent before, which an animation does each
    // frame. Without it each frame sends only the area it changed, into a server-side copy of the
    // window that Qt keeps. Applications the user opens from here do not inherit the choice.
    const bool shmChosen = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    if (!shmChosen) qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    if (!shmChosen) qunsetenv("QT_XCB_NO_MITSHM");
    QApplication::setApplicationName(QStringLiteral("Quillvex"));
    QApplication::setOrganizationDomain(QStringLiteral("varnock.com"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Japanese texts keep the weight of the Latin ones they stand beside.
    QApplication::setFont(UiFonts::withJapaneseFallback(QApplication::font()));
    // Qt's own messages (a network error the updater shows, a dialog's buttons) speak the
    // application's language, not the system's.
    QtTranslation qtTranslation;

    // Every notification of an application asks for the same icon: look it up once.
    AppIconHelper::setRemembering(true);
    QIcon::setThemeSearchPaths(platform::DesktopIconTheme::searchPaths());
    // Qt's generic platform theme searches hicolor alone, which lacks most names notifications give.
    // The desktop's theme is followed for as long as the application runs.
    const platform::AnyCancellable iconTheme = platform::DesktopIconTheme::follow(
        platform::Scheduler::shared(), platform::ProcessLauncher::system(), [](const QString&) {
            AppIconHelper::setRemembering(false);  // forgets answers of the old theme
            AppIconHelper::setRemembering(true);
        });

    platform::DesktopApplication application;
    platform::Application::setShared(&application);
    // Dropped files sent over Bluetooth go to the paired device the user picks here.
    BluetoothDeviceChooser deviceChooser;
    platform::NearbyDeviceChooser::setShared(&deviceChooser);

    // A second start only asks the running instance to reopen, then ends. Without a private
    // place for the socket the application runs on without the channel rather than not at all.
    QString reopenProblem;
    const auto socketPath = platform::ReopenChannel::defaultSocketPath(QStringLiteral("Quillvex"), &reopenProblem);
    std::optional<platform::ReopenChannel> reopen;
    reopen.emplace(socketPath.value_or(QString()));
    if (socketPath) {
        const auto outcome = reopen->start([&application] { application.handleReopen(); });
        if (outcome == platform::ReopenChannel::Outcome::DeliveredToRunningInstance) return 0;
        if (outcome == platform::ReopenChannel::Outcome::Unavailable) reopenProblem = reopen->problem();
    }
    if (!reopenProblem.isEmpty())
        Log::shared().warning(QStringLiteral("Reopen channel unavailable, running without it: ") + reopenProblem);

    // The calendar store starts reaching its registry on a worker now, while the rest starts: the
    // access check at launch then seldom waits for the bus.
    platform::CalendarStore::shared();
    // Likewise the accessibility reader: its first answer on trust and on the notification daemon
    // is then known by the time the runtime start asks.
    platform::Accessibility::shared();

    // Desktop notifications reach the detector through the store this records them in; it is
    // created here, before detection looks for it.
    platform::DesktopNotificationRecorder::Options recorderOptions;
    recorderOptions.storePath = NotificationDatabaseLocations::fixedCandidates(
        NotificationDatabaseLocations::resolveHome(platform::UserDirectories::system()).resolved).first();
    std::optional<platform::DesktopNotificationRecorder> notificationRecorder;
    notificationRecorder.emplace(recorderOptions);
    notificationRecorder->setNoticeHandler([](const auto& notice) {
        const QString line = QStringLiteral("DesktopNotificationRecorder: ") + notice.text;
        notice.warning ? Log::shared().warning(line) : Log::shared().info(line);
    });
    notificationRecorder->start([path = notificationRecorder->storePath()](const auto& status) {
        if (status.recording)
            Log::shared().info(QStringLiteral("DesktopNotificationRecorder: Recording desktop notifications into '") +
                               path + u'\'');
        else
            Log::shared().warning(QStringLiteral("DesktopNotificationRecorder: Cannot record desktop notifications - ") +
                                  status.reason);
    });

    // The settings file is the user's too: what they change in it while we run applies at once.
    platform::Defaults::standard().followStorageChanges();

    DesktopNotchFeatures notchFeatures;
    AppDelegateEnvironment environment;
    environment.notchFeatures = &notchFeatures;
    DesktopAppUpdater updater;
    environment.updater = &updater;
    QuillvexApp quillvex(application, platform::StatusItem::Presentation::SystemTray, std::move(environment));
    // A signal ends the application like its Quit command: the delegate's shutdown runs first.
    SignalQuit signalQuit([&application] { application.terminate(); });
    // Losing the display ends the process from inside Qt: the same shutdown, the socket removed.
    ExitShutdown exitShutdown([&application, &notificationRecorder, &reopen] {
        application.terminate();
        notificationRecorder.reset();
        reopen.reset();
    });
    const int status = application.run();
    platform::NearbyDeviceChooser::setShared(nullptr);
    platform::Application::setShared(nullptr);
    return status;
}
