#include "platform/storage/defaults.h"

#include "platform/storage/json_defaults_storage.h"

#include <QDir>
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

}  // namespace

Defaults::Defaults() = default;

Defaults::Defaults(std::unique_ptr<DefaultsStorage> storage) : storage_(std::move(storage)) {
    if (storage_) values_ = storage_->load();
}

Defaults::~Defaults() = default;

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

void Defaults::set(const QString& key, DefaultsValue value) {
    {
        std::lock_guard lock(mutex_);
        values_.insert_or_assign(key, std::move(value));
        if (storage_) storage_->save(values_);
    }
    // Outside the lock: a handler may read or write again.
    didChange_.send(key);
}

void Defaults::remove(const QString& key) {
    {
        std::lock_guard lock(mutex_);
        if (values_.erase(key) > 0 && storage_) storage_->save(values_);
    }
    didChange_.send(key);
}

}  // namespace platform
