#pragma once

#include "platform/logging/log_backend.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace testsupport {

// Records every log line while alive (installed as the shared backend).
class LogCapture final : public platform::LogBackend {
public:
    struct Line {
        platform::LogLevel level;
        QString text;
    };

    LogCapture();
    ~LogCapture() override;

    bool isEnabled(platform::LogLevel level) const override { return debugEnabled || level != platform::LogLevel::Debug; }
    void write(platform::LogLevel level, const QString& message) override;

    const std::vector<Line>& lines() const { return lines_; }
    QStringList texts() const;
    bool contains(const QString& exact) const;
    bool contains(platform::LogLevel level, const QString& exact) const;
    // Lines that start with `prefix`.
    QStringList matching(const QString& prefix) const;
    int count(const QString& exact) const;
    void clear() { lines_.clear(); }

    // Whether debug lines are kept, as the system log may decide.
    bool debugEnabled = true;

private:
    std::vector<Line> lines_;
    platform::LogBackend* previous_;
};

}  // namespace testsupport
