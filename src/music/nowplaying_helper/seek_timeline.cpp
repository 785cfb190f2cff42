#include "music/nowplaying_helper/seek_timeline.h"

#include <cmath>

void SeekTimeline::seeked(const QString& owner, double seconds, qint64 nowMs) {
    if (!std::isfinite(seconds) || seconds < 0) return;
    timelines_.insert(owner, Timeline{std::nullopt, seconds, nowMs, std::nullopt});
}

std::optional<double> SeekTimeline::position(const QString& owner, const QString& track, std::optional<double> read,
                                             double rate, qint64 nowMs) {
    if (read && std::isfinite(*read) && *read >= 0) {
        timelines_.remove(owner);  // a player that tells its position is believed
        return read;
    }
    const auto found = timelines_.find(owner);
    if (found == timelines_.end()) return std::nullopt;
    Timeline& timeline = *found;
    if (timeline.track && *timeline.track != track) {
        timelines_.erase(found);
        return std::nullopt;
    }
    timeline.track = track;
    // Between the seek and the first query the rate read now is the best guess.
    const double since = timeline.rate.value_or(rate);
    if (since > 0 && std::isfinite(since) && nowMs > timeline.atMs) timeline.seconds += (nowMs - timeline.atMs) / 1000.0 * since;
    timeline.atMs = nowMs;
    timeline.rate = rate;
    return timeline.seconds;
}
