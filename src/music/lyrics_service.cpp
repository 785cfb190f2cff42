#include "music/lyrics_service.h"

#include "core/log.h"
#include "music/media_remote_service.h"

#include <algorithm>

LyricsService& LyricsService::shared() {
    static LyricsService service;
    return service;
}

LyricsService::LyricsService(EventBus& bus, platform::Scheduler& scheduler, TrackLyricsSource* source,
                             PlayPositionSource* positions)
    : bus_(bus),
      scheduler_(scheduler),
      source_(source),
      positions_(positions),
      pollTimer_(scheduler, kPollInterval, [this] { updateCurrentLine(); }) {}

LyricsService::~LyricsService() = default;

QString LyricsService::lyricsKey(const QString& title, const QString& artist) { return title + QStringLiteral(":::") + artist; }

QStringList LyricsService::splitLines(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        bool blank = true;
        for (QChar c : line) {
            if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) {
                blank = false;
                break;
            }
        }
        if (!blank) lines.append(line);
    }
    return lines;
}

std::optional<double> LyricsService::playPosition(const std::optional<NowPlayingInfo>& info, double secondsSinceRead) {
    if (!info || !info->elapsedTime || !(*info->elapsedTime >= 0)) return std::nullopt;
    double elapsed = *info->elapsedTime;
    if (info->playbackRate > 0 && secondsSinceRead > 0) elapsed += secondsSinceRead * info->playbackRate;
    return elapsed;
}

int LyricsService::lineIndex(int lineCount, const std::optional<NowPlayingInfo>& info, double secondsSinceRead) {
    if (!info) return 0;
    return lineIndex(lineCount, info->duration, playPosition(info, secondsSinceRead));
}

int LyricsService::lineIndex(int lineCount, std::optional<double> duration, std::optional<double> position) {
    if (lineCount <= 0 || !duration || !(*duration > 0) || !position || !(*position >= 0)) return 0;
    const double progress = std::clamp(*position / *duration, 0.0, 1.0);
    return std::min(lineCount - 1, static_cast<int>(progress * lineCount));
}

void LyricsService::start() {
    if (!source_) {
        source_ = &MediaRemoteService::shared();
        if (!positions_) positions_ = &MediaRemoteService::shared();
    }
    // The same title and artist is the same lyrics; nothing playing counts as neither.
    auto sameTrack = [](const std::optional<NowPlayingInfo>& a, const std::optional<NowPlayingInfo>& b) {
        const auto title = [](const std::optional<NowPlayingInfo>& i) { return i ? i->title : std::nullopt; };
        const auto artist = [](const std::optional<NowPlayingInfo>& i) { return i ? i->artist : std::nullopt; };
        return title(a) == title(b) && artist(a) == artist(b);
    };
    // Every publication, the same track's included, brings the position as read just before.
    cancellables_.insert(bus_.nowPlayingSubject.sink(lifetime_.wrap([this](const std::optional<NowPlayingInfo>&) {
        publishedAt_ = scheduler_.monotonicSeconds();
        lastRead_.reset();
    })));
    if (positions_) {
        cancellables_.insert(
            positions_->onPlayPosition(lifetime_.wrap([this](const PlayPosition& read) { handlePositionRead(read); })));
    }
    cancellables_.insert(bus_.nowPlayingSubject.removeDuplicates(sameTrack)
                             .receiveOnMain(&scheduler_)
                             .sink(lifetime_.wrap([this](const std::optional<NowPlayingInfo>& info) { handleTrackChange(info); })));
    pollTimer_.start();
    tickOnlyWithLines();
    Log::shared().info(QStringLiteral("LyricsService: Started"));
}

void LyricsService::stop() {
    // Fetches still under way belong to this run: their results must not land in the next one.
    lifetime_.reset();
    pollTimer_.stop();
    cancellables_.cancelAll();
    lyricsCache_.clear();
    currentTrackKey_.reset();
    lastRead_.reset();
    sentIndex_.reset();
    bus_.lyricsSubject.send(std::nullopt);
    Log::shared().info(QStringLiteral("LyricsService: Stopped"));
}

bool LyricsService::hasCurrentLines() const {
    if (!currentTrackKey_) return false;
    const auto entry = lyricsCache_.constFind(*currentTrackKey_);
    return entry != lyricsCache_.cend() && !entry->lines.isEmpty();
}

void LyricsService::tickOnlyWithLines() {
    if (hasCurrentLines()) {
        pollTimer_.resume();
    } else {
        pollTimer_.pause();
    }
}

void LyricsService::handleTrackChange(const std::optional<NowPlayingInfo>& info) {
    sentIndex_.reset();
    if (!info || !info->title || !info->artist) {
        currentTrackKey_.reset();
        tickOnlyWithLines();
        bus_.lyricsSubject.send(std::nullopt);
        return;
    }
    const QString title = *info->title;
    const QString key = lyricsKey(title, *info->artist);
    currentTrackKey_ = key;
    tickOnlyWithLines();

    if (auto cached = lyricsCache_.constFind(key); cached != lyricsCache_.cend()) {
        Log::shared().debug(QStringLiteral("LyricsService: Using cached lyrics for ") + title);
        if (cached->lines.isEmpty()) {
            bus_.lyricsSubject.send(std::nullopt);  // blank lyrics: none, not the last track's
        } else {
            updateCurrentLine();
        }
        return;
    }

    TrackLyricsSource* source = source_;
    auto deliver = lifetime_.wrap([this, key, title](const std::optional<QString>& text) { handleFetchResult(key, title, text); });
    platform::Scheduler* scheduler = &scheduler_;
    scheduler_.global([source, track = *info, deliver, scheduler]() mutable {
        std::optional<QString> text = source->lyricsFor(track);
        scheduler->post([deliver, text]() mutable { deliver(text); });
    });
}

void LyricsService::handleFetchResult(const QString& key, const QString& title, const std::optional<QString>& text) {
    if (currentTrackKey_ != key) return;  // another track came meanwhile, or the service stopped
    if (!text || text->isEmpty()) {
        Log::shared().debug(QStringLiteral("LyricsService: No lyrics available for ") + title);
        bus_.lyricsSubject.send(std::nullopt);
        return;
    }
    ShownLyrics shown{splitLines(*text), {}};
    if (std::optional<TimedLyrics> timed = parseTimedLyrics(shown.lines)) {
        shown = {std::move(timed->lines), std::move(timed->startsMs)};
    }
    const qsizetype count = shown.lines.size();
    lyricsCache_.insert(key, std::move(shown));
    tickOnlyWithLines();
    Log::shared().info(QStringLiteral("LyricsService: Fetched ") + QString::number(count) + QStringLiteral(" lines for ") + title);
    if (count == 0) {
        // Blank lyrics are no lyrics: the previous track's must not stay up under this one.
        bus_.lyricsSubject.send(std::nullopt);
        return;
    }
    updateCurrentLine();
}

void LyricsService::handlePositionRead(const PlayPosition& read) {
    const std::optional<NowPlayingInfo>& shown = bus_.nowPlayingSubject.value();
    if (!shown || read.title != shown->title || read.artist != shown->artist) return;
    lastRead_ = read;
    // A seek shows at the read that finds it, not at the next tick. A track just published has its
    // lines looked up on the next turn; until then the lines are another track's.
    if (read.title && read.artist && currentTrackKey_ == lyricsKey(*read.title, *read.artist)) updateCurrentLine(true);
}

std::optional<double> LyricsService::positionNow(const std::optional<NowPlayingInfo>& info) const {
    const double now = scheduler_.monotonicSeconds();
    if (lastRead_) {
        double position = lastRead_->elapsed;
        if (lastRead_->rate > 0 && now > lastRead_->readAt) position += (now - lastRead_->readAt) * lastRead_->rate;
        return position;
    }
    return playPosition(info, now - publishedAt_);
}

void LyricsService::updateCurrentLine(bool onlyWhenMoved) {
    if (!hasCurrentLines()) return;
    const ShownLyrics& shown = *lyricsCache_.constFind(*currentTrackKey_);
    const std::optional<NowPlayingInfo>& info = bus_.nowPlayingSubject.value();
    const std::optional<double> position = positionNow(info);
    const int index = shown.startsMs.empty()
                          ? lineIndex(static_cast<int>(shown.lines.size()), info ? info->duration : std::nullopt, position)
                          : timedLineIndex(shown.startsMs, position);
    if (onlyWhenMoved && sentIndex_ == index) return;
    sentIndex_ = index;
    bus_.lyricsSubject.send(LyricsInfo{shown.lines.join(QLatin1Char('\n')), shown.lines, index});
}
