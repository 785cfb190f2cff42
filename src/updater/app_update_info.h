#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

enum class UpdatePackageType { zip };

// Why a feed body did not become a record. The description names the key and the fault.
struct FeedDecodingError {
    enum class Kind { MalformedJSON, MissingValue, WrongType, InvalidValue };
    Kind kind = Kind::MalformedJSON;
    QString key;
    QString description;
};

// One entry of the update feed. Only decoded and compared, never written anywhere.
struct AppUpdateInfo {
    QString version;
    std::optional<int64_t> build;
    std::optional<QString> minimumSupportedVersion;
    std::optional<QDateTime> publishedAt;
    std::optional<QString> notes;
    QUrl downloadURL;
    std::optional<QUrl> releasePageURL;
    QString sha256;
    std::optional<int64_t> fileSizeBytes;
    UpdatePackageType packageType = UpdatePackageType::zip;

    // The version, and " (build)" when there is a build: "1.4.0 (27)".
    QString versionSummary() const;

    struct Decoded;
    // The whole record or the first fault; integers are read exactly (never through a double).
    static Decoded decode(const QByteArray& json);

    // A signed decimal integer: an optional "+" or "-", then one or more ASCII digits and nothing
    // else, within the 64-bit range.
    static std::optional<int64_t> decimalInteger(const QString& text);
    // An RFC 3339 date-time with or without fractional seconds and with a zone; else nothing.
    static std::optional<QDateTime> iso8601Date(const QString& text);

    friend bool operator==(const AppUpdateInfo&, const AppUpdateInfo&) = default;
};

// A feed body's record, or the first fault met while decoding it.
struct AppUpdateInfo::Decoded {
    std::optional<AppUpdateInfo> info;
    std::optional<FeedDecodingError> error;
};

// The version and build of the running application, ordered by the version pieces, then the build.
struct InstalledAppVersion {
    QString version;
    std::optional<int64_t> build;

    // From the bundle's Info.plist, read now: "0.0.0" without a version string; the build text
    // "0" without a build string, and no build when the text is not a decimal integer.
    static InstalledAppVersion current();
    static InstalledAppVersion fromInfoPlist(const QString& path);

    // Same form as AppUpdateInfo::versionSummary.
    QString summary() const;

    friend bool operator<(const InstalledAppVersion& a, const InstalledAppVersion& b);
};
