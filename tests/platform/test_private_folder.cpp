#include "platform/files/private_folder.h"

#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::privateFolder;

namespace {
mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}
void makeFolder(const QString& path, mode_t mode, uid_t owner = ::geteuid()) {
    ASSERT_TRUE(QDir().mkpath(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), owner, owner == ::geteuid() ? ::getegid() : owner), 0);
}
}  // namespace

TEST(PrivateFolder, UsesThePrivateRuntimeFolderElseTheCacheAndRefusesFoldersOthersCanReach) {
    // Paths are relative to a fresh root: "run" is XDG_RUNTIME_DIR (mode given, 0 = unset),
    // "cache" XDG_CACHE_HOME when set, "home" HOME.
    struct Case {
        const char* what;
        mode_t runtimeMode;
        const char* runtimeValue;  // as exported, "%1" = the root
        bool cacheSet;
        const char* preexisting;  // made before the call: a folder of this mode, a file when 0, a link when 0777
        mode_t preexistingMode;
        bool foreign;
        const char* expected;  // empty = refused
        const char* problem;
    };
    const Case cases[] = {
        {"private runtime", 0700, "%1/run", true, nullptr, 0, false, "/run/Q", nullptr},
        {"runtime open to others", 0755, "%1/run", true, nullptr, 0, false, "/cache/Q", nullptr},
        {"relative runtime", 0700, "run", true, nullptr, 0, false, "/cache/Q", nullptr},
        {"no runtime, no cache variable", 0, nullptr, false, nullptr, 0, false, "/home/.cache/Q", nullptr},
        {"existing, open to others", 0700, "%1/run", true, "/run/Q", 0755, false, "", "is open to other users"},
        {"existing, not a folder", 0, nullptr, true, "/cache/Q", 0, false, "", "is not a folder"},
        {"existing, a link", 0, nullptr, true, "/cache/Q", 0777, false, "", "is a link"},
        {"existing, another user's", 0, nullptr, true, "/cache/Q", 0700, true, "", "belongs to another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.foreign && ::geteuid() != 0) continue;
        QTemporaryDir root;
        const QString r = root.path();
        testsupport::ScopedEnvironment env;
        env.set("HOME", QFile::encodeName(r + "/home"));
        if (c.runtimeMode) makeFolder(r + "/run", c.runtimeMode);
        if (c.runtimeValue)
            env.set("XDG_RUNTIME_DIR", QFile::encodeName(QString::fromUtf8(c.runtimeValue).arg(r)));
        else
            env.unset("XDG_RUNTIME_DIR");
        if (c.cacheSet)
            env.set("XDG_CACHE_HOME", QFile::encodeName(r + "/cache"));
        else
            env.unset("XDG_CACHE_HOME");
        if (c.preexistingMode == 0777) {
            ASSERT_TRUE(QDir().mkpath(r + "/cache/elsewhere"));
            ASSERT_TRUE(QFile::link(r + "/cache/elsewhere", r + c.preexisting));
        } else if (c.preexisting && c.preexistingMode) {
            makeFolder(r + c.preexisting, c.preexistingMode, c.foreign ? 65534 : ::geteuid());
        } else if (c.preexisting) {
            ASSERT_TRUE(testsupport::writeFile(r + c.preexisting));
        }

        QString problem;
        const QString folder = privateFolder("Q", &problem);
        if (*c.expected) {
            EXPECT_EQ(folder, r + c.expected);
            EXPECT_EQ(modeOf(folder), 0700u);
        } else {
            EXPECT_TRUE(folder.isEmpty()) << folder.toStdString();
            EXPECT_TRUE(problem.endsWith(c.problem)) << problem.toStdString();
            if (c.preexistingMode && c.preexistingMode != 0777) {
                EXPECT_EQ(modeOf(r + c.preexisting), c.preexistingMode);  // left as found
            }
        }
    }
}
