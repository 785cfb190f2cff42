#include "support/log_capture.h"

namespace testsupport {

LogCapture::LogCapture() : previous_(platform::LogBackend::setShared(this)) {}

LogCapture::~LogCapture() { platform::LogBackend::setShared(previous_); }

void LogCapture::write(platform::LogLevel level, const QString& message) { lines_.push_back({level, message}); }

QStringList LogCapture::texts() const {
    QStringList out;
    for (const auto& line : lines_) out << line.text;
    return out;
}

bool LogCapture::contains(const QString& exact) const { return count(exact) > 0; }

bool LogCapture::contains(platform::LogLevel level, const QString& exact) const {
    for (const auto& line : lines_)
        if (line.level == level && line.text == exact) return true;
    return false;
}

QStringList LogCapture::matching(const QString& prefix) const {
    QStringList out;
    for (const auto& line : lines_)
        if (line.text.startsWith(prefix)) out << line.text;
    return out;
}

int LogCapture::count(const QString& exact) const {
    int n = 0;
    for (const auto& line : lines_) n += line.text == exact ? 1 : 0;
    return n;
}

}  // namespace testsupport
