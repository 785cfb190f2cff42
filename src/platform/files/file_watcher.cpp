#include "platform/files/file_watcher.h"

#include <QFile>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

namespace {

class InotifyEventSource final : public FileEventSource {
public:
    InotifyEventSource(int fd, std::function<void()> onChange)
        : fd_(fd), onChange_(std::move(onChange)), notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)) {
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { dispatch(); });
    }

    ~InotifyEventSource() override {
        notifier_->setEnabled(false);
        if (dispatching_) {
            // Destroyed by its own handler: the notifier is still emitting, so it goes later.
            *dispatching_ = false;
            notifier_->deleteLater();
        } else {
            delete notifier_;
        }
        ::close(fd_);
    }

    int descriptor() const override { return fd_; }

private:
    void dispatch() {
        // Drain every queued event: one handler call answers the whole batch.
        std::array<char, 4096> buffer;
        for (;;) {
            ssize_t n = ::read(fd_, buffer.data(), buffer.size());
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        // The handler may destroy this source; afterwards nothing of it may be touched.
        auto alive = std::make_shared<bool>(true);
        dispatching_ = alive;
        auto handler = onChange_;
        handler();
        if (*alive) dispatching_.reset();
    }

    int fd_;
    std::function<void()> onChange_;
    QSocketNotifier* notifier_;
    std::shared_ptr<bool> dispatching_;
};

}  // namespace

FileWatcher& FileWatcher::system() {
    static InotifyFileWatcher instance;
    return instance;
}

std::unique_ptr<FileEventSource> InotifyFileWatcher::watchWrites(const QString& path, std::function<void()> onChange) {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    // A write and an extension both arrive as a modification.
    if (::inotify_add_watch(fd, QFile::encodeName(path).constData(), IN_MODIFY) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<InotifyEventSource>(fd, std::move(onChange));
}

}  // namespace platform
