#include "notch/mini_player_view_model.h"

#include "core/app_settings.h"
#include "core/format.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kDynamicColorMode = QStringLiteral("dynamic");

bool isPlaying(const std::optional<NowPlayingInfo>& info) { return info && info->playbackRate > 0; }

platform::Animation revealAnimation() { return platform::Animation::spring(0.5, 0.72, 0).delay(0.08); }
platform::Animation fadeInAnimation() { return platform::Animation::easeOut(0.3).delay(0.2); }
platform::Animation flipSettleAnimation() { return platform::Animation::spring(0.25, 0.7, 0); }

}  // namespace

MiniPlayerViewModel::MiniPlayerViewModel(const MiniPlayerEnvironment& environment)
    : bus_(environment.bus ? *environment.bus : EventBus::shared()),
      scheduler_(environment.scheduler ? *environment.scheduler : platform::Scheduler::shared()),
      defaults_(environment.defaults ? *environment.defaults : platform::Defaults::standard()),
      screens_(environment.screens ? *environment.screens : platform::Screens::shared()),
      media_(environment.media ? *environment.media : MiniPlayerMedia::shared()),
      flipAngle_(0.0, scheduler_),
      pillReveal_(0.0, scheduler_),
      contentOpacity_(0.0, scheduler_) {
    observedArtworkKey_ = artworkKey();
    subscriptions_.insert(flipAngle_.onChange([this] { notify(); }));
    subscriptions_.insert(pillReveal_.onChange([this] { notify(); }));
    subscriptions_.insert(contentOpacity_.onChange([this] { notify(); }));
    subscriptions_.insert(media_.observe(lifetime_.wrap([this] { mediaChanged(); })));
    subscriptions_.insert(bus_.nowPlayingSubject.sink(
        lifetime_.wrap([this](const std::optional<NowPlayingInfo>& info) { nowPlayingChanged(info); })));
}

MiniPlayerViewModel::~MiniPlayerViewModel() {
    lifetime_.reset();
    dismissCancellable_.reset();
    subscriptions_.cancelAll();
}

platform::AnyCancellable MiniPlayerViewModel::onChange(std::function<void()> listener) {
    return changed_.sink(std::move(listener));
}

void MiniPlayerViewModel::appear() {
    isShown_ = true;
    reveal();
    dismissCancellable_.reset();
    dismissCancellable_ = bus_.miniPlayerDismissSubject.sink(std::function<void()>(lifetime_.wrap([this] { playDismiss(); })));
}

void MiniPlayerViewModel::reveal() {
    isDismissed_ = false;
    syncDisplayedArtwork();
    platform::withoutAnimation([&] {
        pillReveal_.set(0);
        contentOpacity_.set(0);
    });
    pillReveal_.animate(1, revealAnimation());
    contentOpacity_.animate(1, fadeInAnimation());
    notify();
}

void MiniPlayerViewModel::disappear() {
    isShown_ = false;
    dismissCancellable_.reset();
}

void MiniPlayerViewModel::playDismiss() {
    isDismissed_ = true;
    contentOpacity_.animate(0, platform::Animation::easeIn(0.12));
    pillReveal_.animate(0, platform::Animation::spring(0.3, 0.85, 0).delay(0.05));
}

// The notch state manager leaves the mode alone when music resumes in the last moments of a
// dismiss; without a new appearance the pills would stay retracted while music plays.
void MiniPlayerViewModel::nowPlayingChanged(const std::optional<NowPlayingInfo>& info) {
    if (isShown_ && isDismissed_ && isPlaying(info)) reveal();
}

void MiniPlayerViewModel::syncDisplayedArtwork() {
    const auto nowPlaying = media_.nowPlaying();
    if (nowPlaying && nowPlaying->artwork) {
        displayedArtwork_ = nowPlaying->artwork;
    } else if (auto last = media_.lastArtwork()) {
        displayedArtwork_ = std::move(last);
    }
    displayedArtworkKey_ = artworkKey();
    notify();
}

void MiniPlayerViewModel::mediaChanged() {
    const QString key = artworkKey();
    if (key != observedArtworkKey_) {
        observedArtworkKey_ = key;
        handleArtworkChange();
    }
    notify();
}

void MiniPlayerViewModel::handleArtworkChange() {
    if (!media_.nowPlaying()) return;
    if (artworkKey() == displayedArtworkKey_) return;
    if (isFlipping_) {
        syncDisplayedArtwork();
        return;
    }
    isFlipping_ = true;
    ++flipCount_;
    flipAngle_.animate(90, platform::Animation::easeIn(flipStepDuration));
    scheduler_.after(flipStepDuration, lifetime_.wrap([this] {
        syncDisplayedArtwork();
        flipAngle_.animate(180, platform::Animation::easeOut(flipStepDuration));
        scheduler_.after(flipStepDuration, lifetime_.wrap([this] {
            // The pill's own spring on the angle carries this plain change.
            flipAngle_.animate(0, flipSettleAnimation());
            isFlipping_ = false;
            notify();
        }));
    }));
}

QColor MiniPlayerViewModel::notchBackgroundColor() const {
    if (defaults_.stringValue(AppSettings::musicNotchColorModeKey) != kDynamicColorMode) return Qt::black;
    auto color = media_.artworkDominantColor();
    if (!color) return Qt::black;
    color->setAlphaF(0.85f);
    return *color;
}

QColor MiniPlayerViewModel::accentColor() const {
    if (auto color = media_.artworkDominantColor()) return *color;
    return QColor::fromRgbF(1, 1, 1, 0.9f);
}

QString MiniPlayerViewModel::artworkKey() const {
    const auto info = media_.nowPlaying();
    QSizeF size(0, 0);
    if (info && info->artwork) size = info->artwork->deviceIndependentSize();
    const auto part = [](const std::optional<QString>& text) { return text.value_or(QString()); };
    return (info ? part(info->title) : QString()) + u'|' + (info ? part(info->artist) : QString()) + u'|' +
           (info ? part(info->album) : QString()) + u'|' + format::number(size.width()) + u'x' +
           format::number(size.height());
}

NotchInfo MiniPlayerViewModel::notchInfo() const {
    const auto list = screens_.screens();
    if (!list.empty()) return NotchInfo::detect(list.front());
    if (const auto main = screens_.mainScreen()) return NotchInfo::detect(*main);
    return NotchInfo{};
}

double MiniPlayerViewModel::cornerRadius() const {
    return cornerRadius(defaults_.doubleValue(AppSettings::dynamicIslandCornerRadiusKey));
}

double MiniPlayerViewModel::cornerRadius(std::optional<double> stored) {
    // An infinite value would otherwise clamp to the largest radius; it is no real setting.
    const double value = (stored && std::isfinite(*stored) && *stored > 0) ? *stored : AppSettings::defaultCornerRadius;
    return std::clamp(value, AppSettings::minCornerRadius, AppSettings::maxCornerRadius);
}

MiniPlayerLayout MiniPlayerViewModel::layout(double reveal) {
    MiniPlayerLayout out;
    const double pill = std::max(0.0, targetPillWidth * reveal);
    out.size = QSizeF(pill + notchWidth + pill, pillHeight);
    out.leftPill = QRectF(0, 0, pill, pillHeight);
    out.middle = QRectF(pill, 0, notchWidth, pillHeight);
    out.rightPill = QRectF(pill + notchWidth, 0, pill, pillHeight);
    const QPointF centre = out.leftPill.center();
    out.artwork = QRectF(centre.x() - artworkSize / 2, centre.y() - artworkSize / 2, artworkSize, artworkSize);
    out.symbol = QRectF(centre.x() - symbolSize / 2, centre.y() - symbolSize / 2, symbolSize, symbolSize);
    out.topLine = QRectF(topLineInset, 0, std::max(0.0, out.size.width() - 2 * topLineInset), 1);
    return out;
}
