#include "detection/notification_record_decoder.h"
#include "icon_fixtures.h"
#include "test_database_fixture.h"

#include "core/app_icon_helper.h"
#include "core/image_helper.h"

#include "platform/workspace/icon_lookup.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <QFile>
#include <QIcon>

#include <random>

using namespace std::chrono_literals;

namespace {

const QString kPrefix = QStringLiteral("NotificationDatabaseDetector: ");

PropertyList text(const char* value) { return PropertyList::makeText(QString::fromUtf8(value)); }
PropertyList dict(std::vector<std::pair<QString, PropertyList>> entries) {
    return PropertyList::makeDictionary(std::move(entries));
}
// A record whose request holds the given title, subtitle and body; "-" leaves one out.
PropertyList request(const char* title, const char* subtitle, const char* body) {
    std::vector<std::pair<QString, PropertyList>> entries;
    for (auto [key, value] : {std::pair{"titl", title}, {"subt", subtitle}, {"body", body}})
        if (qstrcmp(value, "-") != 0) entries.emplace_back(key, text(value));
    return dict({{"req", dict(std::move(entries))}});
}

QByteArray corpusFile(const char* name) {
    QFile file(QStringLiteral(QUILLVEX_RECORD_CORPUS "/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An XML record whose first array carries an attribute opened with a single quote and never
// closed, followed by `depth` nested arrays.
QByteArray quoteBypassRecord(int depth) {
    return "<plist><dict><key>identifier</key><string>com.example.Mail</string><key>req</key><dict><key>titl</key>"
           "<string>quote</string></dict><key>x</key><array a='>" +
           QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth + 1) + "</dict></plist>";
}

// `depth` dictionaries, each the only value of the one around it.
PropertyList nestedDictionaries(int depth) {
    PropertyList list = dict({});
    while (depth-- > 0) list = dict({{"k", std::move(list)}});
    return list;
}

}  // namespace

TEST(NotificationRecordDecoderTest, MessageChoiceFollowsTheMusicRule) {
    const QString music = QStringLiteral("com.example.MUSIC.player");
    const QString other = QStringLiteral("com.example.Mail");
    struct Case {
        PropertyList record;
        std::optional<QString> bundleId;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {request("T", "S", "Y"), music, QStringLiteral("T \u2022 S")},
        {request("T", "-", "Y"), music, QStringLiteral("T \u2022 Y")},
        {request("T", "-", "-"), music, "T"},
        {request("-", "S", "-"), music, "S"},
        {request("-", "S", "Y"), music, "Y"},
        {request("T", "S", "Y"), other, "T"},
        {request("-", "S", "Y"), other, "Y"},
        {request("-", "S", "-"), other, "S"},
        {request("", "S", "Y"), other, ""},
        {dict({}), other, std::nullopt},
        // A title of another type counts as absent.
        {dict({{"req", dict({{"titl", PropertyList::makeOther()}, {"body", text("Y")}})}}), other, "Y"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(NotificationRecordDecoder::chooseMessage(cases[i].record, cases[i].bundleId), cases[i].expected) << i;
}

TEST(NotificationRecordDecoderTest, BundleIdAndGenericMessages) {
    auto extract = NotificationRecordDecoder::extractBundleId;
    EXPECT_EQ(extract(dict({{"bundleID", text("root.last")},
                            {"app", dict({{"bundleId", text("in.app")}})},
                            {"identifier", text("root.first")}})),
              "in.app");
    // An "app" text is ignored; empty texts are passed over; key order decides at the top level.
    EXPECT_EQ(extract(dict({{"app", text("com.example.Text")},
                            {"bundleIdentifier", text("root.third")},
                            {"bundle-id", text("")},
                            {"bundleId", text("root.second")}})),
              "root.second");
    EXPECT_FALSE(extract(dict({{"app", dict({{"identifier", text("")}})}, {"identifier", PropertyList::makeOther()}})));

    for (const char* generic : {" \n\t ", "3 New Notifications", "新しい通知があります"})
        EXPECT_TRUE(NotificationRecordDecoder::isGenericNotificationMessage(QString::fromUtf8(generic))) << generic;
    EXPECT_FALSE(NotificationRecordDecoder::isGenericNotificationMessage(QStringLiteral("Lunch at noon?")));
}

TEST(NotificationRecordDecoderTest, DumpListsKeysInOrderAndOnlyNonBlankTexts) {
    PropertyList root = dict({
        {"req", dict({{"titl", text(" ")}, {"body", text(" padded ")}, {"n", PropertyList::makeOther()}})},
        {"aps", dict({{"alert", text("Alert text")}, {"badge", PropertyList::makeOther()}})},
        {"meta", dict({{"inner", dict({{"deep", text("not descended")}})}})},
        {"userInfo", text("not a dictionary")},
    });
    const QStringList expected = {
        kPrefix + "Generic message detected; dumping candidate fields for bundleId='unknown'",
        kPrefix + "plist keys: [\"req\", \"aps\", \"meta\", \"userInfo\"]",
        kPrefix + "plist.userInfo='not a dictionary'",
        kPrefix + "req keys: [\"titl\", \"body\", \"n\"]",
        kPrefix + "req.body=' padded '",
        kPrefix + "aps keys: [\"alert\", \"badge\"]",
        kPrefix + "aps.alert='Alert text'",  // once as a key of "aps", once as the alert itself
        kPrefix + "aps.alert='Alert text'",
        kPrefix + "meta keys: [\"inner\"]",
    };
    EXPECT_EQ(NotificationRecordDecoder::potentialMessageFieldLines(root, std::nullopt), expected);

    PropertyList nested = dict({{"aps", dict({{"alert", dict({{"title", text("Hi")}})}})}});
    EXPECT_EQ(NotificationRecordDecoder::potentialMessageFieldLines(nested, QStringLiteral("b.c")).mid(3),
              (QStringList{kPrefix + "aps.alert keys: [\"title\"]", kPrefix + "aps.alert.title='Hi'"}));
}

TEST(PropertyListTest, ReadsBinaryAndXmlAndSurvivesGarbage) {
    PropertyList record = notificationstore::notificationRecord("com.example.Mail", QStringLiteral("Tïtle ✓"));
    std::mt19937 random(20240601);
    for (auto encoding : {notificationstore::Encoding::binary, notificationstore::Encoding::xml}) {
        const QByteArray seed = notificationstore::encodePropertyList(record, encoding);
        auto parsed = PropertyList::parse(seed);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->dictionaryValue("req")->textValue("titl"), QStringLiteral("Tïtle ✓"));
        EXPECT_EQ(parsed->entries().front().first, "identifier");

        // Truncations and bit flips of real lists: never a crash, leak or hang.
        for (int cut = 0; cut < seed.size(); ++cut) PropertyList::parse(seed.left(cut));
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes = seed;
            for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
                bytes[static_cast<int>(random() % bytes.size())] = static_cast<char>(random());
            PropertyList::parse(bytes);
        }
    }
    for (int round = 0; round < 500; ++round) {
        QByteArray bytes = "bplist00";
        for (int i = 0; i < 64; ++i) bytes.append(static_cast<char>(random()));
        PropertyList::parse(bytes);
    }
    EXPECT_FALSE(PropertyList::parse(QByteArray()));
    EXPECT_FALSE(PropertyList::parse("not a plist at all"));

    // The library recurses, and a list a few ten thousand levels deep would overflow the stack:
    // lists nested deeper than 512 levels are refused before it runs.
    for (auto encoding : {notificationstore::Encoding::binary, notificationstore::Encoding::xml})
        EXPECT_TRUE(PropertyList::parse(notificationstore::encodePropertyList(nestedDictionaries(100), encoding)));
    // (Indented XML that deep would exceed the size limit first, so it is written compactly.)
    const QByteArray deepXml = "<plist>" + QByteArray("<dict><key>k</key>").repeated(600) + "<dict/>" +
                               QByteArray("</dict>").repeated(600) + "</plist>";
    for (const QByteArray& deep : {notificationstore::encodePropertyList(nestedDictionaries(600)), deepXml}) {
        QString error;
        EXPECT_FALSE(PropertyList::parse(deep, &error));
        EXPECT_EQ(error, "the data nests more than 512 levels deep");
    }
}

TEST(PropertyListTest, RefusesHostileListsWithAReasonAndKeepsRealOnes) {
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* error;
    };
    QByteArray oversized = corpusFile("record.xml");
    oversized.append(QByteArray(PropertyList::maxBytes, ' '));
    const Case hostile[] = {
        // Keys that are no text for C consumers; the root of the second is the offending dictionary.
        {"nul key", corpusFile("nulkey_record.bplist"), "a dictionary key holds a NUL character"},
        {"nul key at root", corpusFile("nulkey_root.bplist"), "a dictionary key holds a NUL character"},
        // 366 bytes that reference the next array twice per level: 2^25 values written out.
        {"shared references", corpusFile("shared_refs_depth24.bplist"), "the data holds more than 4096 values"},
        {"wide shared arrays", corpusFile("wide_dicts.bplist"), "the data holds more than 4096 values"},
        {"deep XML", "<plist>" + QByteArray("<array>").repeated(50000), "the data nests more than 512 levels deep"},
        {"oversized", oversized, "the data is larger than 512 KiB"},
        {"many XML values", "<plist><array>" + QByteArray("<true/>").repeated(PropertyList::maxValues) + "</array></plist>",
         "the data holds more than 4096 values"},
    };
    for (const Case& c : hostile) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        QString error;
        EXPECT_FALSE(PropertyList::parse(c.bytes, &error));
        EXPECT_EQ(error, QString::fromLatin1(c.error));
    }
    // A quote the XML grammar does not close makes the document malformed, however deep it goes.
    QString error;
    for (int depth : {1, 30000}) {
        EXPECT_FALSE(PropertyList::parse(quoteBypassRecord(depth), &error));
        EXPECT_TRUE(error.startsWith("the XML property list is malformed: ")) << error.toStdString();
    }
    EXPECT_FALSE(PropertyList::parse(quoteBypassRecord(200000), &error));
    EXPECT_EQ(error, "the data is larger than 512 KiB");

    // Sharing alone is fine: the same layout ten levels deep writes out to 2^11 values.
    auto shared = PropertyList::parse(corpusFile("shared_refs_depth10.bplist"));
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->dictionaryValue("req")->textValue("titl"), "laughs");

    auto music = PropertyList::parse(corpusFile("record_music_utf16.bplist"));
    ASSERT_TRUE(music);
    EXPECT_EQ(NotificationRecordDecoder::extractBundleId(*music), "com.example.Music");
    EXPECT_EQ(NotificationRecordDecoder::chooseMessage(*music, QStringLiteral("com.example.Music")),
              QStringLiteral("S\u00f3ng \u2713 \u2022 Artist"));

    auto xml = PropertyList::parse(corpusFile("record.xml"));
    ASSERT_TRUE(xml);
    EXPECT_EQ(NotificationRecordDecoder::extractBundleId(*xml), "com.example.Chat");
    EXPECT_EQ(xml->dictionaryValue("req")->textValue("titl"), "Lunch & more");
    EXPECT_EQ(xml->dictionaryValue("req")->textValue("body"), "<b>soon</b>");
    EXPECT_TRUE(xml->dictionaryValue("aps")->dictionaryValue("alert"));
    EXPECT_EQ(xml->value("flags")->kind(), PropertyList::Kind::other);
}

// Records through the whole detector: stored, polled, decoded and published.
class DatabaseRecordsTest : public DatabaseDetectorTest {
protected:
    void postRecord(const QString& bundleId, const PropertyList& record) {
        ASSERT_TRUE(store().appendRecord(bundleId, notificationstore::encodePropertyList(record)));
    }
    void poll(const std::function<void()>& postRows) {
        store();
        auto detector = startedDetector();
        log.clear();
        postRows();
        watcher.fire(walPath());
    }
};

TEST_F(DatabaseRecordsTest, RowsBecomeSignalsWhateverTheirRecordHolds) {
    poll([this] {
        postRecord("com.example.Music", request("T", "S", "Y"));
        postRecord("com.example.Mail", request("T", "S", "Y"));
        postRecord("com.example.Mail", request("-", "-", "Only body"));
        postRecord("com.example.Mail", request("  You have a new notification ", "-", "-"));
        postRecord("com.example.Mail", dict({{"aps", dict({{"alert", text("From aps")}})}}));
        ASSERT_TRUE(store().appendRecord("com.example.Mail", "definitely not a property list"));
        ASSERT_TRUE(store().appendRecord("com.example.Mail", QByteArray()));
        ASSERT_TRUE(store().appendRecordWithoutApp(std::nullopt));
    });
    EXPECT_EQ(messages(), (QStringList{QStringLiteral("T \u2022 S"), "T", "Only body", "  You have a new notification ",
                                       "<none>", "<none>", "<none>", "<none>"}));
    EXPECT_EQ(received[0].sourceHint, "Music");
    EXPECT_EQ(received[5].bundleId, "com.example.Mail");
    EXPECT_FALSE(received[7].bundleId);
    // Only the generic and the missing text are dumped; only the unreadable blob fails to parse.
    EXPECT_EQ(loggedCount("Generic message detected; dumping candidate fields for bundleId='com.example.Mail'"), 2);
    EXPECT_TRUE(logged(LogLevel::Debug, "aps.alert='From aps'"));
    EXPECT_EQ(log.matching(kPrefix + "Failed to parse plist data: ").size(), 1);
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to parse plist data: the data is not a binary or XML property list"));
}

TEST_F(DatabaseRecordsTest, HostileRecordsCostOnlyTheirText) {
    poll([this] {
        ASSERT_TRUE(store().appendRecord("com.example.Mail", corpusFile("nulkey_record.bplist")));
        ASSERT_TRUE(store().appendRecord("com.example.Mail", quoteBypassRecord(200000)));
        ASSERT_TRUE(store().appendRecord("com.example.Mail", corpusFile("shared_refs_depth24.bplist")));
        postRecord("com.example.Mail", request("After", "-", "-"));
    });
    EXPECT_EQ(messages(), (QStringList{"<none>", "<none>", "<none>", "After"}));
    EXPECT_EQ(received[0].bundleId, "com.example.Mail");
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to parse plist data: a dictionary key holds a NUL character"));
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to parse plist data: the data holds more than 4096 values"));
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to parse plist data: the data is larger than 512 KiB"));
}

TEST_F(DatabaseRecordsTest, ApplicationNameAndNotificationCenterFilter) {
    workspace.addApplication(7, QStringLiteral("com.example.Chat"), QStringLiteral("Chat Deluxe"),
                             testsupport::solidIcon(Qt::red));
    workspace.addApplication(8, QStringLiteral("com.example.nc"), QStringLiteral("NOTIFICATION CENTER"));
    workspace.addApplication(9, QStringLiteral("com.example.jp"), QStringLiteral("通知センター"));
    workspace.addApplication(10, QStringLiteral("com.example.nameless"), std::nullopt);
    workspace.addApplication(11, QStringLiteral(""), QStringLiteral("Notification Center"));
    poll([this] {
        for (const char* bundle : {"com.example.Chat", "com.example.nc", "com.example.jp", "com.example.nameless",
                                   "a.b.Three", "...", ""})
            postRecord(bundle, notificationstore::notificationRecord(bundle, QString::fromLatin1(bundle)));
    });
    // Dropped rows go silently; an empty identifier is not looked up, so it is not filtered.
    EXPECT_EQ(messages(), (QStringList{"com.example.Chat", "com.example.nameless", "a.b.Three", "...", ""}));
    EXPECT_EQ(received[0].sourceHint, "Chat Deluxe");
    EXPECT_TRUE(received[0].appIconData && !received[0].appIconData->isEmpty());
    EXPECT_FALSE(received[1].sourceHint);
    EXPECT_EQ(received[2].sourceHint, "Three");
    EXPECT_FALSE(received[3].sourceHint);
    EXPECT_EQ(received[4].bundleId, "");
    EXPECT_FALSE(received[4].sourceHint);
    // Dropped rows still count as handed on.
    EXPECT_TRUE(logged(LogLevel::Info, "Processed 7 notifications using query 'sequoia-record-join-app_id'"));
}

// The sender's own icon, kept in the record, stands in when no installed application's icon is
// found; a stored picture that promises to be huge is never decoded.
TEST_F(DatabaseRecordsTest, TheSendersIconStandsInForAMissingApplicationIcon) {
    QTemporaryDir noApplications;
    const QString previousRoot = AppIconHelper::setRoot(noApplications.path());
    const QString hicolor = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/icons/hicolor/64x64/apps");
    QDir().mkpath(hicolor);
    testsupport::solidIcon(QColor(20, 200, 40), 64).pixmap(64).save(hicolor + QStringLiteral("/records-sender-icon.png"));
    workspace.addApplication(7, QStringLiteral("com.example.Chat"), QStringLiteral("Chat"),
                             testsupport::solidIcon(QColor(200, 30, 30)));
    auto withIcon = [](const QString& bundleId, std::vector<std::pair<QString, PropertyList>> icon) {
        PropertyList record = notificationstore::notificationRecord(bundleId, bundleId);
        std::vector<std::pair<QString, PropertyList>> entries = record.entries();
        entries.emplace_back(QStringLiteral("icon"), PropertyList::makeDictionary(std::move(icon)));
        return PropertyList::makeDictionary(std::move(entries));
    };
    const QByteArray picture = icontest::encoded(icontest::solid(100, 50, QColor(20, 60, 200)));
    poll([&] {
        postRecord("org.example.Named", withIcon("org.example.Named", {{"name", text("records-sender-icon")}}));
        postRecord("org.example.Pictured", withIcon("org.example.Pictured", {{"png", PropertyList::makeData(picture)}}));
        postRecord("com.example.Chat", withIcon("com.example.Chat", {{"png", PropertyList::makeData(picture)}}));
        postRecord("org.example.Huge",
                   withIcon("org.example.Huge", {{"png", PropertyList::makeData(icontest::claimedHugePng(30000))}}));
        ASSERT_TRUE(store().appendRecord(
            "org.example.Xml", notificationstore::encodePropertyList(
                                   withIcon("org.example.Xml", {{"png", PropertyList::makeData(picture)}}),
                                   notificationstore::Encoding::xml)));
    });
    AppIconHelper::setRoot(previousRoot);
    ASSERT_EQ(received.size(), 5u);
    auto centre = [&](size_t i) {
        const auto image = received[i].appIconData ? ImageHelper::image(*received[i].appIconData) : std::nullopt;
        return image ? image->pixelColor(image->width() / 2, image->height() / 2) : QColor();
    };
    EXPECT_EQ(centre(0), QColor(20, 200, 40));
    EXPECT_EQ(centre(1), QColor(20, 60, 200));
    EXPECT_EQ(received[1].appIconData, picture);  // passed on as stored
    EXPECT_EQ(centre(2), QColor(200, 30, 30));    // the installed application's own icon wins
    EXPECT_FALSE(received[3].appIconData);
    EXPECT_EQ(centre(4), QColor(20, 60, 200));
}

// A notification whose sender's icon is still being looked up waits for it, in order: it goes once
// the icon is found, else without it once its second is over, or once a later one waited a tenth
// of a second behind it.
TEST_F(DatabaseRecordsTest, ANotificationWaitsForItsIconBeingLookedUpButNoLongerThanItsTime) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    platform::IconLookup& lookup = platform::IconLookup::shared();
    lookup.setAwaitAnswers(std::nullopt);
    QTemporaryDir noApplications;
    const QString previousRoot = AppIconHelper::setRoot(noApplications.path());
    const QStringList previousPaths = QIcon::themeSearchPaths();
    const QString hicolor = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/icons/hicolor/64x64/apps");
    QDir().mkpath(hicolor);
    testsupport::solidIcon(QColor(20, 200, 40), 64).pixmap(64).save(hicolor + QStringLiteral("/records-late-icon.png"));
    auto named = [](const QString& bundleId, const char* icon) {
        std::vector<std::pair<QString, PropertyList>> entries =
            notificationstore::notificationRecord(bundleId, bundleId).entries();
        entries.emplace_back(QStringLiteral("icon"), dict({{"name", text(icon)}}));
        return PropertyList::makeDictionary(std::move(entries));
    };
    store();
    auto detector = startedDetector();
    postRecord("org.example.Late", named("org.example.Late", "records-late-icon"));
    watcher.fire(walPath());
    EXPECT_TRUE(received.empty()) << "sent before its icon was found";
    ASSERT_TRUE(lookup.waitUntilIdle(20s));
    scheduler().drain();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(received[0].appIconData);

    // Every lookup now walks a folder that never answers.
    QIcon::setThemeSearchPaths(QStringList{mount->hungFolder()} + previousPaths);
    postRecord("org.example.Stuck", named("org.example.Stuck", "records-stuck-icon"));
    watcher.fire(walPath());
    scheduler().advance(0.05);
    postRecord("org.example.After", named("org.example.After", "records-late-icon"));
    watcher.fire(walPath());
    EXPECT_EQ(received.size(), 1u);
    scheduler().advance(0.09);
    EXPECT_EQ(received.size(), 1u);
    scheduler().advance(0.02);
    ASSERT_EQ(messages(), (QStringList{"org.example.Late", "org.example.Stuck"}));
    EXPECT_FALSE(received[1].appIconData);
    scheduler().advance(0.85);
    EXPECT_EQ(received.size(), 2u);
    scheduler().advance(0.1);
    EXPECT_EQ(messages(), (QStringList{"org.example.Late", "org.example.Stuck", "org.example.After"}));

    mount->stop();
    EXPECT_TRUE(lookup.waitUntilIdle(20s));
    QIcon::setThemeSearchPaths(previousPaths);
    AppIconHelper::setRoot(previousRoot);
    lookup.setAwaitAnswers(20s);
}

namespace {

// A binary property list holding one dictionary whose one key is `key` (marker and payload as
// the format writes them) and whose value is the text "v".
QByteArray dictionaryWithKey(const QByteArray& key) {
    QByteArray out = "bplist00";
    const int dictAt = static_cast<int>(out.size());
    out += QByteArray("\xD1\x01\x02", 3);  // one entry: key object 1, value object 2
    const int keyAt = static_cast<int>(out.size());
    out += key;
    const int valueAt = static_cast<int>(out.size());
    out += QByteArray("\x51v", 2);
    const int tableAt = static_cast<int>(out.size());
    for (int offset : {dictAt, keyAt, valueAt}) out += static_cast<char>(offset);
    QByteArray trailer(32, '\0');
    trailer[6] = 1;   // offset size
    trailer[7] = 1;   // reference size
    trailer[15] = 3;  // objects
    trailer[23] = 0;  // top object
    trailer[31] = static_cast<char>(tableAt);
    return out + trailer;
}

}  // namespace

// Keys are names: a NUL in one is refused in either text encoding; any other control character,
// down to 0x01, is an ordinary character.
TEST(BinaryPropertyList, ADictionaryKeyWithNulIsRefusedAndOneWithControlCharactersIsKept) {
    const QByteArray asciiNul("\x53" "a\0b", 4);
    const QByteArray utf16Nul("\x62\x00\x61\x00\x00", 5);  // "a", U+0000
    for (const QByteArray& key : {asciiNul, utf16Nul}) {
        QString error;
        EXPECT_FALSE(PropertyList::parse(dictionaryWithKey(key), &error)) << key.toHex().toStdString();
        EXPECT_EQ(error, QStringLiteral("a dictionary key holds a NUL character"));
    }
    const QByteArray asciiOne("\x53" "a\x01" "b", 4);
    const QByteArray utf16One("\x62\x00\x61\x00\x01", 5);  // "a", U+0001
    const QByteArray utf16HighNul("\x61\x01\x00", 3);      // U+0100: a zero byte, no NUL
    const std::pair<QByteArray, QString> kept[] = {{asciiOne, QStringLiteral("a\x01" "b")},
                                                   {utf16One, QStringLiteral("a\x01")},
                                                   {utf16HighNul, QString(QChar(0x0100))}};
    for (const auto& [key, name] : kept) {
        QString error;
        const auto root = PropertyList::parse(dictionaryWithKey(key), &error);
        ASSERT_TRUE(root) << key.toHex().toStdString() << ": " << error.toStdString();
        const auto value = root->value(name);
        ASSERT_TRUE(value) << key.toHex().toStdString();
        EXPECT_EQ(value->text(), QStringLiteral("v"));
    }
}
