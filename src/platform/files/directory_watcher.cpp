#include "platform/files/directory_watcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr uint32_t kEntryMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_DELETE |
                                IN_MOVED_FROM;
// The folder itself going away (deleted, or renamed so its path no longer names it).
constexpr uint32_t kSelfMask = IN_DELETE_SELF | IN_MOVE_SELF;

QString errorName(int error) {
    const char* text = ::strerrordesc_np(error);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("error %1").arg(error);
}

class InotifyDirectoryWatch final : public DirectoryWatch {
public:
    InotifyDirectoryWatch(int fd, int wd, QString folder, double latency, Scheduler& scheduler,
                          DirectoryWatcher::Handler onBatch)
        : fd_(fd), wd_(wd), folder_(std::move(folder)), latency_(latency), scheduler_(scheduler),
          onBatch_(std::move(onBatch)), notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)) {
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { readEvents(); });
    }

    ~InotifyDirectoryWatch() override { stop(); }

    void stop() override {
        if (stopped_) return;
        stopped_ = true;
        lifetime_.reset();
        flush_.cancel();
        events_.clear();
        seen_.clear();
        closeDescriptor();
    }

private:
    void closeDescriptor() {
        if (notifier_) {
            notifier_->setEnabled(false);
            // Never reached while the notifier emits: readEvents() does not call the handler.
            delete notifier_;
            notifier_ = nullptr;
        }
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void readEvents() {
        alignas(inotify_event) char buffer[16384];
        bool ended = false;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) add(folder_, DirectoryEvent::Kind::Overflow);
                if (event->wd != wd_) continue;
                if (event->mask & (kSelfMask | IN_IGNORED)) {
                    if (!ended) add(folder_, DirectoryEvent::Kind::Deleted);
                    ended = true;
                    continue;
                }
                const QString path = event->len ? folder_ + QLatin1Char('/') + QFile::decodeName(event->name) : folder_;
                // Within one event the kernel sets one of these; the order is that of a file's life.
                if (event->mask & IN_CREATE) add(path, DirectoryEvent::Kind::Created);
                if (event->mask & IN_MOVED_TO) add(path, DirectoryEvent::Kind::MovedTo);
                if (event->mask & IN_MODIFY) add(path, DirectoryEvent::Kind::Modified);
                if (event->mask & IN_ATTRIB) add(path, DirectoryEvent::Kind::AttributesChanged);
                if (event->mask & IN_CLOSE_WRITE) add(path, DirectoryEvent::Kind::ClosedWrite);
                if (event->mask & IN_MOVED_FROM) add(path, DirectoryEvent::Kind::MovedFrom);
                if (event->mask & IN_DELETE) add(path, DirectoryEvent::Kind::Deleted);
            }
        }
        // The folder is gone and nothing more can come; the batch gathered is still delivered.
        // The notifier is emitting now, so it is only switched off here and goes with stop().
        if (ended) notifier_->setEnabled(false);
    }

    void add(const QString& path, DirectoryEvent::Kind kind) {
        // A repeated event says nothing new and must not let a busy writer grow the batch.
        if (!seen_.insert({path, static_cast<int>(kind)}).second) return;
        events_.push_back({path, kind});
        if (!flush_.isPending()) flush_ = scheduler_.after(latency_, lifetime_.wrap([this] { flush(); }));
    }

    void flush() {
        std::vector<DirectoryEvent> batch;
        batch.swap(events_);
        seen_.clear();
        if (batch.empty()) return;
        // The handler may stop or destroy this watch: nothing of it is touched afterwards.
        auto handler = onBatch_;
        handler(batch);
    }

    int fd_;
    int wd_;
    QString folder_;
    double latency_;
    Scheduler& scheduler_;
    DirectoryWatcher::Handler onBatch_;
    QSocketNotifier* notifier_;
    bool stopped_ = false;
    std::vector<DirectoryEvent> events_;
    std::set<std::pair<QString, int>> seen_;
    WorkItem flush_;
    Lifetime lifetime_;
};

// Follows a folder that may not exist: watches the deepest existing folder on its path and moves
// the watch whenever that changes.
class AwaitingDirectoryWatch final : public DirectoryWatch {
public:
    AwaitingDirectoryWatch(DirectoryWatcher& watcher, QString folder, double latency, DirectoryWatcher::Handler onBatch)
        : watcher_(watcher), target_(std::move(folder)), latency_(latency), onBatch_(std::move(onBatch)) {}
    ~AwaitingDirectoryWatch() override { stop(); }

    void stop() override {
        stopped_ = true;
        if (current_) current_->stop();
    }

    // Watches the deepest folder that exists now; the reason when none could be watched.
    QString refresh() {
        while (!stopped_) {
            QString wanted = target_;
            while (!QFileInfo(wanted).isDir()) {
                const QString parent = QFileInfo(wanted).path();
                if (parent == wanted) break;
                wanted = parent;
            }
            if (current_ && wanted == watched_) return {};
            // The watch replaced may be the one delivering now, which allows its destruction.
            current_.reset();
            const bool onTarget = wanted == target_;
            auto started = watcher_.watch(wanted, latency_, [this, onTarget](const std::vector<DirectoryEvent>& batch) {
                if (onTarget) onBatch_(batch);
                // A folder on the way appeared, or the watched one went away.
                if (!stopped_) refresh();
            });
            if (!started) return started.errorText;
            current_ = std::move(started.watch);
            watched_ = wanted;
            // Set up before the listing, so an entry comes either here or as an event.
            if (onTarget && waiting_) deliverExisting();
            waiting_ = !onTarget;
        }
        return {};
    }

private:
    void deliverExisting() {
        std::vector<DirectoryEvent> batch;
        const QDir dir(target_);
        for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            batch.push_back({dir.filePath(name), DirectoryEvent::Kind::Created});
        if (!batch.empty()) onBatch_(batch);
    }

    DirectoryWatcher& watcher_;
    QString target_;
    double latency_;
    DirectoryWatcher::Handler onBatch_;
    std::unique_ptr<DirectoryWatch> current_;
    QString watched_;
    bool waiting_ = false;  // the last watch was on a folder above the target
    bool stopped_ = false;
};

}  // namespace

DirectoryWatcher& DirectoryWatcher::system() {
    static InotifyDirectoryWatcher instance;
    return instance;
}

DirectoryWatcher::StartResult InotifyDirectoryWatcher::watch(const QString& folder, double latencySeconds,
                                                             Handler onBatch) {
    StartResult result;
    if (folder.isEmpty()) {
        result.errorText = errorName(ENOENT);
        return result;
    }
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        result.errorText = errorName(errno);
        return result;
    }
    // IN_ONLYDIR turns a file into ENOTDIR; a missing or unreadable folder fails here too.
    const int wd = ::inotify_add_watch(fd, QFile::encodeName(folder).constData(), kEntryMask | kSelfMask | IN_ONLYDIR);
    if (wd < 0) {
        result.errorText = errorName(errno);
        ::close(fd);
        return result;
    }
    const double latency = std::isfinite(latencySeconds) && latencySeconds > 0 ? latencySeconds : 0.0;
    QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    result.watch = std::make_unique<InotifyDirectoryWatch>(fd, wd, std::move(clean), latency, scheduler_,
                                                           std::move(onBatch));
    return result;
}

DirectoryWatcher::StartResult DirectoryWatcher::watchOnceItExists(const QString& folder, double latencySeconds,
                                                                  Handler onBatch) {
    if (folder.isEmpty()) return watch(folder, latencySeconds, std::move(onBatch));  // refused there
    StartResult result;
    auto awaiting = std::make_unique<AwaitingDirectoryWatch>(*this, QDir::cleanPath(QDir(folder).absolutePath()),
                                                          latencySeconds, std::move(onBatch));
    result.errorText = awaiting->refresh();
    if (result.errorText.isEmpty()) result.watch = std::move(awaiting);
    return result;
}

}  // namespace platform
