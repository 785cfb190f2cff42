#include "updater/app_update_info.h"

#include "platform/shell/bundle_info.h"
#include "platform/shell/main_bundle.h"

#include <QRegularExpression>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <limits>
#include <vector>

namespace {

using json = nlohmann::json;

QString summaryOf(const QString& version, const std::optional<int64_t>& build) {
    if (!build) return version;
    return version + QStringLiteral(" (") + QString::number(*build) + QStringLiteral(")");
}

struct Fault {
    FeedDecodingError error;
};

[[noreturn]] void raise(FeedDecodingError::Kind kind, const char* key, const QString& what) {
    throw Fault{FeedDecodingError{kind, QString::fromLatin1(key), what}};
}

[[noreturn]] void missing(const char* key) {
    raise(FeedDecodingError::Kind::MissingValue, key,
          QStringLiteral("The update feed has no value for \"%1\".").arg(QLatin1String(key)));
}

[[noreturn]] void wrongType(const char* key) {
    raise(FeedDecodingError::Kind::WrongType, key,
          QStringLiteral("The value for \"%1\" in the update feed has the wrong type.").arg(QLatin1String(key)));
}

[[noreturn]] void invalidValue(const char* key) {
    raise(FeedDecodingError::Kind::InvalidValue, key,
          QStringLiteral("The value for \"%1\" in the update feed is not valid.").arg(QLatin1String(key)));
}

const json* present(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

QString text(const json& value) { return QString::fromStdString(value.get<std::string>()); }

QString requiredString(const json& object, const char* key) {
    const json* value = present(object, key);
    if (!value) missing(key);
    if (!value->is_string()) wrongType(key);
    return text(*value);
}

std::optional<QString> optionalString(const json& object, const char* key) {
    const json* value = present(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) wrongType(key);
    return text(*value);
}

QUrl urlFrom(const json& value, const char* key) {
    if (!value.is_string()) wrongType(key);
    const QString address = text(value);
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid()) invalidValue(key);
    return url;
}

std::optional<int64_t> flexibleInteger(const json& object, const char* key) {
    const json* value = present(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<int64_t>();
    if (value->is_number_unsigned()) {
        const uint64_t raw = value->get<uint64_t>();
        if (raw > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) invalidValue(key);
        return static_cast<int64_t>(raw);
    }
    if (value->is_string()) return AppUpdateInfo::decimalInteger(text(*value));
    // Booleans, objects, arrays and numbers with a fraction or beyond 64 bits.
    if (value->is_number()) invalidValue(key);
    wrongType(key);
}

AppUpdateInfo decodeObject(const json& object) {
    if (!object.is_object()) {
        raise(FeedDecodingError::Kind::WrongType, "", QStringLiteral("The update feed is not a JSON object."));
    }
    AppUpdateInfo info;
    info.version = requiredString(object, "version");
    info.build = flexibleInteger(object, "build");
    info.minimumSupportedVersion = optionalString(object, "minimumSupportedVersion");
    info.notes = optionalString(object, "notes");
    {
        const json* value = present(object, "downloadURL");
        if (!value) missing("downloadURL");
        info.downloadURL = urlFrom(*value, "downloadURL");
    }
    if (const json* value = present(object, "releasePageURL")) info.releasePageURL = urlFrom(*value, "releasePageURL");
    info.sha256 = requiredString(object, "sha256");
    info.fileSizeBytes = flexibleInteger(object, "fileSizeBytes");
    if (const json* value = present(object, "packageType")) {
        if (!value->is_string() || value->get<std::string>() != "zip") invalidValue("packageType");
    }
    if (const std::optional<QString> published = optionalString(object, "publishedAt")) {
        info.publishedAt = AppUpdateInfo::iso8601Date(*published);
    }
    return info;
}

// Version pieces: split at ".", empty pieces dropped, each a decimal integer or 0.
std::vector<int64_t> pieces(const QString& version) {
    std::vector<int64_t> numbers;
    for (const QString& piece : version.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        numbers.push_back(AppUpdateInfo::decimalInteger(piece).value_or(0));
    }
    return numbers;
}

}  // namespace

QString AppUpdateInfo::versionSummary() const { return summaryOf(version, build); }

AppUpdateInfo::Decoded AppUpdateInfo::decode(const QByteArray& bytes) {
    const json document = json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (document.is_discarded()) {
        return Decoded{std::nullopt, FeedDecodingError{FeedDecodingError::Kind::MalformedJSON, {},
                                                       QStringLiteral("The update feed is not valid JSON.")}};
    }
    try {
        return Decoded{decodeObject(document), std::nullopt};
    } catch (const Fault& fault) {
        return Decoded{std::nullopt, fault.error};
    } catch (const json::exception&) {
        // A string that is not valid UTF-8 and the like.
        return Decoded{std::nullopt, FeedDecodingError{FeedDecodingError::Kind::MalformedJSON, {},
                                                       QStringLiteral("The update feed is not valid JSON.")}};
    }
}

std::optional<int64_t> AppUpdateInfo::decimalInteger(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    // Accumulated as a negative number so that the minimum of the range reads too.
    int64_t value = 0;
    constexpr int64_t min = std::numeric_limits<int64_t>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c - u'0';
        if (value < (min + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == min) return std::nullopt;
        return -value;
    }
    return value;
}

std::optional<QDateTime> AppUpdateInfo::iso8601Date(const QString& text) {
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})(?:\.(\d+))?(Z|[+-]\d{2}:\d{2})$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return std::nullopt;
    // Milliseconds are all an instant keeps here; further digits are dropped.
    QString fraction = match.captured(2).left(3);
    QString normalised = match.captured(1);
    if (!fraction.isEmpty()) normalised += QLatin1Char('.') + fraction.leftJustified(3, QLatin1Char('0'));
    normalised += match.captured(3);
    const QDateTime date = QDateTime::fromString(normalised, Qt::ISODateWithMs);
    if (!date.isValid()) return std::nullopt;
    return date.toUTC();
}

InstalledAppVersion InstalledAppVersion::current() {
    return fromInfoPlist(platform::BundleInfo::infoPlistPath(platform::MainBundle::shared().bundlePath()));
}

InstalledAppVersion InstalledAppVersion::fromInfoPlist(const QString& path) {
    const std::map<QString, QString> info = platform::BundleInfo::stringValues(path);
    InstalledAppVersion installed;
    const auto version = info.find(QStringLiteral("CFBundleShortVersionString"));
    installed.version = version != info.end() ? version->second : QStringLiteral("0.0.0");
    const auto build = info.find(QStringLiteral("CFBundleVersion"));
    installed.build = AppUpdateInfo::decimalInteger(build != info.end() ? build->second : QStringLiteral("0"));
    return installed;
}

QString InstalledAppVersion::summary() const { return summaryOf(version, build); }

bool operator<(const InstalledAppVersion& a, const InstalledAppVersion& b) {
    const std::vector<int64_t> left = pieces(a.version);
    const std::vector<int64_t> right = pieces(b.version);
    const size_t n = std::max(left.size(), right.size());
    for (size_t i = 0; i < n; ++i) {
        const int64_t l = i < left.size() ? left[i] : 0;
        const int64_t r = i < right.size() ? right[i] : 0;
        if (l != r) return l < r;
    }
    return a.build.value_or(0) < b.build.value_or(0);
}
