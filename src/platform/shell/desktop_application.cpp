#include "platform/shell/desktop_application.h"

#include "platform/shell/main_bundle.h"

#include <QApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QWidget>

namespace platform {

DesktopApplication::DesktopApplication(SessionMonitor& session) : context_(std::make_unique<QObject>()) {
    // Quitting by other means (the session ending) still runs the delegate's will-terminate.
    if (auto* app = QCoreApplication::instance()) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, context_.get(), [this] { runWillTerminateOnce(); });
    }
    sessionActivity_ = session.observeSessionActive([this](bool active) {
        if (!active) sessionDidResignActive().send();
    });
}

DesktopApplication::~DesktopApplication() = default;

bool DesktopApplication::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    return true;
}

void DesktopApplication::activate(bool) {
    for (Window* window : windows().orderedWindows()) {
        if (!window->isVisible()) continue;
        window->widget()->raise();
        window->widget()->activateWindow();
        return;
    }
}

void DesktopApplication::terminate() {
    runWillTerminateOnce();
    // Queued, so that a terminate during start-up still ends the loop once it runs.
    if (auto* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void DesktopApplication::setApplicationIconImage(const QIcon& icon) { QApplication::setWindowIcon(icon); }

std::optional<QIcon> DesktopApplication::imageResource(const QString& name, const QString& extension) const {
    const QString folder = MainBundle::shared().bundlePath() + QStringLiteral("/Contents/Resources/");
    QStringList paths{folder + name + QLatin1Char('.') + extension};
    if (extension == QLatin1String("icns")) {
        paths << folder + name + QStringLiteral(".svg") << folder + name + QStringLiteral(".png");
    }
    for (const QString& path : paths) {
        if (!QFileInfo(path).isFile()) continue;
        QImageReader reader(path);
        if (reader.read().isNull()) continue;
        return QIcon(path);
    }
    return std::nullopt;
}

int DesktopApplication::run() {
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            // A signal that ended the application before the loop ran leaves nothing to launch.
            if (delegate() && !hasTerminated()) delegate()->applicationDidFinishLaunching();
        },
        Qt::QueuedConnection);
    return QApplication::exec();
}

}  // namespace platform
