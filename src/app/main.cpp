#include "app/desktop_app_updater.h"
#include "app/desktop_notch_features.h"
#include "app/quillvex_app.h"
#include "app/signal_quit.h"
#include "platform/shell/desktop_application.h"
#include "platform/shell/reopen_channel.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillvex"));
    QApplication::setOrganizationDomain(QStringLiteral("varnock.com"));
    QApplication::setQuitOnLastWindowClosed(false);

    platform::DesktopApplication application;
    platform::Application::setShared(&application);

    // A second start only asks the running instance to reopen, then ends.
    platform::ReopenChannel reopen(platform::ReopenChannel::defaultSocketPath(QStringLiteral("Quillvex")));
    if (reopen.start([&application] { application.handleReopen(); }) ==
        platform::ReopenChannel::Outcome::DeliveredToRunningInstance) {
        return 0;
    }

    DesktopNotchFeatures notchFeatures;
    AppDelegateEnvironment environment;
    environment.notchFeatures = &notchFeatures;
    DesktopAppUpdater updater;
    environment.updater = &updater;
    QuillvexApp quillvex(application, platform::StatusItem::Presentation::SystemTray, std::move(environment));
    // A signal ends the application like its Quit command: the delegate's shutdown runs first.
    SignalQuit signalQuit([&application] { application.terminate(); });
    const int status = application.run();
    platform::Application::setShared(nullptr);
    return status;
}
