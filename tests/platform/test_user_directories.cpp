#include "platform/files/user_directories.h"

#include <QDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

// Each test process has a HOME of its own; the account's entry still names its real home, which
// the permission checks compare against.
TEST(SystemUserDirectories, TheAccountsHomeComesFromThePasswordDatabaseNotFromHOME) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const QString accountHome = QString::fromLocal8Bit(entry->pw_dir);
    platform::SystemUserDirectories directories;
    EXPECT_EQ(directories.passwordDatabaseHome(), accountHome);
    EXPECT_EQ(directories.homeDirectory(), QDir::homePath());
    EXPECT_NE(directories.homeDirectory(), accountHome);
    // Linux has no per-user configuration directory to name.
    EXPECT_EQ(directories.perUserDirectory(), std::nullopt);
}
