#include "notch/expanded_player_view.h"

#include "core/app_settings.h"
#include "platform/workspace/desktop_entries.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

DrawItem item(DrawItem::Kind kind, const QString& key, const QRectF& frame, const QColor& color) {
    DrawItem d;
    d.kind = kind;
    d.key = key;
    d.frame = frame;
    d.color = color;
    return d;
}

DrawItem textLine(const QString& key, const QString& text, const QRectF& frame, const QFont& font, const QColor& color) {
    DrawItem d = item(DrawItem::Kind::text, key, frame, color);
    d.text = text;
    d.font = font;
    d.alignment = Qt::AlignLeft | Qt::AlignVCenter;
    return d;
}

QString controlKey(PlayerControl control) {
    switch (control) {
    case PlayerControl::shuffle: return QStringLiteral("player.control.shuffle");
    case PlayerControl::previous: return QStringLiteral("player.control.previous");
    case PlayerControl::playPause: return QStringLiteral("player.control.playPause");
    case PlayerControl::next: return QStringLiteral("player.control.next");
    case PlayerControl::repeat: return QStringLiteral("player.control.repeat");
    }
    return {};
}

}  // namespace

ExpandedPlayerView::ExpandedPlayerView(QWidget* parent, NotchViewServices services)
    : QWidget(parent),
      services_(std::move(services)),
      shuffleScale_(1.0, services_.scheduler),
      repeatScale_(1.0, services_.scheduler),
      lyricOpacity_(0.0, services_.scheduler),
      stripOpacity_(1.0, services_.scheduler) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    const GlanceSidePanel panel(glance_, now(), locale(), timeZone());
    glance_.selectedDate = panel.startOfDay(panel.today());
    auto redraw = [this] { update(); };
    redraws_.insert(shuffleScale_.onChange(redraw));
    redraws_.insert(repeatScale_.onChange(redraw));
    redraws_.insert(lyricOpacity_.onChange(redraw));
    redraws_.insert(stripOpacity_.onChange(redraw));
    redraws_.insert(services_.media.observe(redraw));
    // The three glance switches are bound to the defaults: a change shows at once.
    redraws_.insert(services_.defaults.didChange().sink([this](const QString& key) {
        if (key == AppSettings::enableGlanceKey || key == AppSettings::showCalendarKey ||
            key == AppSettings::showWeatherKey)
            update();
    }));
}

ExpandedPlayerView::~ExpandedPlayerView() = default;

QString ExpandedPlayerView::appDisplayName(const QString& bundleIdentifier, const platform::Workspace& workspace) {
    if (const auto location = workspace.urlForApplicationWithBundleIdentifier(bundleIdentifier)) {
        // On Linux the location is the application's desktop entry, which names it.
        if (location->endsWith(QLatin1String(".desktop"))) {
            if (const auto entry = platform::DesktopEntries::parse(*location, QString())) return entry->name;
        }
        const QString name = QFileInfo(*location).completeBaseName();
        if (!name.isEmpty()) return name;
    }
    const QStringList parts = bundleIdentifier.split(QLatin1Char('.'));
    return parts.isEmpty() ? bundleIdentifier : parts.last();
}

bool ExpandedPlayerView::showCalendar() const {
    return services_.defaults.boolValue(AppSettings::showCalendarKey).value_or(true);
}
bool ExpandedPlayerView::showWeather() const {
    return services_.defaults.boolValue(AppSettings::showWeatherKey).value_or(true);
}
bool ExpandedPlayerView::shouldShowGlancePanel() const {
    return services_.defaults.boolValue(AppSettings::enableGlanceKey).value_or(true) && (showCalendar() || showWeather());
}

QDateTime ExpandedPlayerView::now() const {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(services_.scheduler.wallNow().time_since_epoch()).count(),
        QTimeZone::utc());
}
QLocale ExpandedPlayerView::locale() const { return services_.locale ? services_.locale() : QLocale::system(); }
QTimeZone ExpandedPlayerView::timeZone() const {
    return services_.timeZone ? services_.timeZone() : QTimeZone::systemTimeZone();
}

GlanceSidePanel ExpandedPlayerView::glancePanel() {
    glance_.showCalendar = showCalendar();
    glance_.showWeather = showWeather();
    return GlanceSidePanel(glance_, now(), locale(), timeZone());
}

QColor ExpandedPlayerView::accentColor() const { return palette().color(QPalette::Highlight); }

// Appearance and subscriptions.

void ExpandedPlayerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    appear();
}

void ExpandedPlayerView::hideEvent(QHideEvent* event) {
    disappear();
    QWidget::hideEvent(event);
}

void ExpandedPlayerView::appear() {
    GlanceSidePanel panel = glancePanel();
    glance_.selectedDate = panel.startOfDay(panel.today());
    lyricsCancellable_ = services_.bus.lyricsSubject.receiveOnMain(&services_.scheduler)
                             .sink(lifetime_.wrap([this](const std::optional<LyricsInfo>& lyrics) { receiveLyrics(lyrics); }));
    subscribeToGlance();
    update();
}

void ExpandedPlayerView::disappear() {
    if (lyricsCancellable_) {
        lyricsCancellable_->cancel();
        lyricsCancellable_.reset();
    }
    glanceCancellables_.cancelAll();
}

void ExpandedPlayerView::subscribeToGlance() {
    glanceCancellables_.insert(services_.bus.calendarEventsSubject.receiveOnMain(&services_.scheduler)
                                   .sink(lifetime_.wrap([this](const QList<CalendarEvent>& events) {
                                       glance_.events = events;
                                       update();
                                   })));
    glanceCancellables_.insert(services_.bus.weatherInfoSubject.receiveOnMain(&services_.scheduler)
                                   .sink(lifetime_.wrap([this](const std::optional<WeatherInfo>& weather) {
                                       glance_.weatherInfo = weather;
                                       update();
                                   })));
    glanceCancellables_.insert(services_.bus.weatherLocationUnavailableSubject.receiveOnMain(&services_.scheduler)
                                   .sink(lifetime_.wrap([this](bool unavailable) {
                                       glance_.weatherLocationUnavailable = unavailable;
                                       update();
                                   })));
}

void ExpandedPlayerView::receiveLyrics(const std::optional<LyricsInfo>& lyrics) {
    std::optional<QString> line;
    if (lyrics && lyrics->currentLineIndex && *lyrics->currentLineIndex >= 0 &&
        *lyrics->currentLineIndex < lyrics->lines.size())
        line = lyrics->lines[*lyrics->currentLineIndex];
    const bool wasShown = currentLyric_ && !currentLyric_->isEmpty();
    const bool isShown = line && !line->isEmpty();
    currentLyric_ = line;
    const auto fade = platform::Animation::easeInOut(0.3);
    if (isShown) {
        displayedLyric_ = *line;
        if (!wasShown) {
            // Inserted: fades in from nothing.
            platform::withoutAnimation([&] { lyricOpacity_.set(0.0); });
            platform::withAnimation(fade, [&] { lyricOpacity_.set(1.0); }, {}, services_.scheduler);
        }
    } else if (wasShown) {
        // Removed: fades out, then gives up its space unless a line came back meanwhile.
        platform::withAnimation(fade, [&] { lyricOpacity_.set(0.0); }, lifetime_.wrap([this] {
            if (!(currentLyric_ && !currentLyric_->isEmpty())) displayedLyric_.clear();
            update();
        }), services_.scheduler);
    }
    update();
}

// Actions.

void ExpandedPlayerView::bounce(bool* flag, platform::Animated<double>& scale) {
    if (flag) *flag = !*flag;
    const auto spring = platform::Animation::spring(0.3, 0.5, 0);
    platform::withAnimation(spring, [&] { scale.set(bounceScale); }, {}, services_.scheduler);
    // Each tap schedules its own return; after the view is gone it has nothing left to move.
    services_.scheduler.after(bounceReturnDelay, lifetime_.wrap([this, &scale, spring] {
        platform::withAnimation(spring, [&] { scale.set(1.0); }, {}, services_.scheduler);
    }));
    update();
}

void ExpandedPlayerView::tapControl(PlayerControl control) {
    switch (control) {
    // A player with the setting is asked to change it, and its answer colours the button; for
    // any other the button keeps a look of its own.
    case PlayerControl::shuffle:
        bounce(services_.media.toggleShuffle() ? nullptr : &isShuffleActive_, shuffleScale_);
        break;
    case PlayerControl::repeat:
        bounce(services_.media.cycleLoopStatus() ? nullptr : &isRepeatActive_, repeatScale_);
        break;
    case PlayerControl::previous: services_.media.previousTrack(); break;
    case PlayerControl::playPause: services_.media.togglePlayPause(); break;
    case PlayerControl::next: services_.media.nextTrack(); break;
    }
}

void ExpandedPlayerView::tapDay(const QDate& day) {
    glancePanel().selectDay(day);
    update();
}

void ExpandedPlayerView::endStripDrag(double translationX) {
    if (!glancePanel().endStripDrag(translationX)) return;
    // The new week's chips come in with the swipe's spring.
    platform::withoutAnimation([&] { stripOpacity_.set(0.0); });
    platform::withAnimation(platform::Animation::spring(0.28, 0.9, 0), [&] { stripOpacity_.set(1.0); }, {},
                            services_.scheduler);
    update();
}

void ExpandedPlayerView::mousePressEvent(QMouseEvent* event) {
    pressPoint_ = event->position();
    event->accept();
}

void ExpandedPlayerView::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressPoint_) return;
    const QPointF start = *pressPoint_;
    pressPoint_.reset();
    const QPointF end = event->position();
    const ExpandedPlayerLayout current = layout();
    const QPointF moved = end - start;
    const double distance = std::hypot(moved.x(), moved.y());
    if (current.panel && current.panelHits.strip.contains(start)) {
        if (distance >= GlanceSidePanel::swipeMinimumDistance) {
            endStripDrag(moved.x());
            return;
        }
        for (const auto& chip : current.panelHits.chips)
            if (chip.frame.contains(end)) tapDay(chip.day);
        return;
    }
    for (const auto& [control, frame] : current.controls) {
        // Buttons answer where the pointer is let go, as a plain button does.
        if (frame.adjusted(-4, -4, 4, 4).contains(end) && frame.adjusted(-4, -4, 4, 4).contains(start)) {
            tapControl(control);
            return;
        }
    }
}

void ExpandedPlayerView::setSurfaceClip(const std::optional<QPainterPath>& clip) {
    surfaceClip_ = clip;
    update();
}

void ExpandedPlayerView::setContentOpacity(double opacity) {
    if (opacity == contentOpacity_) return;
    contentOpacity_ = opacity;
    update();
}

// Layout.

ExpandedPlayerLayout ExpandedPlayerView::layout(const QSizeF& size) const {
    ExpandedPlayerLayout out;
    const double width = size.width();
    const double height = size.height();
    const double contentHeight = std::max(0.0, height - 2 * padding);
    const bool withPanel = shouldShowGlancePanel();

    // Artwork, centred in the row.
    const QRectF artwork(padding, padding + (contentHeight - artworkSize) / 2, artworkSize, artworkSize);
    DrawItem shadow = item(DrawItem::Kind::shadow, QStringLiteral("player.artwork.shadow"), artwork.translated(0, 4),
                           QColor::fromRgbF(0, 0, 0, 0.3f));
    shadow.cornerRadius = 12;
    shadow.lineWidth = 8;
    out.drawing.add(shadow);
    const std::optional<NowPlayingInfo> track = services_.media.nowPlaying();
    if (track && track->artwork && !track->artwork->isNull()) {
        DrawItem image = item(DrawItem::Kind::image, QStringLiteral("player.artwork"), artwork, {});
        image.image = *track->artwork;
        image.cornerRadius = 12;
        out.drawing.add(image);
    } else {
        DrawItem placeholder = item(DrawItem::Kind::fill, QStringLiteral("player.artwork.placeholder"), artwork, whiteAt(0.1));
        placeholder.cornerRadius = 12;
        out.drawing.add(placeholder);
        DrawItem note = item(DrawItem::Kind::symbol, QStringLiteral("player.artwork.symbol"),
                             QRectF(artwork.center() - QPointF(16, 16), QSizeF(32, 32)), whiteAt(0.5));
        note.symbol = QStringLiteral("music.note");
        out.drawing.add(note);
    }

    // The fixed parts: padding, artwork, spacing on both sides of the divider, the divider and
    // the panel; the main column takes what is left.
    const double mainX = padding + artworkSize + rowSpacing;
    const double fixed = withPanel ? mainX + rowSpacing + 1 + rowSpacing + glancePanelWidth + padding : mainX + padding;
    const double mainWidth = std::max(0.0, width - fixed);
    out.mainColumn = QRectF(mainX, padding, mainWidth, contentHeight);
    layoutMainColumn(out, out.mainColumn);

    if (withPanel) {
        const double dividerX = mainX + mainWidth + rowSpacing;
        out.divider = QRectF(dividerX, padding + 6, 1, std::max(0.0, contentHeight - 12));
        out.drawing.add(item(DrawItem::Kind::fill, QStringLiteral("player.divider"), *out.divider, whiteAt(0.12)));
        out.panel = QRectF(dividerX + 1 + rowSpacing, padding, glancePanelWidth, contentHeight);
        GlancePanelState state = glance_;
        state.showCalendar = showCalendar();
        state.showWeather = showWeather();
        const GlancePanelLayout panel =
            GlanceSidePanel(state, now(), locale(), timeZone()).layout(out.panel->size(), stripOpacity_.value());
        out.drawing.append(panel.drawing, out.panel->left(), out.panel->top());
        out.panelHits = panel.hits;
        out.panelHits.strip.translate(out.panel->topLeft());
        for (auto& chip : out.panelHits.chips) chip.frame.translate(out.panel->topLeft());
    }
    return out;
}

void ExpandedPlayerView::layoutMainColumn(ExpandedPlayerLayout& out, const QRectF& column) const {
    const std::optional<NowPlayingInfo> track = services_.media.nowPlaying();
    double y = column.top();

    // Song information: title, artist and, when there is one, the album.
    const QFont titleFont = notchFont(14, QFont::DemiBold);
    const QFont artistFont = notchFont(12, QFont::Normal);
    const QFont albumFont = notchFont(11, QFont::Normal);
    const QString title = track && track->title ? *track->title : QStringLiteral("Not Playing");
    out.drawing.add(textLine(QStringLiteral("player.title"), title, QRectF(column.left(), y, column.width(), lineHeight(titleFont)),
                             titleFont, QColor(Qt::white)));
    y += lineHeight(titleFont) + 2;
    const QString artist = track && track->artist ? *track->artist : QString();
    out.drawing.add(textLine(QStringLiteral("player.artist"), artist,
                             QRectF(column.left(), y, column.width(), lineHeight(artistFont)), artistFont, whiteAt(0.7)));
    y += lineHeight(artistFont);
    if (track && track->album && !track->album->isEmpty()) {
        y += 2;
        out.drawing.add(textLine(QStringLiteral("player.album"), *track->album,
                                 QRectF(column.left(), y, column.width(), lineHeight(albumFont)), albumFont, whiteAt(0.5)));
        y += lineHeight(albumFont);
    }

    // Controls, centred on one row; shuffle and repeat only for the native players.
    y += 8 + 4;
    const bool browser = services_.media.isBrowserMedia();
    const double rowHeight = 22;
    struct Button {
        PlayerControl control;
        QString symbol;
        double size;
        QColor color;
        double scale;
    };
    std::vector<Button> buttons;
    const QColor accent = accentColor();
    const std::optional<bool> playerShuffle = services_.media.shuffle();
    const std::optional<QString> loopStatus = services_.media.loopStatus();
    const bool shuffleActive = playerShuffle.value_or(isShuffleActive_);
    const bool repeatActive = loopStatus ? *loopStatus != QLatin1String("None") : isRepeatActive_;
    if (!browser)
        buttons.push_back({PlayerControl::shuffle, QStringLiteral("shuffle"), 14, shuffleActive ? accent : whiteAt(0.6),
                           shuffleScale_.value()});
    buttons.push_back({PlayerControl::previous, QStringLiteral("backward.fill"), 16, QColor(Qt::white), 1});
    buttons.push_back({PlayerControl::playPause,
                       services_.media.isPlaying() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"), 22,
                       QColor(Qt::white), 1});
    buttons.push_back({PlayerControl::next, QStringLiteral("forward.fill"), 16, QColor(Qt::white), 1});
    if (!browser)
        buttons.push_back({PlayerControl::repeat,
                           loopStatus == QLatin1String("Track") ? QStringLiteral("repeat.1") : QStringLiteral("repeat"), 14,
                           repeatActive ? accent : whiteAt(0.6), repeatScale_.value()});
    double x = column.left();
    for (const Button& button : buttons) {
        const QRectF frame(x, y + (rowHeight - button.size) / 2, button.size, button.size);
        DrawItem symbol = item(DrawItem::Kind::symbol, controlKey(button.control), frame, button.color);
        symbol.symbol = button.symbol;
        symbol.scale = button.scale;
        out.drawing.add(symbol);
        out.controls[button.control] = frame;
        x += button.size + 20;
    }
    y += rowHeight + 8;

    // The lyric line, or the source application of a browser track.
    const QFont lineFont = notchFont(11, QFont::Medium);
    if (browser) {
        if (!track || !track->bundleIdentifier) return;
        y += 2;
        const QString bundle = *track->bundleIdentifier;
        double textX = column.left();
        if (const auto location = services_.workspace.urlForApplicationWithBundleIdentifier(bundle)) {
            const QIcon icon = services_.workspace.iconForFile(*location);
            if (!icon.isNull()) {
                DrawItem image = item(DrawItem::Kind::image, QStringLiteral("player.source.icon"),
                                      QRectF(textX, y + (lineHeight(lineFont) - 14) / 2, 14, 14), {});
                image.image = icon.pixmap(28, 28).toImage();
                out.drawing.add(image);
                textX += 14 + 4;
            }
        }
        out.drawing.add(textLine(QStringLiteral("player.source.name"), appDisplayName(bundle, services_.workspace),
                                 QRectF(textX, y, std::max(0.0, column.right() - textX), lineHeight(lineFont)), lineFont,
                                 whiteAt(0.5)));
        return;
    }
    if (displayedLyric_.isEmpty()) return;
    y += 2;
    DrawItem lyric = textLine(QStringLiteral("player.lyric"), displayedLyric_,
                              QRectF(column.left(), y, column.width(), lineHeight(lineFont)), lineFont, whiteAt(0.6));
    lyric.opacity = lyricOpacity_.value();
    out.drawing.add(lyric);
}

// Painting.

void ExpandedPlayerView::paintContent(QPainter& painter) const {
    if (contentOpacity_ <= 0) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (surfaceClip_) painter.setClipPath(*surfaceClip_, Qt::IntersectClip);
    painter.setOpacity(painter.opacity() * contentOpacity_);
    layout().drawing.paint(painter);
    painter.restore();
}

void ExpandedPlayerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintContent(painter);
}
