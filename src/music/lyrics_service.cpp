#include "music/lyrics_service.h"

#include "core/log.h"

#include <algorithm>

LyricsService& LyricsService::shared() {
    static LyricsService service;
    return service;
}

LyricsService::LyricsService(EventBus& bus, platform::Scheduler& scheduler, platform::ScriptRunner* runner)
    : bus_(bus), scheduler_(scheduler), runner_(runner) {}

LyricsService::~LyricsService() = default;

QString LyricsService::lyricsScript() {
    return QStringLiteral(
        "if application \"Music\" is not running then return \"\"\n"
        "tell application \"Music\"\n"
        "    try\n"
        "        set lyricsText to lyrics of current track\n"
        "        if lyricsText is missing value then return \"\"\n"
        "        return lyricsText\n"
        "    on error\n"
        "        return \"\"\n"
        "    end try\n"
        "end tell");
}

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

int LyricsService::lineIndex(int lineCount, const std::optional<NowPlayingInfo>& info) {
    if (lineCount <= 0) return 0;
    if (!info || !info->duration || !(*info->duration > 0) || !info->elapsedTime || !(*info->elapsedTime >= 0)) return 0;
    double progress = *info->elapsedTime / *info->duration;
    progress = std::clamp(progress, 0.0, 1.0);
    return std::min(lineCount - 1, static_cast<int>(progress * lineCount));
}

void LyricsService::start() {
    // The same title and artist is the same lyrics; nothing playing counts as neither.
    auto sameTrack = [](const std::optional<NowPlayingInfo>& a, const std::optional<NowPlayingInfo>& b) {
        const auto title = [](const std::optional<NowPlayingInfo>& i) { return i ? i->title : std::nullopt; };
        const auto artist = [](const std::optional<NowPlayingInfo>& i) { return i ? i->artist : std::nullopt; };
        return title(a) == title(b) && artist(a) == artist(b);
    };
    cancellables_.insert(bus_.nowPlayingSubject.removeDuplicates(sameTrack)
                             .receiveOnMain(&scheduler_)
                             .sink(lifetime_.wrap([this](const std::optional<NowPlayingInfo>& info) { handleTrackChange(info); })));
    pollTimer_ = scheduler_.every(kPollInterval, lifetime_.wrap([this] { updateCurrentLine(); }));
    Log::shared().info(QStringLiteral("LyricsService: Started"));
}

void LyricsService::stop() {
    // Fetches still under way belong to this run: their results must not land in the next one.
    lifetime_.reset();
    pollTimer_.invalidate();
    cancellables_.cancelAll();
    lyricsCache_.clear();
    currentTrackKey_.reset();
    bus_.lyricsSubject.send(std::nullopt);
    Log::shared().info(QStringLiteral("LyricsService: Stopped"));
}

void LyricsService::handleTrackChange(const std::optional<NowPlayingInfo>& info) {
    if (!info || !info->title || !info->artist) {
        currentTrackKey_.reset();
        bus_.lyricsSubject.send(std::nullopt);
        return;
    }
    const QString title = *info->title;
    const QString key = lyricsKey(title, *info->artist);
    currentTrackKey_ = key;

    if (auto cached = lyricsCache_.constFind(key); cached != lyricsCache_.cend()) {
        Log::shared().debug(QStringLiteral("LyricsService: Using cached lyrics for ") + title);
        if (cached->isEmpty()) {
            bus_.lyricsSubject.send(std::nullopt);  // blank lyrics: none, not the last track's
        } else {
            updateCurrentLine();
        }
        return;
    }

    platform::ScriptRunner* runner = runner_ ? runner_ : &platform::ScriptRunner::shared();
    auto deliver = lifetime_.wrap([this, key, title](const std::optional<QString>& text) { handleFetchResult(key, title, text); });
    platform::Scheduler* scheduler = &scheduler_;
    scheduler_.global([runner, deliver, scheduler]() mutable {
        std::optional<QString> text = fetchLyricsViaAppleScript(*runner);
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
    const QStringList lines = splitLines(*text);
    lyricsCache_.insert(key, lines);
    Log::shared().info(QStringLiteral("LyricsService: Fetched ") + QString::number(lines.size()) + QStringLiteral(" lines for ") +
                       title);
    if (lines.isEmpty()) {
        // Blank lyrics are no lyrics: the previous track's must not stay up under this one.
        bus_.lyricsSubject.send(std::nullopt);
        return;
    }
    updateCurrentLine();
}

void LyricsService::updateCurrentLine() {
    if (!currentTrackKey_) return;
    const auto entry = lyricsCache_.constFind(*currentTrackKey_);
    if (entry == lyricsCache_.cend() || entry->isEmpty()) return;
    const QStringList& lines = *entry;
    const int index = lineIndex(static_cast<int>(lines.size()), bus_.nowPlayingSubject.value());
    bus_.lyricsSubject.send(LyricsInfo{lines.join(QLatin1Char('\n')), lines, index});
}

std::optional<QString> LyricsService::fetchLyricsViaAppleScript(platform::ScriptRunner& runner) {
    const platform::ScriptOutcome outcome = runner.run(lyricsScript());
    if (!outcome.succeeded()) {
        Log::shared().error(QStringLiteral("LyricsService: AppleScript error: ") + outcome.error.value_or(QString()));
        return std::nullopt;
    }
    return outcome.result;
}
