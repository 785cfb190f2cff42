#include "core/log.h"

#include "platform/logging/log_backend.h"

namespace {
void write(platform::LogLevel level, const QString& message) {
    auto& backend = platform::LogBackend::shared();
    if (backend.isEnabled(level)) backend.write(level, message);
}
}  // namespace

Log& Log::shared() {
    static Log instance;
    return instance;
}

void Log::debug(const QString& message) const { write(platform::LogLevel::Debug, message); }
void Log::info(const QString& message) const { write(platform::LogLevel::Info, message); }
void Log::warning(const QString& message) const { write(platform::LogLevel::Warning, message); }
void Log::error(const QString& message) const { write(platform::LogLevel::Error, message); }
