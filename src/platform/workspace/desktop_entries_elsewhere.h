#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

namespace platform {

// Application entries this process may not look at itself: in a folder on a network or FUSE file
// system, or behind a link that leads onto one, where an answer may never come. A child process
// lists and reads them, on a thread of its own, once for each set of places (their later changes
// go unseen until a mount that is not local comes or goes, when they are read anew, the last read
// standing meanwhile); a set whose child did not answer within a few seconds is not asked again
// until then, so a file system that stopped costs one child left behind. Process-wide; any thread.
class EntriesElsewhere {
public:
    static EntriesElsewhere& shared();

    struct File {
        QByteArray relative;  // below the place, "" for a place that is the file itself
        QByteArray bytes;
    };
    // The entry files found at each of `places` (folders or files). None while they are being read
    // (the read begins at the first ask, whose caller's answer counts as pending: see
    // IconLookup::notePending), or when the child did not answer.
    std::optional<std::vector<std::vector<File>>> files(const std::vector<QByteArray>& places);
    // The bytes of the entry file at the clean, absolute `path` as a read ended above found them.
    std::optional<QByteArray> read(const QByteArray& path);
    // Grows each time a read ends: entries came or went.
    quint64 generation();
    // Tests: waits until no read is under way.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

    EntriesElsewhere();
    ~EntriesElsewhere();
    EntriesElsewhere(const EntriesElsewhere&) = delete;
    EntriesElsewhere& operator=(const EntriesElsewhere&) = delete;

    struct State;

private:
    State* state_;
};

}  // namespace platform
