#pragma once

// Lyrics whose lines carry time tags ("[01:02.50] words"), as players hand out synced lyrics:
// the tags are read for the times and taken off the text that is shown, and so are the times of
// single words that enhanced lyrics add ("[00:08.00]<00:08.00>One <00:08.40>two").

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct TimedLyrics {
    QStringList lines;             // the words, tags taken off, in the order of their times
    std::vector<qint64> startsMs;  // when each line starts, ascending, one per line
};

// `lines` as the lyrics service keeps them (not blank). Timed when every lyric line starts with
// time tags; tag-only lines of the header ("[ar:Band]") are no lyric lines. A line with several
// tags is sung at each of their times; one whose words are empty only marks time. Anything else
// (an untagged line, a tag that starts with a digit but is no time) means the text is not timed.
// The header's "[offset:+250]" moves every line that many milliseconds earlier (later when
// negative); a start moved before the track's beginning is shown from it.
std::optional<TimedLyrics> parseTimedLyrics(const QStringList& lines);

// The last line whose start has come at `seconds`; the first before any, or with no position.
int timedLineIndex(const std::vector<qint64>& startsMs, std::optional<double> seconds);
