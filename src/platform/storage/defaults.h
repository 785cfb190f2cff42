#pragma once

#include "platform/files/directory_watcher.h"
#include "platform/runtime/reactive.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace platform {

using DefaultsValue = std::variant<bool, int64_t, double, QString, QDateTime, QByteArray, QStringList>;

// Why a write did not reach the place the values live.
struct DefaultsSaveFailure {
    enum class Kind {
        NotWritable,     // the file or its folder refuses to be created or replaced
        UnreadableFile,  // the stored file cannot be read, so it cannot be merged into
        WriteFailed,     // writing the new contents failed (a full disk, an I/O error)
    };
    QString key;
    QString filePath;
    Kind kind = Kind::NotWritable;
    QString reason;  // the system's own words, for the log

    bool operator==(const DefaultsSaveFailure&) const = default;
};

// Where a domain's values live between runs.
class DefaultsStorage {
public:
    virtual ~DefaultsStorage() = default;
    // The values stored at start.
    virtual std::map<QString, DefaultsValue> load() = 0;
    // Stores one change (nullopt removes the key) into what is stored now: every other key
    // keeps its stored value, also one changed by someone else since load(). Why not, or nullopt.
    virtual std::optional<DefaultsSaveFailure> save(const QString& key, const std::optional<DefaultsValue>& value) = 0;
    // The file the values live in, for following changes made to it; empty when none.
    virtual QString filePath() const { return {}; }
    struct Reread {
        std::optional<std::map<QString, DefaultsValue>> values;  // nullopt: cannot be read now
        QStringList problems;  // log lines, for the caller to log on its own thread
    };
    // The values as stored now, read again without repairing anything. Safe off the main
    // thread, also while save() runs.
    virtual Reread reread() { return {}; }
};

// A key-value store of typed settings, read with the platform's coercions. Every write (set or
// remove) sends exactly one synchronous `didChange` with the key, after the value is stored.
//
// Reads return nullopt when the key is absent. A present value reads as:
//   bool     a bool; a number is true when non-zero; a text is true when it is "true" or "yes"
//            in any letter case or a non-zero numeric text; anything else present is false.
//   integer  an integer; a bool as 0/1; a double truncated toward zero (nullopt when out of
//            range or not finite); a numeric text the same way.
//   double   a number (a bool as 0/1) or a numeric text.
//   text     a text, or a number printed (integers without a decimal point, doubles in their
//            shortest form, a bool as "1"/"0").
//   date, bytes, list of texts: only a value of that very kind.
// Otherwise the typed read gives nullopt. Values may be read from any thread; write on the main
// thread, since `didChange` reaches its subscribers synchronously on the writer's thread.
//
// A write that cannot be stored leaves the value as it was and still sends `didChange`, so that a
// control bound to the key shows what is really stored; `lastSaveFailure` then says why until the
// next write is stored.
class Defaults {
public:
    // In memory, nothing persisted.
    Defaults();
    explicit Defaults(std::unique_ptr<DefaultsStorage> storage);
    ~Defaults();

    // The application's own domain, persisted under the user's configuration folder.
    static Defaults& standard();
    // Another named domain (a separate file beside the standard one).
    static Defaults& domain(const QString& name);
    // Tests swap the standard domain for an in-memory one; nullptr restores it. Returns the previous.
    static Defaults* setStandard(Defaults* defaults);
    // The standard domain's name.
    static QString standardDomainName();
    // The file a domain is kept in, resolved from the environment now:
    // $XDG_CONFIG_HOME/Quillvex/<name>.json, or ~/.config/Quillvex/<name>.json.
    static QString domainFilePath(const QString& name);

    bool contains(const QString& key) const;
    std::optional<DefaultsValue> value(const QString& key) const;

    std::optional<bool> boolValue(const QString& key) const;
    std::optional<int64_t> integerValue(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QDateTime> dateValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    std::optional<QStringList> stringListValue(const QString& key) const;

    void set(const QString& key, DefaultsValue value);
    void remove(const QString& key);

    const PassthroughSubject<QString>& didChange() const { return didChange_; }
    std::optional<DefaultsSaveFailure> lastSaveFailure() const;

    // Follows changes made to the storage's file by others (watching its folder, so a file
    // replaced by a rename is seen too): each key whose stored value differs from ours takes the
    // stored one and sends `didChange`, as if written here. A file that cannot be read at that
    // moment (an editor halfway through writing it) is logged and left alone until it changes
    // again. Main thread only; the file is read on the scheduler's global queue.
    void followStorageChanges(DirectoryWatcher& watcher = DirectoryWatcher::system(),
                              Scheduler& scheduler = Scheduler::shared());

private:
    struct Follow;

    void write(const QString& key, std::optional<DefaultsValue> value);
    void rereadStorage();
    void applyStored(DefaultsStorage::Reread stored, uint64_t generation);

    mutable std::mutex mutex_;  // guards values_, the storage's writes, generation_ and lastSaveFailure_
    std::shared_ptr<DefaultsStorage> storage_;
    std::map<QString, DefaultsValue> values_;
    uint64_t generation_ = 0;  // counts our writes, so a read of the file older than one is not applied
    std::optional<DefaultsSaveFailure> lastSaveFailure_;
    PassthroughSubject<QString> didChange_;
    std::unique_ptr<Follow> follow_;
};

}  // namespace platform
