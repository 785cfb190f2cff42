#include "updater/app_update_info.h"

#include "platform/shell/main_bundle.h"
#include "support/fixtures.h"

#include <plist/plist.h>

#include <gtest/gtest.h>

namespace {

const QByteArray minimal = R"({"version":"1.4.0","downloadURL":"https://u.example/q.zip","sha256":"ab"})";

// The minimal feed with `extra` members added.
QByteArray feedWith(const QByteArray& extra) {
    return R"({"version":"1.4.0","downloadURL":"https://u.example/q.zip","sha256":"ab",)" + extra + "}";
}

std::optional<int64_t> buildOf(const QByteArray& value) {
    const AppUpdateInfo::Decoded decoded = AppUpdateInfo::decode(feedWith(R"("build":)" + value));
    EXPECT_TRUE(decoded.info) << value.constData();
    return decoded.info ? decoded.info->build : std::nullopt;
}

bool decodes(const QByteArray& json) { return AppUpdateInfo::decode(json).info.has_value(); }

InstalledAppVersion v(const char* version, std::optional<int64_t> build = std::nullopt) {
    return InstalledAppVersion{QString::fromUtf8(version), build};
}

bool equalOrder(const InstalledAppVersion& a, const InstalledAppVersion& b) { return !(a < b) && !(b < a); }

}  // namespace

TEST(AppUpdateInfo, MinimalFeedDecodesWithEveryOptionalFieldEmpty) {
    const AppUpdateInfo::Decoded decoded = AppUpdateInfo::decode(minimal);
    ASSERT_TRUE(decoded.info);
    const AppUpdateInfo& info = *decoded.info;
    EXPECT_EQ(info.version, "1.4.0");
    EXPECT_EQ(info.downloadURL, QUrl("https://u.example/q.zip"));
    EXPECT_EQ(info.sha256, "ab");
    EXPECT_EQ(info.packageType, UpdatePackageType::zip);
    EXPECT_FALSE(info.build);
    EXPECT_FALSE(info.minimumSupportedVersion);
    EXPECT_FALSE(info.publishedAt);
    EXPECT_FALSE(info.notes);
    EXPECT_FALSE(info.releasePageURL);
    EXPECT_FALSE(info.fileSizeBytes);
}

TEST(AppUpdateInfo, FullFeedDecodesEveryField) {
    const AppUpdateInfo::Decoded decoded = AppUpdateInfo::decode(feedWith(
        R"("build":27,"minimumSupportedVersion":"1.0","notes":"Fixes","releasePageURL":"https://u.example/r",)"
        R"("fileSizeBytes":"9007199254740993","packageType":"zip","publishedAt":"2025-03-01T09:30:00.250Z","other":[1])"));
    ASSERT_TRUE(decoded.info);
    EXPECT_EQ(decoded.info->build, 27);
    EXPECT_EQ(decoded.info->minimumSupportedVersion, "1.0");
    EXPECT_EQ(decoded.info->notes, "Fixes");
    EXPECT_EQ(decoded.info->releasePageURL, QUrl("https://u.example/r"));
    // Beyond the exact range of a double: kept exactly.
    EXPECT_EQ(decoded.info->fileSizeBytes, int64_t{9007199254740993});
    ASSERT_TRUE(decoded.info->publishedAt);
    EXPECT_EQ(decoded.info->publishedAt->toMSecsSinceEpoch(), QDateTime::fromString("2025-03-01T09:30:00.250Z", Qt::ISODateWithMs).toMSecsSinceEpoch());
    EXPECT_EQ(decoded.info->versionSummary(), "1.4.0 (27)");
}

TEST(AppUpdateInfo, FlexibleIntegersReadNumbersAndDecimalTexts) {
    EXPECT_EQ(buildOf("42"), 42);
    EXPECT_EQ(buildOf(R"("42")"), 42);
    EXPECT_EQ(buildOf(R"("+42")"), 42);
    EXPECT_EQ(buildOf(R"("-42")"), -42);
    EXPECT_EQ(buildOf("null"), std::nullopt);
    EXPECT_EQ(buildOf("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(buildOf("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(buildOf(R"("-9223372036854775808")"), INT64_MIN);
    // Texts that are not plain decimal integers give none and the decode goes on.
    for (const char* text : {R"(" 42")", R"("4.2")", R"("4a")", R"("")", R"("+")", R"("--4")", R"("9223372036854775808")",
                             R"("12345678901234567890")", R"("٤٢")"}) {
        EXPECT_EQ(buildOf(text), std::nullopt) << text;
    }
}

TEST(AppUpdateInfo, FlexibleIntegersOfOtherKindsFailTheDecode) {
    for (const char* value : {"true", "4.5", "{}", "[1]", "9223372036854775808", "-9223372036854775809", "1e300"}) {
        EXPECT_FALSE(decodes(feedWith(QByteArray(R"("build":)") + value))) << value;
        EXPECT_FALSE(decodes(feedWith(QByteArray(R"("fileSizeBytes":)") + value))) << value;
    }
    EXPECT_EQ(AppUpdateInfo::decode(feedWith(R"("build":true)")).error->key, "build");
}

TEST(AppUpdateInfo, RequiredKeysAndTypes) {
    EXPECT_EQ(AppUpdateInfo::decode(R"({"downloadURL":"https://u.example/q.zip","sha256":"ab","build":1})").error->kind,
              FeedDecodingError::Kind::MissingValue);
    EXPECT_FALSE(decodes(R"({"version":null,"downloadURL":"https://u.example/q.zip","sha256":"ab"})"));
    EXPECT_FALSE(decodes(R"({"version":"1","sha256":"ab"})"));
    EXPECT_FALSE(decodes(R"({"version":"1","downloadURL":"https://u.example/q.zip"})"));
    EXPECT_EQ(AppUpdateInfo::decode(R"({"version":1,"downloadURL":"https://u.example/q.zip","sha256":"ab"})").error->kind,
              FeedDecodingError::Kind::WrongType);
    EXPECT_FALSE(decodes(R"({"version":"1","downloadURL":"https://u.example/q.zip","sha256":5})"));
    EXPECT_TRUE(decodes(R"({"version":"","downloadURL":"https://u.example/q.zip","sha256":""})"));
    // Addresses: the empty text and malformed ones fail; a present release page is checked too.
    EXPECT_EQ(AppUpdateInfo::decode(R"({"version":"1","downloadURL":"","sha256":"ab"})").error->kind,
              FeedDecodingError::Kind::InvalidValue);
    EXPECT_FALSE(decodes(R"({"version":"1","downloadURL":"http://[::1","sha256":"ab"})"));
    EXPECT_FALSE(decodes(feedWith(R"("releasePageURL":"")")));
    EXPECT_FALSE(decodes(feedWith(R"("releasePageURL":3)")));
    EXPECT_TRUE(decodes(feedWith(R"("releasePageURL":null)")));
    // Optional texts: another JSON type fails.
    EXPECT_FALSE(decodes(feedWith(R"("notes":1)")));
    EXPECT_FALSE(decodes(feedWith(R"("minimumSupportedVersion":false)")));
    EXPECT_EQ(AppUpdateInfo::decode(feedWith(R"("notes":"")")).info->notes, "");
}

TEST(AppUpdateInfo, PackageTypeIsExactlyZip) {
    EXPECT_TRUE(decodes(feedWith(R"("packageType":"zip")")));
    EXPECT_TRUE(decodes(feedWith(R"("packageType":null)")));
    EXPECT_EQ(AppUpdateInfo::decode(feedWith(R"("packageType":"ZIP")")).error->kind, FeedDecodingError::Kind::InvalidValue);
    EXPECT_FALSE(decodes(feedWith(R"("packageType":"dmg")")));
    EXPECT_FALSE(decodes(feedWith(R"("packageType":1)")));
}

TEST(AppUpdateInfo, PublicationTimes) {
    EXPECT_TRUE(AppUpdateInfo::iso8601Date("2025-03-01T09:30:00Z"));
    const auto withOffset = AppUpdateInfo::iso8601Date("2025-03-01T09:30:00+09:00");
    ASSERT_TRUE(withOffset);
    EXPECT_EQ(withOffset->toUTC().toString(Qt::ISODate), "2025-03-01T00:30:00Z");
    for (const char* text : {"2025-03-01", "soon", "2025-03-01T09:30:00", "2025-03-01 09:30:00Z", "2025-13-01T09:30:00Z", ""}) {
        EXPECT_FALSE(AppUpdateInfo::iso8601Date(text)) << text;
    }
    const AppUpdateInfo::Decoded free = AppUpdateInfo::decode(feedWith(R"("publishedAt":"yesterday")"));
    ASSERT_TRUE(free.info);
    EXPECT_FALSE(free.info->publishedAt);
    EXPECT_FALSE(decodes(feedWith(R"("publishedAt":20250301)")));
}

TEST(AppUpdateInfo, BodiesThatAreNotObjectsFail) {
    for (const char* body : {"", "not json", "[]", "\"text\"", "{\"version\":\"1\",", "null"}) {
        EXPECT_FALSE(decodes(body)) << body;
    }
    EXPECT_EQ(AppUpdateInfo::decode("nope").error->kind, FeedDecodingError::Kind::MalformedJSON);
}

TEST(AppUpdateInfo, VersionSummary) {
    AppUpdateInfo info;
    info.version = "2.0";
    EXPECT_EQ(info.versionSummary(), "2.0");
    info.build = 0;
    EXPECT_EQ(info.versionSummary(), "2.0 (0)");
    info.build = -3;
    EXPECT_EQ(info.versionSummary(), "2.0 (-3)");
}

TEST(InstalledAppVersionOrder, PiecesThenBuilds) {
    EXPECT_TRUE(v("1.9") < v("1.10"));
    EXPECT_FALSE(v("1.10") < v("1.9"));
    EXPECT_TRUE(v("1.99.99") < v("2"));
    EXPECT_TRUE(equalOrder(v("1..2"), v("1.2")));
    EXPECT_TRUE(equalOrder(v("1.0-beta"), v("1.0")));
    EXPECT_TRUE(equalOrder(v(""), v("0.0")));
    EXPECT_TRUE(equalOrder(v("rc2"), v("0")));
    EXPECT_TRUE(equalOrder(v(".1."), v("1")));
    EXPECT_TRUE(equalOrder(v("1.0"), v("1.0.0")));
    EXPECT_TRUE(v("1.2", 3) < v("1.2.0", 4));
    EXPECT_TRUE(v("1.0", 5) < v("1.0", 6));
    EXPECT_FALSE(v("1.0", 7) < v("1.0", 6));
    EXPECT_TRUE(equalOrder(v("1.0"), v("1.0", 0)));
    EXPECT_TRUE(v("0.0.0") < v("0.1"));
    EXPECT_TRUE(v("1.0", -1) < v("1.0"));
}

TEST(InstalledAppVersion, ReadFromTheInfoPlist) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Info.plist");
    auto write = [&](const QByteArray& entries) {
        ASSERT_TRUE(testsupport::writeFile(path, R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)" +
                                                     entries + "</dict></plist>"));
    };
    write("<key>CFBundleShortVersionString</key><string>1.4.0</string><key>CFBundleVersion</key><string>27</string>");
    InstalledAppVersion installed = InstalledAppVersion::fromInfoPlist(path);
    EXPECT_EQ(installed.version, "1.4.0");
    EXPECT_EQ(installed.build, 27);
    EXPECT_EQ(installed.summary(), "1.4.0 (27)");

    write("<key>CFBundleShortVersionString</key><string>1.4.0</string><key>CFBundleVersion</key><string>1.2</string>");
    EXPECT_EQ(InstalledAppVersion::fromInfoPlist(path).summary(), "1.4.0");

    // Read afresh: no build string gives build 0; no version string gives 0.0.0.
    write("<key>CFBundleShortVersionString</key><integer>3</integer>");
    installed = InstalledAppVersion::fromInfoPlist(path);
    EXPECT_EQ(installed.summary(), "0.0.0 (0)");
    EXPECT_TRUE(installed < v("0.0.1"));

    EXPECT_EQ(InstalledAppVersion::fromInfoPlist(dir.filePath("missing.plist")).summary(), "0.0.0 (0)");
}

TEST(InstalledAppVersion, CurrentReadsTheRunningBundleEachTime) {
    QTemporaryDir dir;
    const QString bundlePath = dir.filePath("Quillvex.app");
    const QString plist = bundlePath + "/Contents/Info.plist";
    // A binary property list, as a bundle may carry one.
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "CFBundleShortVersionString", plist_new_string("2.1"));
    plist_dict_set_item(root, "CFBundleVersion", plist_new_string("+7"));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    plist_free(root);
    ASSERT_TRUE(testsupport::writeFile(plist, QByteArray(bin, static_cast<qsizetype>(length))));
    free(bin);

    const platform::MainBundle bundle(std::nullopt, bundlePath);
    const platform::MainBundle* previous = platform::MainBundle::setShared(&bundle);
    EXPECT_EQ(InstalledAppVersion::current().summary(), "2.1 (7)");
    ASSERT_TRUE(testsupport::writeFile(plist, "not a property list"));
    EXPECT_EQ(InstalledAppVersion::current().summary(), "0.0.0 (0)");  // no cache: the damaged file reads as empty
    platform::MainBundle::setShared(previous);
}
