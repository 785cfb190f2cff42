// What the settings file may be: a regular file of a sane size. Anything else is moved aside
// like a corrupt file, without blocking or loading it whole.

#include "platform/storage/defaults.h"
#include "platform/storage/json_defaults_storage.h"
#include "support/fixtures.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using platform::Defaults;
using platform::JsonDefaultsStorage;

TEST(DefaultsFileLimits, APipeOrAnOversizedFileIsMovedAsideWithALogLine) {
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
