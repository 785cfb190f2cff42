#include "platform/storage/defaults.h"

#include "platform/logging/log_backend.h"
#include "platform/storage/json_defaults_storage.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <atomic>
#include <cmath>

namespace platform {

namespace {

std::atomic<Defaults*> standardOverride{nullptr};

struct Registry {
    std::mutex mutex;
    std::map<QString, std::unique_ptr<Defaults>> domains;
};

Registry& registry() {
    // Never destroyed: subscribers in other singletons may still detach during exit.
    static auto* instance = new Registry;
    return *instance;
}

// A domain name becomes a file name: keep it inside the folder.
QString fileNameFor(const QString& name) {
    QString safe = name;
    safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    safe.replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String("..")) safe.prepend(QLatin1Char('_'));
    return safe + QStringLiteral(".json");
}

std::optional<int64_t> truncated(double d) {
    // 2^63 is exact as a double; anything outside [-2^63, 2^63) has no int64 value.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(d) || d >= limit || d < -limit) return std::nullopt;
    return static_cast<int64_t>(d);
}

// A text that holds a number, as an integer when it is one.
std::optional<std::variant<int64_t, double>> numericText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    bool ok = false;
    const qlonglong i = trimmed.toLongLong(&ok);
    if (ok) return std::variant<int64_t, double>(int64_t(i));
    const double d = trimmed.toDouble(&ok);
    if (ok && std::isfinite(d)) return std::variant<int64_t, double>(d);
    return std::nullopt;
}

std::optional<int64_t> integerFromText(const QString& text) {
    auto number = numericText(text);
    if (!number) return std::nullopt;
    if (auto* i = std::get_if<int64_t>(&*number)) return *i;
    return truncated(std::get<double>(*number));
}

// Equal as stored: a NaN equals a NaN, so rereading a file that holds one changes nothing.
bool sameValue(const DefaultsValue& a, const DefaultsValue& b) {
    const auto* x = std::get_if<double>(&a);
    const auto* y = std::get_if<double>(&b);
    if (x && y && std::isnan(*x) && std::isnan(*y)) return true;
    return a == b;
}

// Events in a burst (an editor's save is several) are read once.
constexpr double storageEventLatency = 0.05;

}  // namespace

struct Defaults::Follow {
    Scheduler* scheduler = nullptr;
    std::unique_ptr<DirectoryWatch> watch;
    bool reading = false;
    bool readAgain = false;
    Lifetime lifetime;
};

Defaults::Defaults() = default;

Defaults::Defaults(std::unique_ptr<DefaultsStorage> storage) : storage_(std::move(storage)) {
    if (storage_) values_ = storage_->load();
}

Defaults::~Defaults() = default;

std::optional<DefaultsSaveFailure> Defaults::lastSaveFailure() const {
    std::lock_guard lock(mutex_);
    return lastSaveFailure_;
}

void Defaults::followStorageChanges(DirectoryWatcher& watcher, Scheduler& scheduler) {
    const QString file = storage_ ? storage_->filePath() : QString();
    if (file.isEmpty()) return;
    follow_ = std::make_unique<Follow>();
    follow_->scheduler = &scheduler;
    const QString absoluteFile = QFileInfo(file).absoluteFilePath();
    auto started = watcher.watchOnceItExists(
        QFileInfo(absoluteFile).absolutePath(), storageEventLatency,
        follow_->lifetime.wrap([this, absoluteFile](const std::vector<DirectoryEvent>& batch) {
            for (const auto& event : batch) {
                if (event.path == absoluteFile || event.kind == DirectoryEvent::Kind::Overflow) {
                    rereadStorage();
                    return;
                }
            }
        }));
    if (!started) {
        auto& backend = LogBackend::shared();
        if (backend.isEnabled(LogLevel::Error))
            backend.write(LogLevel::Error, QStringLiteral("Defaults: Cannot follow changes made to %1: %2")
                                               .arg(file, started.errorText));
    }
    follow_->watch = std::move(started.watch);
}

void Defaults::rereadStorage() {
    if (follow_->reading) {
        follow_->readAgain = true;
        return;
    }
    follow_->reading = true;
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    Scheduler* scheduler = follow_->scheduler;
    auto apply = follow_->lifetime.wrap(
        [this](DefaultsStorage::Reread& stored, uint64_t readAt) { applyStored(std::move(stored), readAt); });
    scheduler->global([storage = storage_, scheduler, generation, apply]() mutable {
        auto stored = storage->reread();
        scheduler->post([stored = std::move(stored), generation, apply]() mutable { apply(stored, generation); });
    });
}

void Defaults::applyStored(DefaultsStorage::Reread reread, uint64_t generation) {
    follow_->reading = false;
    auto& backend = LogBackend::shared();
    if (backend.isEnabled(LogLevel::Error))
        for (const QString& line : reread.problems) backend.write(LogLevel::Error, line);
    QStringList changed;
    if (auto& stored = reread.values) {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            // One of our writes came between the read and now: the read may predate it.
            follow_->readAgain = true;
        } else {
            for (auto it = values_.begin(); it != values_.end();) {
                if (stored->count(it->first)) {
                    ++it;
                    continue;
                }
                changed << it->first;
                it = values_.erase(it);
            }
            for (auto& [key, value] : *stored) {
                auto it = values_.find(key);
                if (it != values_.end() && sameValue(it->second, value)) continue;
                changed << key;
                values_.insert_or_assign(key, std::move(value));
            }
        }
    }
    if (follow_->readAgain) {
        follow_->readAgain = false;
        rereadStorage();
    }
    // Outside the lock, as for a write here: a handler may read or write again.
    for (const QString& key : changed) didChange_.send(key);
}

QString Defaults::standardDomainName() { return QStringLiteral("com.varnock.Quillvex"); }

QString Defaults::domainFilePath(const QString& name) {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are to be ignored, like an unset one.
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Quillvex/") + fileNameFor(name);
}

Defaults& Defaults::standard() {
    if (Defaults* override = standardOverride.load()) return *override;
    return domain(standardDomainName());
}

Defaults& Defaults::domain(const QString& name) {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    auto& slot = reg.domains[name];
    if (!slot) slot = std::make_unique<Defaults>(std::make_unique<JsonDefaultsStorage>(domainFilePath(name)));
    return *slot;
}

Defaults* Defaults::setStandard(Defaults* defaults) { return standardOverride.exchange(defaults); }

bool Defaults::contains(const QString& key) const {
    std::lock_guard lock(mutex_);
    return values_.count(key) > 0;
}

std::optional<DefaultsValue> Defaults::value(const QString& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

namespace {

// A value of this very kind, or nothing.
template <class T>
std::optional<T> only(const std::optional<DefaultsValue>& v) {
    if (const T* t = v ? std::get_if<T>(&*v) : nullptr) return *t;
    return std::nullopt;
}

}  // namespace

std::optional<bool> Defaults::boolValue(const QString& key) const {
    const auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* b = std::get_if<bool>(&*v)) return *b;
    if (auto* i = std::get_if<int64_t>(&*v)) return *i != 0;
    if (auto* d = std::get_if<double>(&*v)) return *d != 0.0 && !std::isnan(*d);
    if (auto* s = std::get_if<QString>(&*v)) {
        const QString t = s->trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            t.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
            return true;
        return integerFromText(t).value_or(0) != 0;
    }
    return false;
}

std::optional<int64_t> Defaults::integerValue(const QString& key) const {
    const auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* i = std::get_if<int64_t>(&*v)) return *i;
    if (auto* b = std::get_if<bool>(&*v)) return *b ? 1 : 0;
    if (auto* d = std::get_if<double>(&*v)) return truncated(*d);
    if (auto* s = std::get_if<QString>(&*v)) return integerFromText(*s);
    return std::nullopt;
}

std::optional<double> Defaults::doubleValue(const QString& key) const {
    const auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* d = std::get_if<double>(&*v)) return *d;
    if (auto* i = std::get_if<int64_t>(&*v)) return static_cast<double>(*i);
    if (auto* b = std::get_if<bool>(&*v)) return *b ? 1.0 : 0.0;
    if (auto* s = std::get_if<QString>(&*v)) {
        auto number = numericText(*s);
        if (!number) return std::nullopt;
        if (auto* i = std::get_if<int64_t>(&*number)) return static_cast<double>(*i);
        return std::get<double>(*number);
    }
    return std::nullopt;
}

std::optional<QString> Defaults::stringValue(const QString& key) const {
    const auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<QString>(&*v)) return *s;
    if (auto* i = std::get_if<int64_t>(&*v)) return QString::number(*i);
    if (auto* d = std::get_if<double>(&*v)) return QString::number(*d, 'g', QLocale::FloatingPointShortest);
    if (auto* b = std::get_if<bool>(&*v)) return *b ? QStringLiteral("1") : QStringLiteral("0");
    return std::nullopt;
}

std::optional<QDateTime> Defaults::dateValue(const QString& key) const { return only<QDateTime>(value(key)); }
std::optional<QByteArray> Defaults::dataValue(const QString& key) const { return only<QByteArray>(value(key)); }
std::optional<QStringList> Defaults::stringListValue(const QString& key) const {
    return only<QStringList>(value(key));
}

void Defaults::set(const QString& key, DefaultsValue value) { write(key, std::move(value)); }

void Defaults::remove(const QString& key) { write(key, std::nullopt); }

void Defaults::write(const QString& key, std::optional<DefaultsValue> value) {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        const bool changesStore = storage_ && (value || values_.count(key) > 0);
        std::optional<DefaultsSaveFailure> failure;
        if (changesStore) {
            failure = storage_->save(key, value);
            lastSaveFailure_ = failure;
        }
        // Not stored, not taken: the value stays what the store holds.
        if (!failure) {
            if (value)
                values_.insert_or_assign(key, std::move(*value));
            else
                values_.erase(key);
        }
    }
    // Outside the lock: a handler may read or write again.
    didChange_.send(key);
}

}  // namespace platform
