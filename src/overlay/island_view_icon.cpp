// The island's icon: the notification's own picture when it is sharp enough, else the posting
// application's, else the bell; resolved again only when the application or the desktop's icon
// theme changes.

#include "overlay/island_view.h"

#include "core/app_icon_helper.h"
#include "core/format.h"
#include "core/image_helper.h"
#include "core/log.h"
#include "platform/workspace/icon_lookup.h"

#include <QIcon>

#include <utility>

namespace {

// The size in points, as the log lines print it.
QString sizeText(const QImage& image) {
    const QSizeF points = image.deviceIndependentSize();
    return format::size(points.width(), points.height());
}

bool isPresent(const std::optional<QString>& text) { return text && !text->isEmpty(); }

}  // namespace

void IslandView::updateCachedIcon() {
    Log& log = Log::shared();
    if (cachedIcon_ && cachedIconSourceHint_ == state_.sourceHint && cachedIconTheme_ == QIcon::themeName() &&
        !iconPending_)
        return;
    cachedIconTheme_ = QIcon::themeName();
    const bool retrying = std::exchange(iconPending_, false);
    if (!retrying) iconGiveUp_.cancel();
    // An icon still being looked up shows once it is found (iconFound); meanwhile the card shows
    // the notification's own small picture, else no icon: never another application's, nor the
    // bell it may not end with.
    const quint64 pending = platform::IconLookup::pendingAnswers();
    const auto stillLookingUp = [&](const std::optional<QImage>& meanwhile) {
        if (givingUp_ || platform::IconLookup::pendingAnswers() == pending) return false;
        iconPending_ = true;
        // A lookup that never ends (a file system that stopped answering) ends like a failed one,
        // a second after the resolution began.
        if (!iconGiveUp_.isPending()) {
            iconGiveUp_ = scheduler_.after(iconWait, lifetime_.wrap([this] {
                if (!iconPending_) return;
                givingUp_ = true;
                updateCachedIcon();
                givingUp_ = false;
                rebuild();
            }));
        }
        cachedIcon_ = meanwhile.value_or(QImage());
        cachedIconSourceHint_ = std::nullopt;
        cachedIconIsDefault_ = false;
        accentColor_ = std::nullopt;
        return true;
    };

    auto adopt = [this](const QImage& image, std::optional<QString> key) {
        cachedIcon_ = image;
        cachedIconSourceHint_ = std::move(key);
        cachedIconIsDefault_ = false;
        updateAccentColor(image);
    };

    // A small picture of the notification's own still beats the bell when nothing better is found.
    std::optional<QImage> smallImage;
    if (state_.appIconData) {
        const std::optional<QImage> image = ImageHelper::image(*state_.appIconData);
        if (image) {
            const QSizeF points = image->deviceIndependentSize();
            if (points.width() >= 128 && points.height() >= 128) {
                log.debug(QStringLiteral("IslandView: Using high-res icon from notification data (size: ") +
                          sizeText(*image) + QStringLiteral(")"));
                adopt(*image, state_.sourceHint);
                return;
            }
            log.debug(QStringLiteral("IslandView: Notification icon too small (size: ") + sizeText(*image) +
                      QStringLiteral("), trying to get higher resolution"));
            smallImage = image;
        } else {
            log.warning(QStringLiteral("IslandView: Failed to create image from notification data (") +
                        QString::number(state_.appIconData->size()) + QStringLiteral(" bytes)"));
        }
    } else {
        log.debug(QStringLiteral("IslandView: No icon data in notification"));
    }

    if (isPresent(state_.bundleId)) {
        const std::optional<QImage> icon = AppIconHelper::getIcon(std::nullopt, state_.bundleId);
        if (stillLookingUp(smallImage)) return;
        if (icon) {
            log.debug(QStringLiteral("IslandView: Using high-res icon from AppIconHelper for bundle ID '") +
                      *state_.bundleId + QStringLiteral("' (size: ") + sizeText(*icon) + QStringLiteral(")"));
            adopt(*icon, state_.sourceHint);
            return;
        }
    }

    if (state_.sourceHint) {
        const QString& hint = *state_.sourceHint;
        const std::optional<QImage> icon = AppIconHelper::getIcon(hint, std::nullopt);
        if (stillLookingUp(smallImage)) return;
        if (icon) {
            log.debug(QStringLiteral("IslandView: Using high-res icon from AppIconHelper for '") + hint +
                      QStringLiteral("' (size: ") + sizeText(*icon) + QStringLiteral(")"));
            adopt(*icon, hint);
            return;
        }
        log.warning(QStringLiteral("IslandView: Failed to get icon for app '") + hint + QStringLiteral("'"));
    }

    if (smallImage) {
        adopt(*smallImage, state_.sourceHint);
        return;
    }

    log.debug(QStringLiteral("IslandView: Using default notification icon"));
    cachedIcon_ = AppIconHelper::getDefaultNotificationIcon();
    cachedIconSourceHint_ = std::nullopt;
    cachedIconIsDefault_ = true;
    accentColor_ = std::nullopt;
}

void IslandView::iconFound() {
    // The card on screen follows a new theme at once, as the rest of the desktop does.
    if (!iconPending_ && cachedIconTheme_ == QIcon::themeName()) return;
    updateCachedIcon();
    rebuild();
}

void IslandView::updateAccentColor(const QImage& image) { accentColor_ = AppIconHelper::dominantColor(image); }

