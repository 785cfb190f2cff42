#include "detection/notification_record_decoder.h"
#include "test_database_fixture.h"

#include <random>

using platform::LogLevel;

namespace {

const QString kPrefix = QStringLiteral("NotificationDatabaseDetector: ");

PropertyList text(const char* value) { return PropertyList::makeText(QString::fromUtf8(value)); }

PropertyList dict(std::vector<std::pair<QString, PropertyList>> entries) {
    return PropertyList::makeDictionary(std::move(entries));
}

PropertyList request(std::optional<const char*> title, std::optional<const char*> subtitle,
                     std::optional<const char*> body) {
    std::vector<std::pair<QString, PropertyList>> entries;
    if (title) entries.emplace_back("titl", text(*title));
    if (subtitle) entries.emplace_back("subt", text(*subtitle));
    if (body) entries.emplace_back("body", text(*body));
    return dict({{"req", dict(std::move(entries))}});
}

// A binary list of `depth` nested one-element arrays around an empty dictionary; `cycle` makes the
// innermost array hold the outermost instead.
QByteArray nestedBinaryList(int depth, bool cycle = false) {
    auto be32 = [](QByteArray& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.append(static_cast<char>((v >> shift) & 0xFF));
    };
    QByteArray data = "bplist00";
    std::vector<uint32_t> offsets;
    for (int i = 0; i < depth; ++i) {
        offsets.push_back(static_cast<uint32_t>(data.size()));
        data.append(static_cast<char>(0xA1));
        be32(data, cycle && i == depth - 1 ? 0 : static_cast<uint32_t>(i + 1));
    }
    offsets.push_back(static_cast<uint32_t>(data.size()));
    data.append(static_cast<char>(0xD0));
    const uint32_t table = static_cast<uint32_t>(data.size());
    for (uint32_t offset : offsets) be32(data, offset);
    data.append(QByteArray(6, '\0'));
    data.append(char(4)).append(char(4));
    for (uint64_t v : {uint64_t(offsets.size()), uint64_t(0), uint64_t(table)})
        for (int shift = 56; shift >= 0; shift -= 8) data.append(static_cast<char>((v >> shift) & 0xFF));
    return data;
}

}  // namespace

TEST(NotificationRecordDecoderTest, MessageChoiceFollowsTheMusicRule) {
    const std::optional<QString> music = QStringLiteral("com.example.MUSIC.player");
    const std::optional<QString> other = QStringLiteral("com.example.Mail");
    auto choose = [](const PropertyList& root, const std::optional<QString>& bundle) {
        return NotificationRecordDecoder::chooseMessage(root, bundle);
    };
    EXPECT_EQ(choose(request("T", "S", "Y"), music), QStringLiteral("T \u2022 S"));
    EXPECT_EQ(choose(request("T", std::nullopt, "Y"), music), QStringLiteral("T \u2022 Y"));
    EXPECT_EQ(choose(request("T", std::nullopt, std::nullopt), music), "T");
    EXPECT_EQ(choose(request(std::nullopt, "S", std::nullopt), music), "S");
    EXPECT_EQ(choose(request(std::nullopt, "S", "Y"), music), "Y");
    EXPECT_EQ(choose(request("T", "S", "Y"), other), "T");
    EXPECT_EQ(choose(request("T", "S", "Y"), std::nullopt), "T");
    EXPECT_EQ(choose(request(std::nullopt, "S", "Y"), other), "Y");
    EXPECT_EQ(choose(request(std::nullopt, "S", std::nullopt), other), "S");
    EXPECT_EQ(choose(request("", "S", "Y"), other), "");
    EXPECT_FALSE(choose(dict({}), other));
    // A title of another type counts as absent.
    EXPECT_EQ(choose(dict({{"req", dict({{"titl", PropertyList::makeOther()}, {"body", text("Y")}})}}), other), "Y");
}

TEST(NotificationRecordDecoderTest, BundleIdComesFromTheAppDictionaryThenTheTopLevel) {
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
    EXPECT_EQ(extract(dict({{"app", dict({{"identifier", text("")}})}, {"bundleID", text("root.fifth")}})), "root.fifth");
    EXPECT_FALSE(extract(dict({{"identifier", PropertyList::makeOther()}})));
}

TEST(NotificationRecordDecoderTest, GenericMessages) {
    auto generic = [](std::optional<QString> m) { return NotificationRecordDecoder::isGenericNotificationMessage(m); };
    EXPECT_TRUE(generic(std::nullopt));
    EXPECT_TRUE(generic(QStringLiteral(" \n\t ")));
    EXPECT_TRUE(generic(QStringLiteral("  You Have A New Notification  ")));
    EXPECT_TRUE(generic(QStringLiteral("3 New Notifications")));
    EXPECT_TRUE(generic(QStringLiteral("新しい通知があります")));
    EXPECT_FALSE(generic(QStringLiteral("Lunch at noon?")));
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
    EXPECT_EQ(NotificationRecordDecoder::potentialMessageFieldLines(root, std::nullopt).join("\n").toStdString(),
              expected.join("\n").toStdString());

    PropertyList nested = dict({{"aps", dict({{"alert", dict({{"title", text("Hi")}})}})}});
    EXPECT_EQ(NotificationRecordDecoder::potentialMessageFieldLines(nested, QStringLiteral("b.c")).mid(3),
              (QStringList{kPrefix + "aps.alert keys: [\"title\"]", kPrefix + "aps.alert.title='Hi'"}));
}

TEST(PropertyListTest, ReadsBinaryAndXmlAndSurvivesGarbage) {
    PropertyList record = notificationstore::notificationRecord("com.example.Mail", QStringLiteral("Tïtle ✓"));
    for (auto encoding : {notificationstore::Encoding::binary, notificationstore::Encoding::xml}) {
        auto parsed = PropertyList::parse(notificationstore::encodePropertyList(record, encoding));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->dictionaryValue("req")->textValue("titl"), QStringLiteral("Tïtle ✓"));
        EXPECT_EQ(parsed->entries().front().first, "identifier");
    }
    EXPECT_FALSE(PropertyList::parse(QByteArray()));
    EXPECT_FALSE(PropertyList::parse("not a plist at all"));

    // Truncations, bit flips and random bytes of real lists: never a crash, leak or hang.
    const QByteArray seeds[] = {
        notificationstore::encodePropertyList(record, notificationstore::Encoding::binary),
        notificationstore::encodePropertyList(record, notificationstore::Encoding::xml),
    };
    std::mt19937 random(20240601);
    for (const QByteArray& seed : seeds) {
        for (int cut = 0; cut < seed.size(); ++cut) PropertyList::parse(seed.left(cut));
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes = seed;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips; ++i) bytes[static_cast<int>(random() % bytes.size())] = static_cast<char>(random());
            PropertyList::parse(bytes);
        }
    }
    // The library recurses: lists nested too deep, or with cycles, are refused before it runs.
    EXPECT_TRUE(PropertyList::parse(nestedBinaryList(100)));
    QString error;
    EXPECT_FALSE(PropertyList::parse(nestedBinaryList(300000), &error));
    EXPECT_EQ(error, "the data is malformed or nested more than 512 levels deep");
    EXPECT_FALSE(PropertyList::parse(nestedBinaryList(3, true)));
    EXPECT_FALSE(PropertyList::parse("<plist>" + QByteArray("<array>").repeated(300000) + "</plist>"));
    EXPECT_TRUE(PropertyList::parse("<?xml version=\"1.0\"?><!-- <dict> --><plist version=\"1.0\">" +
                                    QByteArray("<array>").repeated(100) + "<dict/>" +
                                    QByteArray("</array>").repeated(100) + "</plist>"));

    for (int round = 0; round < 500; ++round) {
        QByteArray bytes = "bplist00";
        for (int i = 0; i < 64; ++i) bytes.append(static_cast<char>(random()));
        PropertyList::parse(bytes);
    }
}

// Records through the whole detector: stored, polled, decoded and published.
class DatabaseRecordsTest : public DatabaseDetectorTest {
protected:
    void SetUp() override {
        store();
        detector = makeDetector();
        ASSERT_TRUE(detector->start());
        log.clear();
    }
    void postData(const QString& bundleId, const QByteArray& data) {
        ASSERT_TRUE(store().appendRecord(bundleId, data));
    }
    void postRecord(const QString& bundleId, const PropertyList& record) {
        postData(bundleId, notificationstore::encodePropertyList(record));
    }
    void pollNow() { watcher.fire(storePath() + "-wal"); }

    std::unique_ptr<NotificationDatabaseDetector> detector;
};

TEST_F(DatabaseRecordsTest, TitleSubtitleAndBodyBecomeTheMessage) {
    postRecord("com.example.Music", request("T", "S", "Y"));
    postRecord("com.example.Mail", request("T", "S", "Y"));
    postRecord("com.example.Mail", notificationstore::notificationRecord("x", std::nullopt, std::nullopt, "Only body"));
    pollNow();
    EXPECT_EQ(messages(), (QStringList{QStringLiteral("T \u2022 S"), "T", "Only body"}));
    EXPECT_EQ(received[0].sourceHint, "Music");
    EXPECT_TRUE(log.matching(kPrefix + "Generic message detected").isEmpty());
}

TEST_F(DatabaseRecordsTest, UnreadableOrEmptyRecordsStillGiveASignal) {
    postData("com.example.Mail", "definitely not a property list");
    postData("com.example.Mail", QByteArray());
    ASSERT_TRUE(store().appendRecordWithoutApp(std::nullopt));
    pollNow();
    ASSERT_EQ(received.size(), 3u);
    for (const auto& s : received) EXPECT_FALSE(s.message);
    EXPECT_EQ(received[0].bundleId, "com.example.Mail");
    EXPECT_FALSE(received[2].bundleId);
    EXPECT_EQ(log.count(kPrefix + "Failed to parse plist data: the data is not a binary or XML property list"), 1);
    EXPECT_TRUE(log.matching(kPrefix + "Generic message detected").isEmpty());
}

TEST_F(DatabaseRecordsTest, GenericOrMissingTextIsDumpedAndStillPublished) {
    postRecord("com.example.Mail", request("  You have a new notification ", std::nullopt, std::nullopt));
    postRecord("com.example.Mail", dict({{"aps", dict({{"alert", text("From aps")}})}}));
    pollNow();
    EXPECT_EQ(messages(), (QStringList{"  You have a new notification ", "<none>"}));
    EXPECT_EQ(log.count(kPrefix + "Generic message detected; dumping candidate fields for bundleId='com.example.Mail'"), 2);
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "aps.alert='From aps'"));
}

TEST_F(DatabaseRecordsTest, ApplicationNameAndNotificationCenterFilter) {
    workspace.addApplication(7, QStringLiteral("com.example.Chat"), QStringLiteral("Chat Deluxe"),
                             testsupport::solidIcon(Qt::red));
    workspace.addApplication(8, QStringLiteral("com.example.nc"), QStringLiteral("NOTIFICATION CENTER"));
    workspace.addApplication(9, QStringLiteral("com.example.jp"), QStringLiteral("通知センター"));
    workspace.addApplication(10, QStringLiteral("com.example.nameless"), std::nullopt);
    for (const char* bundle : {"com.example.Chat", "com.example.nc", "com.example.jp", "com.example.nameless",
                               "a.b.Three", "..."}) {
        postRecord(bundle, notificationstore::notificationRecord(bundle, QString::fromLatin1(bundle)));
    }
    pollNow();
    EXPECT_EQ(messages(), (QStringList{"com.example.Chat", "com.example.nameless", "a.b.Three", "..."}));
    EXPECT_EQ(received[0].sourceHint, "Chat Deluxe");
    EXPECT_TRUE(received[0].appIconData && !received[0].appIconData->isEmpty());
    EXPECT_FALSE(received[1].sourceHint);
    EXPECT_EQ(received[2].sourceHint, "Three");
    EXPECT_FALSE(received[3].sourceHint);
    // Dropped rows still count as handed on.
    EXPECT_TRUE(log.contains(kPrefix + "Processed 6 notifications using query 'sequoia-record-join-app_id'"));
}

TEST_F(DatabaseRecordsTest, EmptyBundleIdSkipsTheNameLookup) {
    workspace.addApplication(7, QStringLiteral(""), QStringLiteral("Notification Center"));
    postRecord("", request("Hi", std::nullopt, std::nullopt));
    pollNow();
    ASSERT_EQ(messages(), QStringList{"Hi"});
    EXPECT_EQ(received[0].bundleId, "");
    EXPECT_FALSE(received[0].sourceHint);
}
