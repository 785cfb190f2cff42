#include "platform/workspace/icon_lookup.h"

#include "platform/files/mount_table.h"
#include "platform/workspace/icon_files.h"
#include "platform/workspace/icon_folder_contents.h"
#include "platform/workspace/icon_folder_watch.h"

#include <QFileInfo>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace platform {

namespace {

thread_local quint64 pendingOnThisThread = 0;

// The island draws on a dark card in white.
const QColor kSymbolicColour = Qt::white;

bool sameFolders(const IconFolders& a, const IconFolders& b) {
    return a.theme == b.theme && a.bases == b.bases && a.unthemed == b.unthemed && a.dataDirectories == b.dataDirectories;
}

QImage lookUp(const QString& field, const IconFolders& folders, IconFolderContents& contents) {
    QString file = field;
    if (!QFileInfo(field).isAbsolute()) {
        const std::optional<ThemedIconFile> themed = themedIconFile(field, kIconLookupPixels, folders, &contents);
        if (!themed) return {};
        file = themed->path;
    }
    const QImage image = readIconFile(file, kIconLookupPixels);
    return isSymbolicIcon(file) ? recoloured(image, kSymbolicColour) : image;
}

}  // namespace

struct IconLookup::State_ {
    std::mutex mutex;
    std::condition_variable idle;
    IconFolders folders;
    bool hasFolders = false;
    quint64 mounts = 0;  // the mount table's changes the answers saw
    // Bumped whenever the answers are forgotten: a lookup begun before keeps its answer to itself.
    quint64 generation = 0;
    std::map<QString, std::optional<QImage>> answers;
    // What the generation's lookups read of its folders.
    std::shared_ptr<IconFolderContents> contents = std::make_shared<IconFolderContents>();
    std::deque<QString> queue;
    std::set<QString> queued;
    int threads = 0;
    int idleThreads = 0;
    std::condition_variable work_;
    // The watch on the folders for the current generation, once made, and when the folders it
    // does not watch were last looked at.
    std::shared_ptr<IconFolderWatch> watch;
    quint64 watching = 0;  // the generation (+ 1) whose watch is queued or being made
    std::weak_ptr<State_> self_;
    static QString watchJob() { return QStringLiteral("\n"); }
    bool checkQueued = false;
    std::chrono::steady_clock::time_point lastCheck;
    std::chrono::milliseconds recheck = kRecheckInterval;
    std::optional<std::chrono::milliseconds> await;
    std::map<int, std::function<void()>> listeners;
    int nextListener = 0;
    // Held while listeners are called, so one removed is never called after.
    std::mutex announcing;

    // Under `mutex`.
    void forgetLocked() {
        ++generation;
        answers.clear();
        contents = std::make_shared<IconFolderContents>();
        watch.reset();
    }

    // Under `mutex`: after a mount or unmount, where the folders lie and what they hold is learned
    // anew, and every name that found nothing is looked up again; an icon found stays a good picture.
    void forgetFoldersLocked(const std::shared_ptr<State_>& self) {
        auto found = std::move(answers);
        forgetLocked();
        std::erase_if(found, [](const auto& answer) { return !answer.second; });
        answers = std::move(found);
        // Names it found may be all that is asked: the folders are watched anew now, not at a lookup.
        watching = generation + 1;
        queue.push_front(watchJob());
        startThread(self);
    }

    // Under `mutex`: a thread for the queue: one waiting for work, else a new one while there are
    // places.
    void startThread(const std::shared_ptr<State_>& self) {
        if (idleThreads > 0) {
            work_.notify_one();
            return;
        }
        if (threads >= kMaxLookupThreads) return;
        try {
            std::thread([self] { self->work(); }).detach();
            ++threads;
        } catch (const std::system_error&) {
            // Left in the queue for a thread that ends.
        }
    }

    void announce() {
        std::lock_guard calling(announcing);
        std::vector<std::function<void()>> toCall;
        {
            std::lock_guard lock(mutex);
            for (const auto& [id, listener] : listeners) toCall.push_back(listener);
        }
        for (const auto& listener : toCall) listener();
    }

    // A thread waits this long for more work before it ends.
    static constexpr std::chrono::seconds kLinger{10};

    void work() {
        pthread_setname_np(pthread_self(), "icon-lookup");
        std::unique_lock lock(mutex);
        for (;;) {
            if (queue.empty()) {
                ++idleThreads;
                idle.notify_all();
                const bool more = work_.wait_for(lock, kLinger, [this] { return !queue.empty(); });
                --idleThreads;
                if (!more) break;
            }
            const QString field = queue.front();
            queue.pop_front();
            const quint64 started = generation;
            const IconFolders at = folders;
            const std::shared_ptr<IconFolderContents> known = contents;
            const bool check = field.isNull();
            const bool makeWatch = field == watchJob();
            std::shared_ptr<IconFolderWatch> watched = watch;
            // A generation's folders are watched from its first lookup on, by a thread beside it.
            if (!check && !makeWatch && !watched && watching != started + 1) {
                watching = started + 1;
                queue.push_front(watchJob());
                startThread(self_.lock());
            }
            lock.unlock();
            std::shared_ptr<IconFolderWatch> made;
            if (makeWatch) made = std::make_shared<IconFolderWatch>(at);
            const bool changed = check && watched && watched->changedOnDisk();
            std::optional<QImage> image;
            if (!check && !makeWatch) {
                const QImage found = lookUp(field, at, *known);
                if (!found.isNull()) image = found;
            }
            lock.lock();
            if (check) {
                checkQueued = false;
                lastCheck = std::chrono::steady_clock::now();
                if (changed && started == generation) forgetLocked();
            } else if (makeWatch) {
                if (started == generation && !watch) watch = made;
                if (watching == started + 1) watching = 0;
            } else {
                queued.erase(field);
                if (started == generation) answers[field] = image;
            }
            if (makeWatch) {
                idle.notify_all();
                continue;
            }
            idle.notify_all();
            if (!check || changed) {
                lock.unlock();
                announce();
                lock.lock();
            }
        }
        --threads;
        idle.notify_all();
    }
};

IconLookup::IconLookup() : state_(std::make_shared<State_>()) { state_->self_ = state_; }
IconLookup::~IconLookup() = default;

IconLookup& IconLookup::shared() {
    static IconLookup* const instance = new IconLookup;
    return *instance;
}

IconLookup::Answer IconLookup::find(const QString& field) {
    if (field.isEmpty()) return {};
    const IconFolders folders = iconFolders();
    // A mount or unmount changes what the folders hold unseen by their watch, and where they lie.
    const quint64 mounts = MountTable::changes();
    State_& s = *state_;
    std::unique_lock lock(s.mutex);
    if (!s.hasFolders || !sameFolders(folders, s.folders)) {
        s.folders = folders;
        s.hasFolders = true;
        s.mounts = mounts;
        s.forgetLocked();
    } else if (mounts != s.mounts) {
        s.mounts = mounts;
        s.forgetFoldersLocked(state_);
    }
    const auto deadline = std::chrono::steady_clock::now() + s.await.value_or(std::chrono::milliseconds(0));
    bool checked = false;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (s.watch && s.watch->changed()) s.forgetLocked();
        const auto hit = s.answers.find(field);
        if (hit != s.answers.end()) {
            if (s.watch && s.watch->looksOnDisk() && !s.checkQueued && !checked && now - s.lastCheck >= s.recheck) {
                checked = true;
                s.checkQueued = true;
                s.queue.push_back(QString());
                s.startThread(state_);
                if (s.await) {
                    s.idle.wait_until(lock, deadline, [&s] { return !s.checkQueued; });
                    continue;
                }
            }
            if (!hit->second) return {};
            return {State::found, *hit->second};
        }
        if (s.queued.insert(field).second) {
            s.queue.push_back(field);
            s.startThread(state_);
        }
        // Awaited, the folders' watch is awaited too: a change right after is then seen.
        if (s.await && s.idle.wait_until(lock, deadline, [&] {
                return s.answers.count(field) > 0 && (s.watch || s.watching != s.generation + 1);
            }))
            continue;
        ++pendingOnThisThread;
        return {State::pending, {}};
    }
}

int IconLookup::addListener(std::function<void()> listener) {
    std::lock_guard lock(state_->mutex);
    const int id = ++state_->nextListener;
    state_->listeners.emplace(id, std::move(listener));
    return id;
}

void IconLookup::removeListener(int id) {
    std::lock_guard calling(state_->announcing);
    std::lock_guard lock(state_->mutex);
    state_->listeners.erase(id);
}

quint64 IconLookup::pendingAnswers() { return pendingOnThisThread; }

void IconLookup::notePending() { ++pendingOnThisThread; }

void IconLookup::notifyListeners() { state_->announce(); }

void IconLookup::setRecheckInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(state_->mutex);
    state_->recheck = interval;
}

bool IconLookup::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->idle.wait_for(lock, timeout,
                                 [this] { return state_->threads == state_->idleThreads && state_->queue.empty(); });
}

void IconLookup::setAwaitAnswers(std::optional<std::chrono::milliseconds> timeout) {
    std::lock_guard lock(state_->mutex);
    state_->await = timeout;
}

void IconLookup::forget() {
    std::lock_guard lock(state_->mutex);
    state_->forgetLocked();
}

}  // namespace platform
