#pragma once

#include <QString>

namespace platform {

enum class LogLevel { Debug, Info, Warning, Error };

// Where log lines go. The system backend maps Warning and Error to the same error level.
class LogBackend {
public:
    virtual ~LogBackend() = default;
    virtual bool isEnabled(LogLevel level) const = 0;
    virtual void write(LogLevel level, const QString& message) = 0;

    // The process-wide backend (the system log unless a test installed another).
    static LogBackend& shared();
    // Installs `backend` (nullptr restores the system log); returns the previous one.
    static LogBackend* setShared(LogBackend* backend);
};

const char* logLevelName(LogLevel level);

}  // namespace platform
