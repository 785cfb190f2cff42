#pragma once

#include "platform/logging/log_backend.h"

#include <QByteArray>

#include <mutex>

namespace platform {

// The system log: one datagram per message to the syslog socket under the application's ident,
// optionally mirrored to a file descriptor (standard error) as one `<level> <message>` line per
// message. The socket is made once: syslog(3) makes and connects a new one for every message
// while nothing listens at the socket's path.
class SystemLogBackend final : public LogBackend {
public:
    struct Options {
        bool debugEnabled = false;
        bool toSyslog = true;
        int mirrorFd = -1;  // -1: no mirror
        const char* syslogPath = "/dev/log";
    };

    explicit SystemLogBackend(Options options);
    ~SystemLogBackend() override;
    SystemLogBackend(const SystemLogBackend&) = delete;
    SystemLogBackend& operator=(const SystemLogBackend&) = delete;
    // QUILLVEX_LOG_STDERR=1 mirrors to standard error; QUILLVEX_LOG_LEVEL=debug keeps debug lines.
    static Options optionsFromEnvironment();

    bool isEnabled(LogLevel level) const override;
    void write(LogLevel level, const QString& message) override;

private:
    void sendToSyslog(LogLevel level, const QByteArray& text);

    Options options_;
    int syslogFd_ = -1;
    std::mutex mirrorMutex_;
};

}  // namespace platform
