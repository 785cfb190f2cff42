#include "platform/logging/log_backend.h"

#include "platform/logging/system_log_backend.h"

#include <QByteArray>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<LogBackend*> sharedOverride{nullptr};

int syslogPriority(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return LOG_DEBUG;
    case LogLevel::Info:
        return LOG_INFO;
    case LogLevel::Warning:
    case LogLevel::Error:
        return LOG_ERR;
    }
    return LOG_ERR;
}

void writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= n;
    }
}

}  // namespace

const char* logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return "debug";
    case LogLevel::Info:
        return "info";
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Error:
        return "error";
    }
    return "error";
}

SystemLogBackend::SystemLogBackend(Options options) : options_(options) {
    if (options_.toSyslog) syslogFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

SystemLogBackend::~SystemLogBackend() {
    if (syslogFd_ >= 0) ::close(syslogFd_);
}

// The traditional syslog datagram, as the journal and syslog daemons read it:
// "<priority>Mmm dd hh:mm:ss ident[pid]: message". Unconnected, so a log daemon that starts or
// restarts later is reached without a new socket; with none listening a send fails at once.
void SystemLogBackend::sendToSyslog(LogLevel level, const QByteArray& text) {
    if (syslogFd_ < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, options_.syslogPath, sizeof address.sun_path - 1);

    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%h %e %T", &local);
    QByteArray datagram = '<' + QByteArray::number(LOG_USER | syslogPriority(level)) + '>' + stamp +
                          " com.varnock.Quillvex[" + QByteArray::number(::getpid()) + "]: ";
    datagram += text;
    while (::sendto(syslogFd_, datagram.constData(), size_t(datagram.size()), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 &&
           errno == EINTR) {
    }
}

SystemLogBackend::Options SystemLogBackend::optionsFromEnvironment() {
    Options options;
    options.mirrorFd = qgetenv("QUILLVEX_LOG_STDERR") == "1" ? STDERR_FILENO : -1;
    options.debugEnabled = qgetenv("QUILLVEX_LOG_LEVEL").toLower() == "debug";
    return options;
}

bool SystemLogBackend::isEnabled(LogLevel level) const { return level != LogLevel::Debug || options_.debugEnabled; }

void SystemLogBackend::write(LogLevel level, const QString& message) {
    if (!isEnabled(level)) return;
    const QByteArray text = message.toUtf8();
    // The message is data, never a format.
    sendToSyslog(level, text);
    if (options_.mirrorFd < 0) return;

    // One message, one line: line breaks inside it are escaped on the mirror.
    QByteArray line = QByteArray(logLevelName(level)) + ' ';
    line.reserve(line.size() + text.size() + 1);
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    line += '\n';
    std::lock_guard lock(mirrorMutex_);
    writeAll(options_.mirrorFd, line);
}

LogBackend& LogBackend::shared() {
    if (LogBackend* backend = sharedOverride.load()) return *backend;
    // Never destroyed: lines may still be logged while statics are torn down.
    static auto* system = new SystemLogBackend(SystemLogBackend::optionsFromEnvironment());
    return *system;
}

LogBackend* LogBackend::setShared(LogBackend* backend) { return sharedOverride.exchange(backend); }

}  // namespace platform
