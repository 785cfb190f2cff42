#pragma once

#include "platform/logging/log_backend.h"

#include <mutex>

namespace platform {

// The system log: syslog(3) under the application's ident, optionally mirrored to a file
// descriptor (standard error) as one `<level> <message>` line per message.
class SystemLogBackend final : public LogBackend {
public:
    struct Options {
        bool debugEnabled = false;
        bool toSyslog = true;
        int mirrorFd = -1;  // -1: no mirror
    };

    explicit SystemLogBackend(Options options);
    // QUILLVEX_LOG_STDERR=1 mirrors to standard error; QUILLVEX_LOG_LEVEL=debug keeps debug lines.
    static Options optionsFromEnvironment();

    bool isEnabled(LogLevel level) const override;
    void write(LogLevel level, const QString& message) override;

private:
    Options options_;
    std::mutex mirrorMutex_;
};

}  // namespace platform
