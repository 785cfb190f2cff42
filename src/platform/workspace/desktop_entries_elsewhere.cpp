#include "platform/workspace/desktop_entries_elsewhere.h"

#include "platform/files/child_file_read.h"
#include "platform/files/mount_table.h"
#include "platform/workspace/icon_lookup.h"

#include <QDir>
#include <QFile>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace platform {

namespace {

// Entries are a few hundred bytes, a large one with every translation some tens of KiB; the
// largest applications folders hold a few hundred of them.
constexpr qint64 kMaxEntryBytes = 256 * 1024;
constexpr qint64 kMaxListingBytes = 32 * 1024 * 1024;
// A listing reads every entry of a folder: a slow file system may take longer than a single read
// would. Nothing waits for it but the first notification to ask, and that one a second at most.
constexpr std::chrono::seconds kListingTimeout{5};

using Found = std::vector<std::vector<EntriesElsewhere::File>>;

QByteArray keyOf(const std::vector<QByteArray>& places) {
    QByteArray key;
    for (const QByteArray& place : places) key += place + '\0';
    return key;
}

QByteArray clean(const QByteArray& path) { return QFile::encodeName(QDir::cleanPath(QFile::decodeName(path))); }

}  // namespace

struct EntriesElsewhere::State {
    std::mutex mutex;
    std::condition_variable idle;
    // By set of places, once read, with the mounts elsewhere the read saw (see
    // MountTable::foreignChanges): none when the child did not answer.
    std::map<QByteArray, std::pair<quint64, std::optional<Found>>> done;
    std::set<QByteArray> reading;
    std::map<QByteArray, QByteArray> byPath;
    quint64 generation = 0;

    void read(const QByteArray& key, const std::vector<QByteArray>& places, quint64 mounts) {
        pthread_setname_np(pthread_self(), "entries-elsewhere");
        std::optional<std::vector<ChildFile>> files =
            filesInChild(places, ".desktop", kMaxEntryBytes, kMaxListingBytes,
                         std::chrono::steady_clock::now() + kListingTimeout);
        std::optional<Found> found;
        {
            std::lock_guard lock(mutex);
            if (files) {
                found.emplace(places.size());
                for (ChildFile& file : *files) {
                    const QByteArray& place = places[file.root];
                    byPath[clean(file.relative.isEmpty() ? place : place + '/' + file.relative)] = file.bytes;
                    (*found)[file.root].push_back({std::move(file.relative), std::move(file.bytes)});
                }
            }
            done[key] = {mounts, std::move(found)};
            reading.erase(key);
            ++generation;
        }
        idle.notify_all();
        IconLookup::shared().notifyListeners();
    }
};

EntriesElsewhere::EntriesElsewhere() : state_(new State) {}

EntriesElsewhere::~EntriesElsewhere() = default;  // a read may still run: the state stays

EntriesElsewhere& EntriesElsewhere::shared() {
    static EntriesElsewhere* const instance = new EntriesElsewhere;
    return *instance;
}

std::optional<std::vector<std::vector<EntriesElsewhere::File>>> EntriesElsewhere::files(
    const std::vector<QByteArray>& places) {
    if (places.empty()) return Found{};
    const QByteArray key = keyOf(places);
    const quint64 mounts = MountTable::current().foreignChanges();
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    const auto hit = s.done.find(key);
    const bool known = hit != s.done.end();
    // A read stands until the next ends; one made before a mount elsewhere came or went is made
    // anew (a place that did not answer is asked again).
    if ((!known || hit->second.first != mounts) && s.reading.insert(key).second) {
        // The caller that begins the first read waits for it as for an icon; later ones go on without it.
        if (!known) IconLookup::notePending();
        try {
            std::thread([state = state_, key, places, mounts] { state->read(key, places, mounts); }).detach();
        } catch (const std::system_error&) {
            s.reading.erase(key);  // asked again next time
        }
    }
    if (known) return hit->second.second;
    return std::nullopt;
}

std::optional<QByteArray> EntriesElsewhere::read(const QByteArray& path) {
    std::lock_guard lock(state_->mutex);
    const auto hit = state_->byPath.find(clean(path));
    if (hit == state_->byPath.end()) return std::nullopt;
    return hit->second;
}

quint64 EntriesElsewhere::generation() {
    std::lock_guard lock(state_->mutex);
    return state_->generation;
}

bool EntriesElsewhere::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->idle.wait_for(lock, timeout, [this] { return state_->reading.empty(); });
}

}  // namespace platform
