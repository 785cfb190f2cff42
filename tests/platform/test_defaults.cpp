#include "platform/storage/defaults.h"
#include "platform/storage/json_defaults_storage.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::Defaults;
using platform::DefaultsValue;
using platform::JsonDefaultsStorage;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::unique_ptr<Defaults> openFile(const QString& path) {
    return std::make_unique<Defaults>(std::make_unique<JsonDefaultsStorage>(path));
}

// Runs the real event loop until `done`; false when it never came (the bound only ends a failing
// test, nothing waits for it to pass).
bool runUntil(const std::function<bool()>& done) {
    QDeadlineTimer bound(20'000);
    while (!done()) {
        if (bound.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return true;
}

// Writes the file in place, as an editor that truncates and rewrites it does.
void writeInPlace(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

// Writes a new file beside it and renames it over the old one, as most editors save.
void replaceFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(testsupport::writeFile(path + ".new", bytes));
    ASSERT_EQ(::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()), 0);
}

// Marks a folder immutable (nothing in it may be created, renamed or removed, even by root)
// for its lifetime; `applied` is false where the file system has no such flag.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const QString& path) : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY)) {
        applied = fd_ >= 0 && setImmutable(true);
    }
    ~ImmutableFolder() {
        if (applied) setImmutable(false);
        if (fd_ >= 0) ::close(fd_);
    }
    bool applied = false;

private:
    bool setImmutable(bool on) {
        int flags = 0;
        if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return false;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        return ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    int fd_;
};

TEST(Defaults, ReadsWithThePlatformCoercions) {
    const struct {
        const char* name;
        DefaultsValue value;
        std::optional<bool> asBool;
        std::optional<int64_t> asInteger;
        std::optional<double> asDouble;
        std::optional<QString> asText;
    } cases[] = {
        {"true", true, true, 1, 1.0, "1"},
        {"false", false, false, 0, 0.0, "0"},
        {"zero", int64_t(0), false, 0, 0.0, "0"},
        {"integer", int64_t(-42), true, -42, -42.0, "-42"},
        {"big integer", INT64_MAX, true, INT64_MAX, 9223372036854775807.0, "9223372036854775807"},
        {"double", 2.75, true, 2, 2.75, "2.75"},
        {"whole double", 3.0, true, 3, 3.0, "3"},
        {"small double", 0.4, true, 0, 0.4, "0.4"},
        {"huge double", 1e300, true, std::nullopt, 1e300, "1e+300"},
        {"nan", std::nan(""), false, std::nullopt, std::nan(""), "nan"},
        {"text TRUE", QString("TRUE"), true, std::nullopt, std::nullopt, "TRUE"},
        {"text no", QString("no"), false, std::nullopt, std::nullopt, "no"},
        {"text yes", QString(" Yes "), true, std::nullopt, std::nullopt, " Yes "},
        {"text 1", QString("1"), true, 1, 1.0, "1"},
        {"text -7", QString(" -7 "), true, -7, -7.0, " -7 "},
        {"text 3.9", QString("3.9"), true, 3, 3.9, "3.9"},
        {"text 0.5", QString("0.5"), false, 0, 0.5, "0.5"},
        {"text word", QString("maybe"), false, std::nullopt, std::nullopt, "maybe"},
        {"text empty", QString(), false, std::nullopt, std::nullopt, ""},
        {"date", QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc()), false, std::nullopt, std::nullopt, std::nullopt},
        {"list", QStringList{"1"}, false, std::nullopt, std::nullopt, std::nullopt},
    };
    Defaults defaults;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.set("k", c.value);
        EXPECT_EQ(defaults.boolValue("k"), c.asBool);
        EXPECT_EQ(defaults.integerValue("k"), c.asInteger);
        const auto asDouble = defaults.doubleValue("k");
        if (c.asDouble && std::isnan(*c.asDouble)) {
            EXPECT_TRUE(asDouble && std::isnan(*asDouble));
        } else {
            EXPECT_EQ(asDouble, c.asDouble);
        }
        EXPECT_EQ(defaults.stringValue("k"), c.asText);
    }
    // Dates, bytes and lists read only as themselves.
    defaults.set("k", QString("2024-01-01T00:00:00Z"));
    EXPECT_EQ(defaults.dateValue("k"), std::nullopt);
    EXPECT_EQ(defaults.stringListValue("k"), std::nullopt);
    EXPECT_EQ(defaults.dataValue("k"), std::nullopt);
    defaults.set("k", QStringList{"a", "b"});
    EXPECT_EQ(defaults.stringListValue("k"), (QStringList{"a", "b"}));
}

TEST(Defaults, SendsOneChangePerWriteAfterStoringIncludingNestedWrites) {
    Defaults defaults;
    QStringList seen;
    std::vector<std::optional<int64_t>> valuesSeen;
    auto sub = defaults.didChange().subscribe([&](const QString& key) {
        seen << key;
        valuesSeen.push_back(defaults.integerValue(key));
        if (key == "a") defaults.set("b", int64_t(2));  // nested write from a handler
    });
    defaults.set("a", int64_t(1));
    EXPECT_EQ(seen, (QStringList{"a", "b"}));
    EXPECT_EQ(valuesSeen, (std::vector<std::optional<int64_t>>{1, 2}));

    seen.clear();
    defaults.set("b", int64_t(2));  // same value: still a write
    defaults.remove("b");
    defaults.remove("never-set");
    EXPECT_EQ(seen, (QStringList{"b", "b", "never-set"}));
    EXPECT_FALSE(defaults.contains("b"));
}

TEST(Defaults, ASecondStartReadsEveryKindTheFirstWrote) {
    testsupport::ScopedTempHome home;
    const QString path = Defaults::domainFilePath(Defaults::standardDomainName());
    EXPECT_EQ(path, home.configPath() + "/Quillvex/com.varnock.Quillvex.json");

    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, QTimeZone::utc());
    const QByteArray bytes("\x00\xff\x10png", 6);
    {
        auto first = openFile(path);
        first->set("flag", false);
        first->set("count", INT64_MIN);
        first->set("ratio", 3.0);
        first->set("infinite", -std::numeric_limits<double>::infinity());
        first->set("name", QString("Ünïcødé \"quoted\" 日本語"));
        first->set("when", when);
        first->set("icon", bytes);
        first->set("apps", QStringList{"com.a", "", "b c"});
        first->set("none", QStringList{});
        first->set("gone", true);
        first->remove("gone");
    }
    testsupport::LogCapture log;
    auto second = openFile(path);
    EXPECT_TRUE(log.lines().empty());
    auto kept = [&](const char* key) { return *second->value(key); };
    EXPECT_EQ(kept("flag"), DefaultsValue(false));
    EXPECT_EQ(kept("count"), DefaultsValue(INT64_MIN));
    EXPECT_EQ(kept("ratio"), DefaultsValue(3.0));  // stays a double
    EXPECT_EQ(kept("infinite"), DefaultsValue(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(kept("name"), DefaultsValue(QString("Ünïcødé \"quoted\" 日本語")));
    EXPECT_EQ(kept("when"), DefaultsValue(when));
    EXPECT_EQ(kept("icon"), DefaultsValue(bytes));
    EXPECT_EQ(kept("apps"), DefaultsValue(QStringList{"com.a", "", "b c"}));
    EXPECT_EQ(kept("none"), DefaultsValue(QStringList{}));
    EXPECT_FALSE(second->contains("gone"));
}

TEST(Defaults, ACorruptFileIsMovedAsideLoggedOnceAndNeverOverwritten) {
    testsupport::ScopedTempHome home;
    testsupport::ScopedVirtualScheduler clock;  // a fixed wall clock gives a known timestamp
    const QString path = home.configPath() + "/Quillvex/com.varnock.Quillvex.json";
    const QString stem = path + ".corrupt-" +
                         QDateTime::fromSecsSinceEpoch(1'800'000'000).toString("yyyyMMdd-HHmmss");
    for (const QByteArray& content : {QByteArray("{"), QByteArray("[1, 2]")}) {
        SCOPED_TRACE(content.toStdString());
        ASSERT_TRUE(testsupport::writeFile(path, content));
        testsupport::LogCapture log;
        auto defaults = openFile(path);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].level, platform::LogLevel::Error);
        EXPECT_TRUE(log.lines()[0].text.startsWith("Defaults: Could not read " + path)) << log.lines()[0].text.toStdString();
        EXPECT_FALSE(defaults->contains("flag"));
        EXPECT_FALSE(QFile::exists(path));  // nothing written until the next write
        defaults->set("flag", true);
        EXPECT_TRUE(openFile(path)->boolValue("flag").value_or(false));
    }
    // Both copies are kept: the second got a unique name.
    EXPECT_EQ(readFile(stem), "{");
    EXPECT_EQ(readFile(stem + "-1"), "[1, 2]");
}

TEST(Defaults, IllTypedEntriesAreSkippedAndTheRestKept) {
    testsupport::ScopedTempHome home;
    const QString path = home.configPath() + "/Quillvex/test.json";
    ASSERT_TRUE(testsupport::writeFile(path, R"({"a": null, "b": 5, "c": {"$date": "soon"}, "d": [1], "e": 18446744073709551615,
                        "f": {"$data": "@@"}, "g": {"x": 1}, "h": 2.0, "i": {"$date": "2024-05-06T07:08:09.010Z"}})"));
    testsupport::LogCapture log;
    auto defaults = openFile(path);
    EXPECT_EQ(log.matching("Defaults: Skipped ").size(), 6);
    EXPECT_TRUE(log.contains("Defaults: Skipped \"a\" in " + path + ": unsupported value"));
    EXPECT_EQ(defaults->value("b"), DefaultsValue(int64_t(5)));
    EXPECT_EQ(defaults->value("h"), DefaultsValue(2.0));
    EXPECT_EQ(defaults->dateValue("i"), QDateTime::fromString("2024-05-06T07:08:09.010Z", Qt::ISODateWithMs));
    EXPECT_FALSE(defaults->contains("a") || defaults->contains("c") || defaults->contains("e"));
}

// A write the file refuses is not taken: the key keeps its stored value, a control bound to it
// hears of the write and reads that value back, and why stays known until a write is stored.
TEST(Defaults, AFailedSaveKeepsTheStoredValueAndSaysWhy) {
    using Kind = platform::DefaultsSaveFailure::Kind;
    testsupport::ScopedTempHome home;
    testsupport::LogCapture log;
    QStringList seen;

    // A folder that cannot be made: its parent is a regular file.
    ASSERT_TRUE(testsupport::writeFile(home.path() + "/blocker", "not a folder"));
    const QString blocked = home.path() + "/blocker/Quillvex/x.json";
    auto defaults = openFile(blocked);
    auto sub = defaults->didChange().subscribe([&](const QString& key) { seen << key; });
    defaults->set("k", int64_t(1));
    EXPECT_FALSE(defaults->contains("k"));
    EXPECT_EQ(seen, QStringList{"k"});
    EXPECT_EQ(defaults->lastSaveFailure(),
              (platform::DefaultsSaveFailure{"k", blocked, Kind::NotWritable, "cannot create its folder"}));
    EXPECT_TRUE(log.contains("Defaults: Could not save " + blocked + ": cannot create its folder"));

    // A folder that refuses new files: the stored value stays, in the file and in memory.
    const QString path = home.configPath() + "/Quillvex/x.json";
    ASSERT_TRUE(testsupport::writeFile(path, R"({"flag": true})"));
    auto stored = openFile(path);
    {
        ImmutableFolder frozen(home.configPath() + "/Quillvex");
        if (frozen.applied) {
            stored->set("flag", false);
            EXPECT_EQ(stored->boolValue("flag"), true);
            ASSERT_TRUE(stored->lastSaveFailure());
            EXPECT_EQ(stored->lastSaveFailure()->kind, Kind::NotWritable);
            stored->remove("flag");
            EXPECT_EQ(stored->boolValue("flag"), true);
        }
    }

    // A file that cannot be read to merge into is never replaced.
    writeInPlace(path, R"({"flag": fal)");
    stored->set("other", true);
    EXPECT_FALSE(stored->contains("other"));
    ASSERT_TRUE(stored->lastSaveFailure());
    EXPECT_EQ(stored->lastSaveFailure()->kind, Kind::UnreadableFile);
    EXPECT_EQ(readFile(path), R"({"flag": fal)");

    // Once a write is stored again, nothing is wrong any more.
    writeInPlace(path, R"({"flag": true})");
    stored->set("other", true);
    EXPECT_EQ(stored->boolValue("other"), true);
    EXPECT_EQ(stored->lastSaveFailure(), std::nullopt);
}

// Someone else's edit of the file since it was read stays: a write changes only its own key,
// and entries this store cannot read are kept as they are.
TEST(Defaults, AWriteChangesOnlyItsOwnKeyInTheFileAsItIsNow) {
    testsupport::ScopedTempHome home;
    const QString path = home.configPath() + "/Quillvex/x.json";
    ASSERT_TRUE(testsupport::writeFile(path, R"({"mine": 1, "theirs": "old", "dropped": true})"));
    auto defaults = openFile(path);
    replaceFile(path, R"({"mine": 1, "theirs": "edited", "added": ["x"], "odd": null, "dropped": true})");

    defaults->set("mine", int64_t(2));
    defaults->remove("dropped");

    testsupport::LogCapture log;
    auto reread = openFile(path);
    EXPECT_EQ(reread->integerValue("mine"), 2);
    EXPECT_EQ(reread->stringValue("theirs"), "edited");
    EXPECT_EQ(reread->stringListValue("added"), QStringList{"x"});
    EXPECT_FALSE(reread->contains("dropped"));
    EXPECT_TRUE(readFile(path).contains("\"odd\": null"));
}

// An edit of the file while the application runs arrives through the file system's events as a
// change of each key it changed; an edit caught halfway is logged and left alone, never moved
// aside, and the finished edit then applies.
TEST(Defaults, EditsOfTheFileApplyAsChangesAndAHalfWrittenFileIsLeftAlone) {
    testsupport::ScopedTempHome home;
    testsupport::LogCapture log;
    const QString folder = home.configPath() + "/Quillvex";
    const QString path = folder + "/com.varnock.Quillvex.json";
    ASSERT_TRUE(testsupport::writeFile(path, R"({"flag": true, "kept": 1, "nan": {"$double": "nan"}})"));
    Defaults defaults(std::make_unique<JsonDefaultsStorage>(path));
    defaults.followStorageChanges();
    QStringList seen;
    auto sub = defaults.didChange().subscribe([&](const QString& key) { seen << key; });

    replaceFile(path, R"({"flag": false, "kept": 1, "nan": {"$double": "nan"}, "added": "x"})");
    ASSERT_TRUE(runUntil([&] { return seen.contains("flag") && seen.contains("added"); })) << seen.join(',').toStdString();
    EXPECT_EQ(defaults.boolValue("flag"), false);
    EXPECT_EQ(defaults.stringValue("added"), "x");
    EXPECT_FALSE(seen.contains("kept") || seen.contains("nan"));

    seen.clear();
    writeInPlace(path, R"({"flag": tr)");
    const QString halfRead = "Defaults: Could not read " + path + " (";
    ASSERT_TRUE(runUntil([&] { return !log.matching(halfRead).isEmpty(); }));
    EXPECT_TRUE(log.matching(halfRead).first().endsWith("; keeping the settings in use until it changes again"));
    EXPECT_EQ(defaults.boolValue("flag"), false);
    EXPECT_TRUE(seen.isEmpty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"com.varnock.Quillvex.json"});

    writeInPlace(path, R"({"flag": true, "kept": 1})");
    ASSERT_TRUE(runUntil([&] { return seen.contains("flag") && seen.contains("added"); })) << seen.join(',').toStdString();
    EXPECT_EQ(defaults.boolValue("flag"), true);
    EXPECT_FALSE(defaults.contains("added"));
    EXPECT_FALSE(defaults.contains("nan"));
}

TEST(Defaults, DomainsAreSeparateFilesUnderTheConfigFolder) {
    testsupport::ScopedTempHome home;
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(Defaults::domainFilePath("x"), home.path() + "/.config/Quillvex/x.json");
    EXPECT_EQ(Defaults::domainFilePath("../x"), home.path() + "/.config/Quillvex/.._x.json");
    qputenv("XDG_CONFIG_HOME", (home.path() + "/xdg").toUtf8());

    Defaults& one = Defaults::domain("test.domains.one");
    Defaults& two = Defaults::domain("test.domains.two");
    EXPECT_EQ(&one, &Defaults::domain("test.domains.one"));
    one.set("k", QString("one"));
    two.set("k", QString("two"));
    EXPECT_EQ(one.stringValue("k"), "one");
    EXPECT_EQ(openFile(home.path() + "/xdg/Quillvex/test.domains.two.json")->stringValue("k"), "two");

    testsupport::ScopedMemoryDefaults memory;
    EXPECT_EQ(&Defaults::standard(), &memory.defaults);
}

// A file that opens but then cannot be read (here one whose every read fails with an I/O error)
// is set aside with the read's own reason, never read as empty and then replaced by defaults.
TEST(Defaults, AFileWhoseReadFailsAfterOpeningIsSetAsideNotOverwritten) {
    testsupport::ScopedTempHome home;
    testsupport::ScopedVirtualScheduler clock;
    const QString path = home.configPath() + "/Quillvex/com.varnock.Quillvex.json";
    const QString aside =
        path + ".corrupt-" + QDateTime::fromSecsSinceEpoch(1'800'000'000).toString("yyyyMMdd-HHmmss");
    ASSERT_TRUE(QDir().mkpath(home.configPath() + "/Quillvex"));
    // A regular file by every measure, whose first read fails (nothing is mapped at address 0).
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), path));
    testsupport::LogCapture log;
    Defaults defaults(std::make_unique<JsonDefaultsStorage>(path));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text, "Defaults: Could not read " + path + " (Input/output error); moved it aside as " +
                                       QFileInfo(aside).fileName() + " and using the defaults");
    EXPECT_TRUE(QFileInfo(aside).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(path));
    defaults.set("flag", true);
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(QFileInfo(aside).symLinkTarget(), QStringLiteral("/proc/self/mem"));
}

// What the settings file may be: a regular file of a sane size. Anything else is moved aside
// like a corrupt file, without blocking or loading it whole.
TEST(Defaults, APipeOrAnOversizedFileIsMovedAsideWithALogLine) {
    testsupport::ScopedTempHome home;
    testsupport::ScopedVirtualScheduler clock;
    const QString path = home.configPath() + "/Quillvex/com.varnock.Quillvex.json";
    ASSERT_TRUE(QDir().mkpath(home.configPath() + "/Quillvex"));

    // Opening a pipe with no writer for reading would wait forever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    {
        testsupport::LogCapture log;
        Defaults defaults(std::make_unique<JsonDefaultsStorage>(path));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_TRUE(log.lines()[0].text.startsWith("Defaults: Could not read " + path + " (not a regular file); moved it aside as "))
            << log.lines()[0].text.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
        defaults.set("flag", true);
        EXPECT_TRUE(QFileInfo(path).isFile());
    }

    // Valid JSON, but far more than settings ever take: not loaded.
    QByteArray big = "{\"flag\": true, \"pad\": \"";
    big.append(QByteArray(JsonDefaultsStorage::maxFileBytes, 'x'));
    big.append("\"}");
    ASSERT_TRUE(testsupport::writeFile(path, big));
    {
        testsupport::LogCapture log;
        Defaults defaults(std::make_unique<JsonDefaultsStorage>(path));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_TRUE(log.lines()[0].text.startsWith("Defaults: Could not read " + path + " (larger than 4194304 bytes); "))
            << log.lines()[0].text.toStdString();
        EXPECT_FALSE(defaults.contains("flag"));
        EXPECT_FALSE(QFileInfo::exists(path));
    }

    // Right at the cap still loads.
    QByteArray atCap = "{\"flag\": true}";
    atCap.append(QByteArray(JsonDefaultsStorage::maxFileBytes - atCap.size(), ' '));
    ASSERT_TRUE(testsupport::writeFile(path, atCap));
    testsupport::LogCapture log;
    Defaults defaults(std::make_unique<JsonDefaultsStorage>(path));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(defaults.boolValue("flag").value_or(false));
}

}  // namespace
