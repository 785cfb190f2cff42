#include "platform/notification_store/arriving_notifications.h"

#include "platform/files/child_file_read.h"

#include <atomic>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace platform {

struct ArrivingNotifications::Read {
    FileReadCanceller canceller;
    std::atomic<bool> done{false};
    StoredIcon icon;
    std::thread thread;
};

ArrivingNotifications::ArrivingNotifications(std::function<void()> finished)
    : finished_(std::move(finished)), inPlaceOnly_(std::make_unique<FileReadCanceller>()) {
    inPlaceOnly_->cancel();
}

ArrivingNotifications::~ArrivingNotifications() {
    giveUp();
    for (Entry& entry : entries_)
        if (entry.read && entry.read->thread.joinable()) entry.read->thread.join();
}

void ArrivingNotifications::add(DesktopNotification n) {
    Entry entry{std::move(n), nullptr, std::nullopt};
    if (givenUp_ || readsFilesInPlace(entry.notification.iconSources) || !startRead(entry)) {
        entry.notification.icon = resolveSenderIcon(entry.notification.iconSources, inPlaceOnly_.get());
        entry.notification.iconSources.clear();
    }
    entries_.push_back(std::move(entry));
}

bool ArrivingNotifications::startRead(Entry& entry) {
    auto read = std::make_unique<Read>();
    Read* r = read.get();
    const auto deadline = entry.notification.received + kPictureWait;
    try {
        r->thread = std::thread([r, sources = std::move(entry.notification.iconSources), deadline, this] {
            pthread_setname_np(pthread_self(), "notice-picture");
            r->icon = resolveSenderIcon(sources, &r->canceller, deadline);
            r->done = true;
            finished_();
        });
    } catch (const std::system_error&) {
        return false;  // the sources are still there: resolved in place
    }
    entry.notification.iconSources.clear();
    entry.read = std::move(read);
    return true;
}

bool ArrivingNotifications::finished(const Entry& entry) { return !entry.read || entry.read->done; }

void ArrivingNotifications::settle(Entry& entry) {
    if (!entry.read) return;
    entry.read->thread.join();
    entry.notification.icon = std::move(entry.read->icon);
    entry.read.reset();
}

std::vector<DesktopNotification> ArrivingNotifications::takeReady(Clock::time_point now) {
    // A ready notification held long enough releases every earlier one from its picture.
    bool waiting = false;
    size_t release = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (!finished(entry)) {
            waiting = true;
            continue;
        }
        if (!entry.readyAt) entry.readyAt = now;
        if (waiting && now >= *entry.readyAt + kHeldBehindPicture) release = i;
    }
    for (size_t i = 0; i < release; ++i)
        if (!finished(entries_[i])) entries_[i].read->canceller.cancel();

    std::vector<DesktopNotification> ready;
    while (!entries_.empty() && finished(entries_.front())) {
        settle(entries_.front());
        ready.push_back(std::move(entries_.front().notification));
        entries_.pop_front();
    }
    return ready;
}

std::optional<ArrivingNotifications::Clock::time_point> ArrivingNotifications::nextDue() const {
    std::optional<Clock::time_point> due;
    bool waiting = false;
    for (const Entry& entry : entries_) {
        if (!finished(entry)) {
            waiting = true;
        } else if (waiting && entry.readyAt) {
            const auto end = *entry.readyAt + kHeldBehindPicture;
            if (!due || end < *due) due = end;
        }
    }
    return due;
}

void ArrivingNotifications::giveUp() {
    givenUp_ = true;
    for (Entry& entry : entries_)
        if (entry.read) entry.read->canceller.cancel();
}

std::vector<DesktopNotification> ArrivingNotifications::takeAll() {
    giveUp();
    std::vector<DesktopNotification> all;
    for (Entry& entry : entries_) {
        settle(entry);
        all.push_back(std::move(entry.notification));
    }
    entries_.clear();
    return all;
}

}  // namespace platform
