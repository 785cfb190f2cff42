#pragma once

#include "platform/storage/defaults.h"

#include <QString>

namespace platform {

// Keeps one defaults domain in a JSON file. Plain JSON holds bools, integers, doubles, texts and
// lists of texts; dates, bytes and non-finite doubles are tagged objects ({"$date": ISO-8601 UTC
// with milliseconds}, {"$data": base64}, {"$double": "nan"|"inf"|"-inf"}), so every value reads
// back with its kind.
//
// A file that cannot be read or parsed, is no regular file (a pipe must not block the start) or
// is larger than `maxFileBytes` is logged once and moved aside as `<name>.corrupt-<yyyyMMdd-HHmmss>`;
// the domain then starts empty and the next write creates a fresh file. If it cannot even be moved aside, nothing is ever written over it. Entries of an
// unknown shape are skipped with a log line and the rest is kept.
class JsonDefaultsStorage final : public DefaultsStorage {
public:
    // Settings take a few kilobytes; a file far beyond that is not ours to load whole.
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;

    explicit JsonDefaultsStorage(QString filePath);

    std::map<QString, DefaultsValue> load() override;
    // Replaces the file atomically; a failure is logged and the values stay in memory.
    void save(const std::map<QString, DefaultsValue>& values) override;

    const QString& filePath() const { return filePath_; }

private:
    void setAside(const QString& reason);

    QString filePath_;
    bool writable_ = true;
};

}  // namespace platform
