#include "platform/workspace/linux_workspace.h"

#include "platform/shell/main_bundle.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QWidget>

namespace platform {

std::vector<RunningApplication> LinuxWorkspace::runningApplications() const {
    RunningApplication self;
    self.processIdentifier = QCoreApplication::applicationPid();
    self.bundleIdentifier = MainBundle::shared().bundleIdentifier();
    const QString name = QGuiApplication::applicationDisplayName();
    if (!name.isEmpty()) self.localizedName = name;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QIcon icon = QGuiApplication::windowIcon();
        if (!icon.isNull()) self.icon = icon;
    }
    return {self};
}

std::optional<QString> LinuxWorkspace::urlForApplicationWithBundleIdentifier(const QString&) const {
    return std::nullopt;
}

QIcon LinuxWorkspace::genericIcon() {
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(142, 142, 147));
    painter.drawRoundedRect(QRectF(12, 12, 104, 104), 24, 24);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

QIcon LinuxWorkspace::iconForFile(const QString& path) const {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QAbstractFileIconProvider provider;
        const QIcon icon = provider.icon(QFileInfo(path));
        if (!icon.isNull() && !icon.pixmap(64).isNull()) return icon;
    }
    return genericIcon();
}

bool LinuxWorkspace::openUrl(const QUrl& url) {
    // Only schemes a Linux desktop can hand on; the system-settings deep links have no handler here,
    // and passing them on would only make the desktop complain.
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file"),
                                     QStringLiteral("mailto")};
    return url.isValid() && schemes.contains(url.scheme().toLower()) && QDesktopServices::openUrl(url);
}

bool LinuxWorkspace::launchApplicationWithBundleIdentifier(const QString&) { return false; }

bool LinuxWorkspace::launchApplicationNamed(const QString&) { return false; }

bool LinuxWorkspace::activateApplication(qint64 processIdentifier, bool) {
    if (processIdentifier != QCoreApplication::applicationPid()) return false;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        window->raise();
        window->activateWindow();
    }
    return true;
}

}  // namespace platform
