#pragma once

#include "core/app_icon_helper.h"
#include "core/event_bus.h"
#include "core/wall_clock.h"
#include "overlay/island_view.h"
#include "support/fake_notification_list.h"
#include "support/fake_scripting.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <memory>

namespace overlaytest {

// An overlay view on its own bus, with a scripted workspace and script runner, virtual time and
// in-memory settings; icon lookups never leave an empty temporary folder.
class IslandViewTest : public testsupport::QuillvexTest {
protected:
    IslandViewTest() : previousRoot_(AppIconHelper::setRoot(appRoot_.path())) {}
    ~IslandViewTest() override {
        view_.reset();
        AppIconHelper::setRoot(previousRoot_);
    }

    IslandView& view() {
        if (!view_) view_ = std::make_unique<IslandView>(nullptr, bus, scheduler(), defaults(), workspace);
        return *view_;
    }

    OverlayState visible(std::optional<QString> message, std::optional<QString> sourceHint = std::nullopt,
                         IslandMode mode = IslandMode::expanded) {
        return {true, mode, 1, wallClockNow(scheduler()), std::move(message), std::move(sourceHint), std::nullopt,
                std::nullopt};
    }
    OverlayState hidden(std::optional<QString> message) {
        OverlayState s = visible(std::move(message));
        s.isVisible = false;
        return s;
    }
    void send(const OverlayState& state) { bus.overlayStateSubject.send(state); }

    // Absolute virtual time.
    void at(double t) { scheduler().advance(t - scheduler().elapsed()); }

    static QByteArray png(int width, int height, const QColor& color = QColor(200, 30, 30)) {
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    void setStyle(const QString& raw) { defaults().set(QStringLiteral("overlayStyle"), raw); }
    void setTint(const QString& raw) { defaults().set(QStringLiteral("overlayTint"), raw); }
    void setShowAppName(bool on) { defaults().set(QStringLiteral("showAppNameInNotification"), on); }

    EventBus bus{scheduler()};
    testsupport::FakeWorkspace workspace;
    testsupport::FakeScriptRunner scripts;
    testsupport::FakeNotificationList notificationDaemon;

private:
    QTemporaryDir appRoot_;
    QString previousRoot_;
    std::unique_ptr<IslandView> view_;
};

}  // namespace overlaytest
