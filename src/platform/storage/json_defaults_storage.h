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
// the domain then starts empty and the next write creates a fresh file. Only the start does that:
// a file found unreadable later (by `reread`, or when a write reads it to merge into) is left as
// it is, and a write that cannot merge into it fails rather than replace it. Entries of an
// unknown shape are skipped with a log line and the rest is kept; a write keeps them in the file.
class JsonDefaultsStorage final : public DefaultsStorage {
public:
    // Settings take a few kilobytes; a file far beyond that is not ours to load whole.
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;

    explicit JsonDefaultsStorage(QString filePath);

    std::map<QString, DefaultsValue> load() override;
    // Reads the file as it is now, changes the one key and replaces the file atomically; a
    // failure is logged.
    std::optional<DefaultsSaveFailure> save(const QString& key, const std::optional<DefaultsValue>& value) override;
    QString filePath() const override { return filePath_; }
    // An absent file reads as nullopt too: some editors delete the file before writing it anew.
    Reread reread() override;

private:
    void setAside(const QString& reason);

    const QString filePath_;
};

}  // namespace platform
