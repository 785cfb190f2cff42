#pragma once

// Where a player stands in its track when its Position cannot be read (an error, a value that is
// no number, a negative one). Its Seeked signal still carries the position it jumped to; from
// there the track moves on at the rate each query reads, and stands while paused. Another track
// starts its own timeline, which nothing knows until the player seeks again.

#include <QHash>
#include <QString>

#include <optional>

class SeekTimeline {
public:
    // The player `owner` (its unique bus name) said it jumped to `seconds`, at `nowMs` on a
    // monotonic clock.
    void seeked(const QString& owner, double seconds, qint64 nowMs);
    // The position of `owner` in `track` at `nowMs`: `read` when the player gave one, else worked
    // out from its last seek in this track (none without one). `rate` is the rate read now, 0
    // while paused: the track moves on at it until the next query.
    std::optional<double> position(const QString& owner, const QString& track, std::optional<double> read, double rate,
                                   qint64 nowMs);
    // The owner left the bus.
    void forget(const QString& owner) { timelines_.remove(owner); }

private:
    struct Timeline {
        std::optional<QString> track;  // none until the first query after the seek reads it
        double seconds = 0;
        qint64 atMs = 0;
        std::optional<double> rate;  // since atMs; none until a query reads it
    };
    QHash<QString, Timeline> timelines_;
};
