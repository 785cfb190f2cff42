#pragma once

// The notifications a recorder received and has not yet handed on to be written, their senders'
// icons being resolved, kept in the order they arrived. An icon that names a file read in a child
// process (a network or FUSE file system, a link) is read on a thread of its own, by a second
// after its own notification arrived: no notification waits for the pictures of those before it,
// beyond a short hold, and a picture that never comes costs that notification alone its icon.
// Used on one thread (the recorder's); only `finished` is called on the reading threads.

#include "platform/notification_store/desktop_notification.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class FileReadCanceller;

class ArrivingNotifications {
public:
    using Clock = std::chrono::steady_clock;
    // How long a notification may read its picture, from its arrival.
    static constexpr std::chrono::milliseconds kPictureWait{1000};
    // How long a notification that is ready waits behind an earlier one still reading its picture;
    // then that one goes on without it. Enough for a picture behind a link on a local disk, short
    // beside the overlay's half-second stacking.
    static constexpr std::chrono::milliseconds kHeldBehindPicture{100};

    // `finished` runs on a reading thread as its read ends, to wake the owner.
    explicit ArrivingNotifications(std::function<void()> finished);
    // Gives up the reads under way and returns once their threads ended (at once).
    ~ArrivingNotifications();
    ArrivingNotifications(const ArrivingNotifications&) = delete;
    ArrivingNotifications& operator=(const ArrivingNotifications&) = delete;

    // Takes `n` in, its icon resolved here when every file it names is read in place.
    void add(DesktopNotification n);
    // The notifications whose icons are resolved and that no earlier one still holds up, oldest
    // first. Earlier ones that held up a ready one for kHeldBehindPicture give up their reads.
    std::vector<DesktopNotification> takeReady(Clock::time_point now);
    // When takeReady next has something to do that no finished read announces: a hold ending.
    std::optional<Clock::time_point> nextDue() const;
    // Every read under way gives up and no other starts: what comes is resolved without the files
    // a child would read. For quitting.
    void giveUp();
    // After giveUp: every notification, oldest first, once the reads have ended.
    std::vector<DesktopNotification> takeAll();
    bool empty() const { return entries_.empty(); }

private:
    struct Read;
    struct Entry {
        DesktopNotification notification;
        std::unique_ptr<Read> read;  // none: resolved in add()
        std::optional<Clock::time_point> readyAt;
    };
    bool startRead(Entry& entry);
    static bool finished(const Entry& entry);
    void settle(Entry& entry);

    std::function<void()> finished_;
    std::deque<Entry> entries_;
    // Stays cancelled: reads in add() never start a child.
    std::unique_ptr<FileReadCanceller> inPlaceOnly_;
    bool givenUp_ = false;
};

}  // namespace platform
