#include "music/timed_lyrics.h"

#include <algorithm>
#include <tuple>

namespace {

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Reads a run of 1..`maxDigits` digits at `pos`; none when there is none or it is longer.
std::optional<qint64> digits(QStringView text, qsizetype& pos, int maxDigits) {
    const qsizetype start = pos;
    qint64 value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (pos - start == maxDigits) return std::nullopt;
        value = value * 10 + (text[pos].unicode() - '0');
        ++pos;
    }
    if (pos == start) return std::nullopt;
    return value;
}

// "m:ss", "mm:ss.x", "mm:ss.xx", "mm:ss.xxx" (also ':' before the fraction) in milliseconds.
// The digit limits keep every time far inside 64 bits.
std::optional<qint64> timeTag(QStringView tag) {
    qsizetype pos = 0;
    const auto minutes = digits(tag, pos, 6);
    if (!minutes || pos >= tag.size() || tag[pos] != QLatin1Char(':')) return std::nullopt;
    ++pos;
    const auto seconds = digits(tag, pos, 2);
    if (!seconds || *seconds >= 60) return std::nullopt;
    qint64 millis = 0;
    if (pos < tag.size()) {
        if (tag[pos] != QLatin1Char('.') && tag[pos] != QLatin1Char(':')) return std::nullopt;
        ++pos;
        const qsizetype fractionStart = pos;
        const auto fraction = digits(tag, pos, 3);
        if (!fraction || pos != tag.size()) return std::nullopt;
        millis = *fraction;
        for (qsizetype n = pos - fractionStart; n < 3; ++n) millis *= 10;
    }
    return (*minutes * 60 + *seconds) * 1000 + millis;
}

// "[ar:Band]", "[offset:+250]": a key of letters, a colon, and the whole line.
bool isHeaderLine(QStringView line) {
    if (line.size() < 4 || line.front() != QLatin1Char('[') || line.back() != QLatin1Char(']')) return false;
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon < 2) return false;
    for (QChar c : line.mid(1, colon - 1)) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))) return false;
    }
    return true;
}

// "[offset:+250]" (also "-250", "250"): milliseconds by which every line comes earlier (later
// when negative). None for any other line, or a value that is no whole number.
std::optional<qint64> offsetMs(QStringView line) {
    static const QLatin1String key("[offset:");
    if (!line.startsWith(key, Qt::CaseInsensitive) || !line.endsWith(QLatin1Char(']'))) return std::nullopt;
    const QStringView value = line.mid(key.size(), line.size() - key.size() - 1).trimmed();
    const bool negative = value.startsWith(QLatin1Char('-'));
    qsizetype pos = negative || value.startsWith(QLatin1Char('+')) ? 1 : 0;
    const std::optional<qint64> millis = digits(value, pos, 9);
    if (!millis || pos != value.size()) return std::nullopt;
    return negative ? -*millis : *millis;
}

// The words of a timed line without the times of its single words ("<00:08.00>word"): they time
// each word for singing along, and the line is shown whole. Other angle brackets are words.
QString withoutWordTimes(QStringView words) {
    QString out;
    out.reserve(words.size());
    qsizetype pos = 0;
    while (pos < words.size()) {
        const qsizetype open = words.indexOf(QLatin1Char('<'), pos);
        const qsizetype close = open < 0 ? -1 : words.indexOf(QLatin1Char('>'), open);
        if (close < 0) break;
        if (!timeTag(words.mid(open + 1, close - open - 1))) {
            out += words.mid(pos, open + 1 - pos);
            pos = open + 1;
            continue;
        }
        out += words.mid(pos, open - pos);
        pos = close + 1;
        // "one <00:09.00> two": one space between the words, not two.
        if (out.endsWith(QLatin1Char(' ')) && pos < words.size() && words[pos] == QLatin1Char(' ')) ++pos;
    }
    out += words.mid(pos);
    return out.trimmed();
}

}  // namespace

std::optional<TimedLyrics> parseTimedLyrics(const QStringList& lines) {
    struct Sung {
        qint64 startMs;
        int order;
        QString words;
    };
    std::vector<Sung> sung;
    bool anyTag = false;
    int order = 0;
    qint64 earlierMs = 0;
    for (const QString& raw : lines) {
        const QStringView line = QStringView(raw).trimmed();
        std::vector<qint64> starts;
        qsizetype pos = 0;
        while (pos < line.size() && line[pos] == QLatin1Char('[')) {
            const qsizetype close = line.indexOf(QLatin1Char(']'), pos);
            const QStringView tag = close < 0 ? line.mid(pos + 1) : line.mid(pos + 1, close - pos - 1);
            const std::optional<qint64> start = close < 0 ? std::nullopt : timeTag(tag);
            if (!start) {
                // Words may begin with a bracket ("[Chorus]"), a time may not be garbled.
                if (!tag.isEmpty() && isDigit(tag.front())) return std::nullopt;
                break;
            }
            starts.push_back(*start);
            pos = close + 1;
        }
        if (starts.empty()) {
            if (!isHeaderLine(line)) return std::nullopt;
            if (const std::optional<qint64> offset = offsetMs(line)) earlierMs = *offset;
            continue;
        }
        anyTag = true;
        const QString words = withoutWordTimes(line.mid(pos));
        if (words.isEmpty()) continue;
        for (qint64 start : starts) sung.push_back({start, order++, words});
    }
    if (!anyTag) return std::nullopt;
    std::sort(sung.begin(), sung.end(),
              [](const Sung& a, const Sung& b) { return std::tie(a.startMs, a.order) < std::tie(b.startMs, b.order); });
    TimedLyrics timed;
    timed.lines.reserve(static_cast<qsizetype>(sung.size()));
    timed.startsMs.reserve(sung.size());
    for (Sung& line : sung) {
        timed.lines.append(std::move(line.words));
        timed.startsMs.push_back(line.startMs - earlierMs);
    }
    return timed;
}

int timedLineIndex(const std::vector<qint64>& startsMs, std::optional<double> seconds) {
    if (!seconds || !(*seconds >= 0)) return 0;
    const double millis = *seconds * 1000.0;
    const auto after = std::upper_bound(startsMs.begin(), startsMs.end(), millis,
                                        [](double at, qint64 start) { return at < static_cast<double>(start); });
    return std::max(0, static_cast<int>(after - startsMs.begin()) - 1);
}
