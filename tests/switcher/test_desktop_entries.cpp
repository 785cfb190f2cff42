#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/desktop_entries_elsewhere.h"

#include "core/app_icon_helper.h"
#include "platform/files/mount_table.h"
#include "platform/process/posix_process_launcher.h"
#include "platform/workspace/linux_workspace.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// While set, folders are listed as a file system that tells no entry's type lists them.
std::atomic<bool> entryTypesUntold{false};

}  // namespace

// This executable's own getdents64, which the code under test calls in place of the C library's:
// the kernel's listing, its entries' types dropped while entryTypesUntold is set.
extern "C" ssize_t getdents64(int fd, void* buffer, size_t length) noexcept {
    const auto n = static_cast<ssize_t>(::syscall(SYS_getdents64, fd, buffer, length));
    for (ssize_t at = 0; entryTypesUntold && at < n;) {
        auto* entry = reinterpret_cast<dirent64*>(static_cast<char*>(buffer) + at);
        entry->d_type = DT_UNKNOWN;
        at += entry->d_reclen;
    }
    return n;
}

namespace {

using namespace std::chrono_literals;

void write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(DesktopEntries, MatchesByHintThenInstanceThenStartupClassThenIdAndSkipsHiddenOnes) {
    QTemporaryDir home, system;
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", system.path().toUtf8());
    write(home.path() + "/applications/org.example.Notes.desktop",
          "[Desktop Entry]\nType=Application\nName=My Notes\nIcon=notes\n");
    write(system.path() + "/applications/org.example.Notes.desktop",
          "[Desktop Entry]\nType=Application\nName=Notes (system)\n");
    write(system.path() + "/applications/vendor/term.desktop",
          "[Desktop Entry]\nType=Application\nName=Terminal\nStartupWMClass=XTerm\n"
          "[Desktop Action new]\nName=New Window\n");
    write(system.path() + "/applications/org.gnome.Files.desktop", "[Desktop Entry]\nType=Application\nName=Files\n");
    write(system.path() + "/applications/ghost.desktop", "[Desktop Entry]\nType=Application\nName=Ghost\nHidden=true\n");
    write(system.path() + "/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\n");

    platform::DesktopEntries entries;
    auto notes = entries.match(QStringLiteral("org.example.Notes"), QString(), QString());
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->name, QStringLiteral("My Notes")) << "the user's entry hides the system one";
    EXPECT_EQ(notes->icon, QStringLiteral("notes"));
    auto term = entries.match(QString(), QStringLiteral("XTerm"), QStringLiteral("xterm"));
    ASSERT_TRUE(term);
    EXPECT_EQ(term->id, QStringLiteral("vendor-term"));
    EXPECT_EQ(term->name, QStringLiteral("Terminal")) << "an action's name is not the entry's";
    // xterm's own entry beside a copy that claims its class: the window is the one named after
    // its instance, and the copy still describes it.
    write(home.path() + "/applications/xterm.desktop", "[Desktop Entry]\nType=Application\nName=My XTerm\n");
    platform::DesktopEntries withOwnEntry;  // read afresh, whatever the folders' stamps say
    term = withOwnEntry.match(QString(), QStringLiteral("XTerm"), QStringLiteral("xterm"));
    ASSERT_TRUE(term);
    EXPECT_EQ(term->id, QStringLiteral("xterm"));
    auto copy = withOwnEntry.match(QStringLiteral("vendor-term"), QString(), QString());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(platform::DesktopEntries::describes(*copy, QStringLiteral("XTerm"), QStringLiteral("xterm")));
    EXPECT_FALSE(platform::DesktopEntries::describes(*copy, QStringLiteral("UXTerm"), QStringLiteral("uxterm")));
    // A StartupWMClass naming the instance comes before one naming the class.
    write(system.path() + "/applications/a-term.desktop",
          "[Desktop Entry]\nType=Application\nName=Term A\nStartupWMClass=XTerm\n");
    write(system.path() + "/applications/z-term.desktop",
          "[Desktop Entry]\nType=Application\nName=Term Z\nStartupWMClass=term\n");
    const auto zTerm = platform::DesktopEntries().match(QString(), QStringLiteral("XTerm"), QStringLiteral("term"));
    ASSERT_TRUE(zTerm);
    EXPECT_EQ(zTerm->id, QStringLiteral("z-term"));
    // So its window is known as that application's when it is opened again.
    EXPECT_TRUE(platform::DesktopEntries::describes(*zTerm, QStringLiteral("XTerm"), QStringLiteral("term")));
    auto files = entries.match(QString(), QStringLiteral("Files"), QStringLiteral("files"));
    ASSERT_TRUE(files);
    EXPECT_EQ(files->id, QStringLiteral("org.gnome.Files"));
    EXPECT_FALSE(entries.match(QString(), QStringLiteral("Ghost"), QString()));
    EXPECT_FALSE(entries.match(QString(), QStringLiteral("link"), QString()));

    // A new entry is seen without a restart.
    write(home.path() + "/applications/ghost.desktop", "[Desktop Entry]\nType=Application\nName=Ghost\n");
    EXPECT_TRUE(entries.match(QString(), QStringLiteral("Ghost"), QString()));
    // Even when its folder keeps the stamp it had, as a change within one tick of a coarse clock does.
    const QString folder = home.path() + "/applications";
    const QDateTime stamp = QFileInfo(folder).lastModified();
    write(folder + "/late.desktop", "[Desktop Entry]\nType=Application\nName=Late\n");
    const timespec times[2] = {{0, UTIME_OMIT}, {stamp.toSecsSinceEpoch(), stamp.time().msec() * 1000000L}};
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0), 0);
    ASSERT_EQ(QFileInfo(folder).lastModified(), stamp);
    EXPECT_TRUE(entries.match(QString(), QStringLiteral("Late"), QString()));
}

// An entry is read up to a size no entry comes near: one of exactly that size is read, a file one
// byte larger is no entry.
TEST(DesktopEntries, AnEntryOfTheSizeLimitIsReadAndALargerFileIsNot) {
    QTemporaryDir home, system;
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", system.path().toUtf8());
    const auto entry = [](qsizetype size) {
        QByteArray text = "[Desktop Entry]\nType=Application\nName=Padded\n#";
        return text + QByteArray(size - text.size() - 1, 'x') + '\n';
    };
    constexpr qsizetype kLimit = 256 * 1024;
    write(home.path() + "/applications/at-limit.desktop", entry(kLimit));
    write(home.path() + "/applications/over-limit.desktop", entry(kLimit + 1));
    platform::DesktopEntries entries;
    EXPECT_TRUE(entries.resolve(QStringLiteral("at-limit")));
    EXPECT_FALSE(entries.resolve(QStringLiteral("over-limit")));
}

// Where the file system tells no entry's type, each entry is looked at for it: entries and the
// subfolders holding them are found all the same.
TEST(DesktopEntries, EntriesAndSubfoldersAreFoundWhereTheFileSystemTellsNoTypes) {
    QTemporaryDir home, system;
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", system.path().toUtf8());
    write(home.path() + "/applications/plain.desktop", "[Desktop Entry]\nType=Application\nName=Plain\n");
    write(home.path() + "/applications/vendor/nested.desktop", "[Desktop Entry]\nType=Application\nName=Nested\n");
    entryTypesUntold = true;
    platform::DesktopEntries entries;
    const bool plain = entries.resolve(QStringLiteral("plain")).has_value();
    const bool nested = entries.resolve(QStringLiteral("vendor-nested")).has_value();
    entryTypesUntold = false;
    EXPECT_TRUE(plain);
    EXPECT_TRUE(nested);
}

// On Linux an application is its desktop entry: what a notification or a player names resolves to
// it, its icon comes from the data folders' hicolor icons, and opening it runs its own command.
// Applications folders on another file system, or reached through a link leading onto one, hold
// up no caller: a child reads them off the caller's thread, an entry there that answers joins the
// others once read, and one that never answers is left out.
TEST(DesktopEntries, FoldersOnAnotherFileSystemAreReadByAChildAndOneThatNeverAnswersHoldsUpNoCaller) {
    // Made first: the mounts go before the folders linking to them.
    QTemporaryDir home, hung, system;
    std::unique_ptr<testsupport::StuckFuseMount> mount, answering;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    // Another, as its server serves one look into a folder at a time: the hung one would hold up
    // the answering one beside it.
    QUILLVEX_MOUNT_STUCK_FUSE(answering);
    ASSERT_TRUE(QFile::link(mount->hungFolder(), hung.filePath(QStringLiteral("applications"))));
    write(answering->backingFolder() + "/applications/org.example.Remote.desktop",
          "[Desktop Entry]\nType=Application\nName=Remote\n");
    write(answering->backingFolder() + "/Linked.desktop", "[Desktop Entry]\nType=Application\nName=Linked\n");
    QDir().mkpath(home.filePath(QStringLiteral("applications")));
    ASSERT_TRUE(QFile::link(answering->answeringFolder() + "/Linked.desktop",
                            home.filePath(QStringLiteral("applications/linked.desktop"))));
    write(system.path() + "/applications/org.example.Local.desktop", "[Desktop Entry]\nType=Application\nName=Local\n");
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", (hung.path() + u':' + answering->answeringFolder() + u':' + system.path()).toUtf8());

    auto local = std::async(std::launch::async, [] {
        return platform::DesktopEntries().resolve(QStringLiteral("org.example.Local")).has_value();
    });
    const bool answered = local.wait_for(10s) == std::future_status::ready;
    if (!answered) mount->stop();  // lets the caller go
    ASSERT_TRUE(answered) << "a caller waited for the hung folder";
    EXPECT_TRUE(local.get());
    ASSERT_TRUE(platform::EntriesElsewhere::shared().waitUntilIdle(20s));
    EXPECT_TRUE(mount->waitForStat()) << "the hung folder was not looked into";
    platform::DesktopEntries entries;
    for (const char* id : {"org.example.Remote", "linked"}) {
        const auto entry = entries.resolve(QString::fromLatin1(id));
        ASSERT_TRUE(entry) << id;
        EXPECT_EQ(platform::DesktopEntries::parse(entry->path, QString())->name, entry->name) << id;
    }
}

// A file system mounted inside an applications folder here is not even looked at: one whose server
// stopped holds up no caller.
TEST(DesktopEntries, AMountInsideAnApplicationsFolderWhoseServerStoppedHoldsUpNoCaller) {
    QTemporaryDir home, system;
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount, home.filePath(QStringLiteral("applications/mounted")));
    write(home.path() + "/applications/org.example.Local.desktop", "[Desktop Entry]\nType=Application\nName=Local\n");
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", system.path().toUtf8());
    // Every ask of the mount, even opening its root, now waits.
    ASSERT_EQ(::kill(static_cast<pid_t>(mount->serverPid()), SIGSTOP), 0);

    auto local = std::async(std::launch::async, [] {
        return platform::DesktopEntries().resolve(QStringLiteral("org.example.Local")).has_value();
    });
    const bool answered = local.wait_for(10s) == std::future_status::ready;
    mount->stop();  // lets a waiting caller go
    ASSERT_TRUE(answered) << "a caller waited for the mount";
    EXPECT_TRUE(local.get());
}

// Entries read by a child on a mount are read anew once another file system is mounted there.
TEST(DesktopEntries, EntriesOnAMountAreReadAnewOnceAnotherIsMountedThere) {
    QTemporaryDir home, folder;
    const QString point = folder.filePath(QStringLiteral("share"));
    std::unique_ptr<testsupport::StuckFuseMount> first, second;
    QUILLVEX_MOUNT_STUCK_FUSE(first, point);
    write(first->backingFolder() + "/applications/org.example.Before.desktop", "[Desktop Entry]\nType=Application\nName=B\n");
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", QFile::encodeName(first->answeringFolder()));
    platform::DesktopEntries entries;
    // The first ask begins the child's read.
    const auto resolved = [&entries](const char* id) {
        entries.resolve(QString::fromLatin1(id));
        EXPECT_TRUE(platform::EntriesElsewhere::shared().waitUntilIdle(20s));
        return entries.resolve(QString::fromLatin1(id)).has_value();
    };
    ASSERT_TRUE(resolved("org.example.Before"));

    const quint64 seen = platform::MountTable::changes();
    ASSERT_EQ(testsupport::runTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), point}), 0);
    QUILLVEX_MOUNT_STUCK_FUSE(second, point);
    write(second->backingFolder() + "/applications/org.example.After.desktop", "[Desktop Entry]\nType=Application\nName=A\n");
    ASSERT_TRUE(platform::MountTable::waitForChange(seen, 20s));
    EXPECT_TRUE(resolved("org.example.After"));
    EXPECT_FALSE(entries.resolve(QStringLiteral("org.example.Before")));
}

TEST(DesktopEntries, ApplicationsResolveToTheirEntryIconAndLaunch) {
    QTemporaryDir home, system, out;
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", system.path().toUtf8());
    const QString player = system.path() + "/applications/org.example.Player.desktop";
    const QString marker = out.path() + "/launched";
    write(player, "[Desktop Entry]\nType=Application\nName=Tune Player\nIcon=tuneplayer\nStartupWMClass=TuneWin\n"
                  "Exec=/bin/sh -c \"echo \\\"$0\\\" >> '" + marker.toUtf8() + "'\" %c %U\n");
    write(system.path() + "/applications/other.desktop",
          "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/otherprog --x=%f\n");
    QImage red(48, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QDir().mkpath(system.path() + "/icons/hicolor/48x48/apps");
    ASSERT_TRUE(red.save(system.path() + "/icons/hicolor/48x48/apps/tuneplayer.png"));

    platform::LinuxWorkspace workspace;
    const QString other = system.path() + "/applications/other.desktop";
    const std::pair<const char*, QString> cases[] = {
        {"org.example.Player", player},  {"org.example.Player.desktop", player}, {"tunewin", player},
        {"TUNE PLAYER", player},         {"OTHERPROG", other},                    {"other", other},
    };
    for (const auto& [identifier, path] : cases)
        EXPECT_EQ(workspace.urlForApplicationWithBundleIdentifier(identifier), path) << identifier;
    EXPECT_FALSE(workspace.urlForApplicationWithBundleIdentifier("Tune"));
    EXPECT_FALSE(workspace.launchApplicationNamed("rm -rf ~"));

    EXPECT_EQ(workspace.iconForFile(player).pixmap(48, 48).toImage().pixelColor(24, 24), QColor(Qt::red));
    platform::Workspace* previous = platform::Workspace::setShared(&workspace);
    const auto icon = AppIconHelper::getIcon(QStringLiteral("Tune Player"), QStringLiteral("org.example.Player"));
    platform::Workspace::setShared(previous);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->pixelColor(icon->width() / 2, icon->height() / 2), QColor(Qt::red));

    auto entry = platform::DesktopEntries::parse(other, "other");
    ASSERT_TRUE(entry);
    EXPECT_EQ(platform::DesktopEntries::commandLine(*entry), QStringList({"/usr/bin/otherprog", "--x="}));
    entry->exec = R"(prog "a \\\\ \"b\"" 100%% x\sy)";  // the value's escapes, then the quoting
    EXPECT_EQ(platform::DesktopEntries::commandLine(*entry), QStringList({"prog", R"(a \ "b")", "100%", "x", "y"}));
    entry->exec = "prog \"unclosed";
    EXPECT_TRUE(platform::DesktopEntries::commandLine(*entry).isEmpty());

    // Opened by identifier, by name and by its file: each start runs the entry's own command.
    EXPECT_TRUE(workspace.launchApplicationWithBundleIdentifier("org.example.Player"));
    EXPECT_TRUE(workspace.launchApplicationNamed("Tune Player"));
    EXPECT_TRUE(workspace.openApplicationAtPath(player));
    EXPECT_FALSE(workspace.openApplicationAtPath("/bin/sh"));
    QByteArray lines;
    for (QDeadlineTimer deadline(5000); lines.count('\n') < 3 && !deadline.hasExpired(); QThread::msleep(20)) {
        QFile file(marker);
        if (file.open(QIODevice::ReadOnly)) lines = file.readAll();
    }
    EXPECT_EQ(lines, "Tune Player\nTune Player\nTune Player\n");
}

// The deprecated field codes stand for nothing: the launched program never gets an empty
// argument for one.
TEST(DesktopEntries, DeprecatedFieldCodesAreRemovedFromTheLaunchedCommand) {
    QTemporaryDir folder;
    const QString marker = folder.filePath(QStringLiteral("arguments"));
    const QString program = folder.filePath(QStringLiteral("prog"));
    write(program, "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"$0.out\"; mv \"$0.out\" " +
                       QFile::encodeName(marker) + "\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::DesktopEntry entry;
    entry.name = QStringLiteral("Prog");
    entry.exec = program + QStringLiteral(" a %d %D b %n %N %v %m %f c%N");
    EXPECT_EQ(platform::DesktopEntries::commandLine(entry), QStringList({program, "a", "b", "c"}));
    platform::PosixProcessLauncher launcher;
    ASSERT_TRUE(platform::DesktopEntries::launch(entry, launcher));
    QByteArray lines;
    for (QDeadlineTimer deadline(5000); lines.isEmpty() && !deadline.hasExpired(); QThread::msleep(20)) {
        QFile file(marker);
        if (file.open(QIODevice::ReadOnly)) lines = file.readAll();
    }
    EXPECT_EQ(lines, "[a]\n[b]\n[c]\n");
}

}  // namespace
