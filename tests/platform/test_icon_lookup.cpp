// Icons looked up in a private icon theme: the file nearest the size drawn, whole names before
// shortened ones, one-colour icons in the island's text colour, each index read once, and lookups
// that never hold up their caller, even on a file system that never answers.

#include "detection/icon_fixtures.h"
#include "platform/files/child_file_read.h"
#include "platform/files/local_reach.h"
#include "platform/files/mount_table.h"
#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/icon_files.h"
#include "platform/workspace/icon_folder_contents.h"
#include "platform/workspace/icon_folder_watch.h"
#include "platform/workspace/icon_lookup.h"
#include "platform/workspace/icon_theme_index.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstddef>
#include <future>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using platform::IconLookup;

QByteArray png(const QColor& colour, int side) { return icontest::encoded(icontest::solid(side, side, colour)); }

// A 64-unit square drawing in one colour.
QByteArray svg(const char* fill) {
    return QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'><rect width='64' height='64' "
                      "fill='") +
           fill + "'/></svg>";
}

// Data folders of their own holding the theme "Sized" (inheriting hicolor) and pixmaps.
class IconThemeLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.set("XDG_DATA_HOME", QFile::encodeName(data_.filePath(QStringLiteral("home"))));
        env_.set("XDG_DATA_DIRS", QFile::encodeName(data_.path()));
        savedPaths_ = QIcon::themeSearchPaths();
        savedTheme_ = QIcon::themeName();
        QIcon::setThemeSearchPaths({icons()});
        QIcon::setThemeName(QStringLiteral("Sized"));
        index(QStringLiteral("Sized"),
              "[Icon Theme]\nName=Sized\nInherits=hicolor\nDirectories=64x64/apps,128x128/apps,256x256/apps,"
              "scalable/apps,symbolic/apps\n\n[64x64/apps]\nSize=64\nType=Fixed\n\n[128x128/apps]\nSize=128\n"
              "Type=Fixed\n\n[256x256/apps]\nSize=256\nType=Fixed\n\n[scalable/apps]\nSize=64\nMinSize=16\n"
              "MaxSize=512\nType=Scalable\n\n[symbolic/apps]\nSize=16\nMinSize=16\nMaxSize=512\nType=Scalable\n");
        index(QStringLiteral("hicolor"),
              "[Icon Theme]\nName=hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
    }
    void TearDown() override {
        QIcon::setThemeSearchPaths(savedPaths_);
        QIcon::setThemeName(savedTheme_);
    }

    QString icons() const { return data_.filePath(QStringLiteral("icons")); }
    void index(const QString& theme, const QByteArray& text) {
        ASSERT_TRUE(testsupport::writeFile(icons() + u'/' + theme + QStringLiteral("/index.theme"), text));
    }
    void put(const QString& relative, const QByteArray& bytes) {
        ASSERT_TRUE(testsupport::writeFile(data_.filePath(relative), bytes));
    }
    static QColor centre(const QImage& image) { return image.pixelColor(image.width() / 2, image.height() / 2); }

    QTemporaryDir data_;
    testsupport::ScopedEnvironment env_;
    QStringList savedPaths_;
    QString savedTheme_;
};

TEST_F(IconThemeLookupTest, TheFileNearestTheSizeDrawnIsTakenAndADrawingIsDrawnAtThatSize) {
    put(QStringLiteral("icons/Sized/64x64/apps/app-a.png"), png(Qt::red, 64));
    put(QStringLiteral("icons/Sized/128x128/apps/app-a.png"), png(Qt::green, 128));
    put(QStringLiteral("icons/Sized/256x256/apps/app-a.png"), png(Qt::blue, 256));
    const QIcon a = platform::DesktopEntries::icon(QStringLiteral("app-a"));
    EXPECT_EQ(centre(a.pixmap(128).toImage()), QColor(Qt::green));
    EXPECT_EQ(a.availableSizes(), QList<QSize>{QSize(128, 128)});

    // A drawing whose folder holds any size from 16 to 512 is drawn at the size asked, not 512.
    put(QStringLiteral("icons/Sized/scalable/apps/app-b.svg"), svg("#ff0000"));
    put(QStringLiteral("icons/Sized/256x256/apps/app-b.png"), png(Qt::blue, 256));
    const QImage b = platform::readIconFile(platform::themedIconFile(QStringLiteral("app-b"))->path);
    EXPECT_EQ(b.size(), QSize(128, 128));
    EXPECT_EQ(centre(b), QColor(Qt::red));

    // Without an exact folder, the nearest: 64 is nearer 128 than 256 is.
    put(QStringLiteral("icons/Sized/64x64/apps/app-c.png"), png(Qt::red, 64));
    put(QStringLiteral("icons/Sized/256x256/apps/app-c.png"), png(Qt::blue, 256));
    EXPECT_TRUE(platform::themedIconFile(QStringLiteral("app-c"))->path.contains(QStringLiteral("/64x64/")));
}

TEST_F(IconThemeLookupTest, AWholeNameInThePixmapsComesBeforeAShortenedThemedOneAndSymbolicIconsAreDrawnWhite) {
    put(QStringLiteral("icons/hicolor/48x48/apps/xterm.png"), png(Qt::black, 48));
    put(QStringLiteral("pixmaps/xterm-color_48x48.png"), png(Qt::yellow, 48));
    EXPECT_EQ(platform::themedIconFile(QStringLiteral("xterm-color_48x48"))->path,
              data_.filePath(QStringLiteral("pixmaps/xterm-color_48x48.png")));
    // Shortened only where no whole name is found anywhere.
    EXPECT_EQ(platform::themedIconFile(QStringLiteral("xterm-mono"))->path,
              icons() + QStringLiteral("/hicolor/48x48/apps/xterm.png"));

    // A one-colour icon comes in the island's text colour, keeping its shape; a coloured one as it is.
    put(QStringLiteral("icons/Sized/symbolic/apps/mail-unread-symbolic.svg"),
        "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'><circle cx='8' cy='8' r='6' fill='#2e3436'/></svg>");
    const QImage symbolic = platform::DesktopEntries::icon(QStringLiteral("mail-unread-symbolic")).pixmap(128).toImage();
    EXPECT_EQ(centre(symbolic), QColor(Qt::white));
    EXPECT_EQ(symbolic.pixelColor(1, 1).alpha(), 0);
    put(QStringLiteral("icons/Sized/128x128/apps/mail-read.png"), png(Qt::darkGray, 128));
    const QIcon coloured = platform::DesktopEntries::icon(QStringLiteral("mail-read-symbolic"));
    EXPECT_EQ(centre(coloured.pixmap(128).toImage()), QColor(Qt::darkGray));
}

TEST_F(IconThemeLookupTest, EachIndexIsReadOnceAndAgainOnlyWhenItChangesAndANewIconIsFound) {
    put(QStringLiteral("icons/Sized/128x128/apps/app-a.png"), png(Qt::green, 128));
    const int before = platform::themeIndexReads();
    for (const char* name : {"app-a", "app-x", "app-y", "app-a"}) platform::themedIconFile(QString::fromLatin1(name));
    EXPECT_EQ(platform::themeIndexReads() - before, 2) << "Sized and hicolor, once each";
    index(QStringLiteral("hicolor"), "[Icon Theme]\nName=hicolor\nDirectories=\n");
    platform::themedIconFile(QStringLiteral("app-a"));
    platform::themedIconFile(QStringLiteral("app-x"));
    EXPECT_EQ(platform::themeIndexReads() - before, 3);

    // A lookup remembered as missing is looked up again once an icon came into a theme's folder.
    EXPECT_TRUE(platform::DesktopEntries::icon(QStringLiteral("app-later")).isNull());
    put(QStringLiteral("icons/Sized/128x128/apps/app-later.png"), png(Qt::blue, 128));
    EXPECT_EQ(centre(platform::DesktopEntries::icon(QStringLiteral("app-later")).pixmap(128).toImage()),
              QColor(Qt::blue));
}

// hicolor icons an application installed under a data folder without hicolor's index are found at
// each usual size, and one installed there later is found once it is there.
TEST_F(IconThemeLookupTest, AnUnindexedHicolorIsLookedThroughAndWatchedAtEveryUsualSize) {
    const int sizes[] = {16, 22, 24, 32, 48, 64, 96, 128, 192, 256, 512};
    const auto folder = [](int size) { return QStringLiteral("home/icons/hicolor/%1x%1/apps/").arg(size); };
    for (int size : sizes) put(folder(size) + QStringLiteral("at-%1.png").arg(size), png(Qt::red, 16));
    for (int size : sizes) {
        const auto found = platform::themedIconFile(QStringLiteral("at-%1").arg(size));
        ASSERT_TRUE(found) << size;
        EXPECT_TRUE(found->path.endsWith(folder(size) + QStringLiteral("at-%1.png").arg(size))) << size;
    }
    for (int size : sizes) {
        const QString name = QStringLiteral("late-%1").arg(size);
        EXPECT_TRUE(platform::DesktopEntries::icon(name).isNull()) << size;
        put(folder(size) + name + QStringLiteral(".png"), png(Qt::red, 16));
        EXPECT_FALSE(platform::DesktopEntries::icon(name).isNull()) << size;
    }
}

// hicolor's drawings there are found, and one installed later is seen.
TEST_F(IconThemeLookupTest, ADrawingInstalledLaterInAnUnindexedHicolorIsFound) {
    put(QStringLiteral("home/icons/hicolor/scalable/apps/other.svg"), svg("#00ff00"));
    EXPECT_TRUE(platform::DesktopEntries::icon(QStringLiteral("late-drawing")).isNull());
    put(QStringLiteral("home/icons/hicolor/scalable/apps/late-drawing.svg"), svg("#ff0000"));
    EXPECT_FALSE(platform::DesktopEntries::icon(QStringLiteral("late-drawing")).isNull());
}

TEST_F(IconThemeLookupTest, ANameNoFolderHoldsIsMissingOnceEveryUnindexedSizeWasLookedInto) {
    put(QStringLiteral("home/icons/hicolor/512x512/apps/other.png"), png(Qt::red, 16));
    EXPECT_FALSE(platform::themedIconFile(QStringLiteral("app-nowhere")));
}

// A folder the kernel does not watch, as one missing when the watch was made, is looked at on
// disk instead: its coming is a change.
TEST_F(IconThemeLookupTest, AFolderMissingWhenWatchedIsLookedAtOnDiskAndItsComingIsAChange) {
    const platform::IconFolderWatch watch(platform::iconFolders());
    ASSERT_TRUE(watch.looksOnDisk());
    EXPECT_FALSE(watch.changedOnDisk());
    ASSERT_TRUE(QDir().mkpath(data_.filePath(QStringLiteral("home/icons/hicolor"))));
    EXPECT_TRUE(watch.changedOnDisk());
}

// A folder of doubled pixels never matches, but one whose range takes the size in is nearest of all.
TEST(IconThemeFolder, AScaledFolderIsAsFarAsItsRangeLiesFromTheSize) {
    platform::ThemeFolder folder;
    folder.type = platform::ThemeFolder::Type::scalable;
    folder.minSize = 16;
    folder.maxSize = 256;
    folder.scale = 2;
    EXPECT_FALSE(folder.matches(128));
    EXPECT_EQ(folder.distance(128), 0);
    EXPECT_EQ(folder.distance(16), 16);
    EXPECT_EQ(folder.distance(600), 88);
}

// A folder is looked into only for the size its section gives: one without (or with none above
// zero) holds nothing a lookup could pick, and a listed folder without a section is no folder.
TEST(IconThemeFolder, FoldersWithoutASizeAreLeftOut) {
    const platform::ThemeIndex index = platform::parseThemeIndex(
        "[Icon Theme]\nDirectories=48x48/apps, sizeless,zero,unlisted-section,scalable/apps\n\n[48x48/apps]\nSize=48\n\n"
        "[sizeless]\nType=Scalable\nMinSize=16\nMaxSize=512\n\n[zero]\nSize=0\n\n[scalable/apps]\nSize=64\n"
        "Type=Scalable\nMaxSize=256\n");
    std::vector<std::string> names;
    for (const platform::ThemeFolder& folder : index.folders) names.push_back(folder.name.toStdString());
    EXPECT_EQ(names, std::vector<std::string>({"48x48/apps", "scalable/apps"}));
}

TEST_F(IconThemeLookupTest, EachFolderIsReadOnceForEveryNameTriedAndALargeOneIsAskedNameByName) {
    // Too many to keep: asked for the name itself.
    for (int i = 0; i <= platform::IconFolderContents::kMaxListed; ++i)
        put(QStringLiteral("icons/Sized/64x64/apps/filler-%1.png").arg(i), "x");
    put(QStringLiteral("icons/Sized/64x64/apps/app-large.png"), png(Qt::red, 64));
    // A link counts; a folder of the name does not.
    ASSERT_TRUE(QDir().mkpath(icons() + QStringLiteral("/Sized/128x128/apps/app-folder.png")));
    put(QStringLiteral("icons/Sized/256x256/apps/app-folder.png"), png(Qt::blue, 256));
    ASSERT_TRUE(QFile::link(icons() + QStringLiteral("/Sized/64x64/apps/app-large.png"),
                            icons() + QStringLiteral("/Sized/128x128/apps/app-linked.png")));

    const int before = platform::IconFolderContents::folderReads();
    EXPECT_EQ(IconLookup::shared().find(QStringLiteral("app-missing-name")).state, IconLookup::State::missing);
    const int reads = platform::IconFolderContents::folderReads() - before;
    EXPECT_GT(reads, 0);
    for (const char* name : {"app-large", "app-folder", "app-linked"})
        EXPECT_EQ(IconLookup::shared().find(QString::fromLatin1(name)).state, IconLookup::State::found) << name;
    EXPECT_EQ(platform::IconFolderContents::folderReads() - before, reads) << "the folders were read again";
    EXPECT_EQ(centre(IconLookup::shared().find(QStringLiteral("app-large")).image), QColor(Qt::red));
    EXPECT_EQ(centre(IconLookup::shared().find(QStringLiteral("app-folder")).image), QColor(Qt::blue));
}

// Makes this process a sandbox that refuses openat2, as some do: no path then opens without
// following its links.
bool refuseOpenat2() {
    sock_filter refuse[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(refuse)), refuse};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0 &&
           !platform::canOpenWithoutLinks();
}

// Where no path opens without following its links, no folder is looked into here: a child finds a
// theme's icon all the same.
TEST_F(IconThemeLookupTest, WhereNoPathOpensWithoutItsLinksAChildFindsAThemesIcon) {
    put(QStringLiteral("icons/Sized/128x128/apps/app-a.png"), png(Qt::green, 128));
    const auto foundThere = [] {
        const auto found = platform::themedIconFile(QStringLiteral("app-a"));
        return found && found->path.endsWith(QStringLiteral("/Sized/128x128/apps/app-a.png"));
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a process of its own: whether paths open so is asked once a process.
    EXPECT_EXIT(std::_Exit(refuseOpenat2() && foundThere() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// The callers of a lookup waiting for its answer, as the application's do.
class UnawaitedLookups {
public:
    UnawaitedLookups() { IconLookup::shared().setAwaitAnswers(std::nullopt); }
    ~UnawaitedLookups() { IconLookup::shared().setAwaitAnswers(20s); }
};

// A theme on another file system that answers: a child finds its icon, at the path the theme gives.
TEST_F(IconThemeLookupTest, AThemeOnAnotherFileSystemHasItsIconFoundByAChild) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    ASSERT_TRUE(testsupport::writeFile(mount->backingFolder() + QStringLiteral("/Remote/index.theme"),
                                       "[Icon Theme]\nName=Remote\nDirectories=32x32/apps\n\n[32x32/apps]\nSize=32\nType=Fixed\n"));
    ASSERT_TRUE(testsupport::writeFile(mount->backingFolder() + QStringLiteral("/Remote/32x32/apps/app-remote.png"),
                                       png(Qt::red, 32)));
    QIcon::setThemeSearchPaths({mount->answeringFolder(), icons()});
    QIcon::setThemeName(QStringLiteral("Remote"));
    const auto found = platform::themedIconFile(QStringLiteral("app-remote"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, mount->answeringFolder() + QStringLiteral("/Remote/32x32/apps/app-remote.png"));
    EXPECT_EQ(found->size, 32);
}

// A size folder of a theme here that leads onto a file system that never answers, through a link
// or under the mount point it lies beneath, is looked into by a child alone: every lookup ends,
// and the theme's other folders still answer.
TEST_F(IconThemeLookupTest, ASizeFolderThatNeverAnswersIsLeftToAChildAndTheThemesOtherFoldersAnswer) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount, icons() + QStringLiteral("/Under/mount"));
    UnawaitedLookups unawaited;
    ASSERT_TRUE(QFile::link(mount->hungFolder(), icons() + QStringLiteral("/Sized/64x64")));
    put(QStringLiteral("icons/Sized/256x256/apps/app-there.png"), png(Qt::blue, 256));
    index(QStringLiteral("Under"), "[Icon Theme]\nName=Under\nDirectories=mount/hung/apps,local/apps\n\n"
                                   "[mount/hung/apps]\nSize=128\nType=Fixed\n\n[local/apps]\nSize=64\nType=Fixed\n");
    put(QStringLiteral("icons/Under/local/apps/app-there.png"), png(Qt::red, 64));
    // None while a lookup still waits.
    const auto settled = [](const QString& name) -> std::optional<IconLookup::State> {
        IconLookup::shared().find(name);
        if (!IconLookup::shared().waitUntilIdle(20s)) return std::nullopt;
        return IconLookup::shared().find(name).state;
    };
    for (const QString& theme : {QStringLiteral("Sized"), QStringLiteral("Under")}) {
        SCOPED_TRACE(theme.toStdString());
        QIcon::setThemeName(theme);
        ASSERT_EQ(settled(QStringLiteral("app-nowhere")), IconLookup::State::missing);
        ASSERT_EQ(settled(QStringLiteral("app-there")), IconLookup::State::found);
    }
    EXPECT_TRUE(mount->waitForStat()) << "the hung folder was not looked into";
}

TEST_F(IconThemeLookupTest, AThemeFolderThatNeverAnswersHoldsUpNoCallerAndLookupsEndOnceItGoes) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    UnawaitedLookups unawaited;
    put(QStringLiteral("icons/Sized/128x128/apps/app-a.png"), png(Qt::green, 128));
    QIcon::setThemeSearchPaths({mount->hungFolder(), icons()});

    // More names than lookups may wait at once: every caller is answered at once.
    auto answers = std::async(std::launch::async, [] {
        std::vector<IconLookup::State> states;
        for (int i = 0; i < IconLookup::kMaxLookupThreads + 4; ++i)
            states.push_back(IconLookup::shared().find(i ? QStringLiteral("app-%1").arg(i) : QStringLiteral("app-a")).state);
        return states;
    });
    const bool answered = answers.wait_for(10s) == std::future_status::ready;
    EXPECT_TRUE(mount->waitForStat());
    if (answered) {
        for (const IconLookup::State state : answers.get()) EXPECT_EQ(state, IconLookup::State::pending);
    }
    EXPECT_TRUE(answered) << "a caller waited for the hung folder";

    // Once the file system goes, the lookups end and the icons are found.
    std::promise<void> ended;
    std::once_flag once;
    const int listener = IconLookup::shared().addListener([&] { std::call_once(once, [&] { ended.set_value(); }); });
    mount->stop();
    EXPECT_EQ(ended.get_future().wait_for(20s), std::future_status::ready);
    IconLookup::shared().removeListener(listener);
    ASSERT_TRUE(IconLookup::shared().waitUntilIdle(20s));
    EXPECT_EQ(IconLookup::shared().find(QStringLiteral("app-a")).state, IconLookup::State::found);
}

// After a mount or unmount the folders' watch is made anew once, beside the lookups: making it
// looks for the theme's index on a folder that never answers through a child left behind there,
// so one more child stays behind, not one for each lookup.
TEST_F(IconThemeLookupTest, AMountChangeHasTheFoldersWatchedAnewOnce) {
    std::unique_ptr<testsupport::StuckFuseMount> mount, another;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    QIcon::setThemeSearchPaths({mount->hungFolder(), icons()});
    // Asked by its path: its lookup looks into no theme.
    const QString file = data_.filePath(QStringLiteral("pixmaps/app-a.png"));
    EXPECT_EQ(IconLookup::shared().find(file).state, IconLookup::State::missing);
    const quint64 seen = platform::MountTable::changes();
    QUILLVEX_MOUNT_STUCK_FUSE(another);
    ASSERT_TRUE(platform::MountTable::waitForChange(seen, 20s));
    const int behind = platform::childFileReadsLeftBehind();
    EXPECT_EQ(IconLookup::shared().find(file).state, IconLookup::State::missing);
    ASSERT_TRUE(IconLookup::shared().waitUntilIdle(20s));
    EXPECT_LE(platform::childFileReadsLeftBehind() - behind, 1) << "the watch was made more than once";
}

// The theme "Under", whose folders below Under/mount lie on a FUSE mount there that stops
// answering once a child looks into "hung".
class MountGoneLookupTest : public IconThemeLookupTest {
protected:
    QString point() const { return icons() + QStringLiteral("/Under/mount"); }
    // The theme's folders are listed in `folders`; `name` is asked while a child is stuck there,
    // then the mount is unmounted (lazily: the child still holds it).
    void askThenUnmount(const QByteArray& folders, const QString& name, testsupport::StuckFuseMount& mount) {
        index(QStringLiteral("Under"), "[Icon Theme]\nName=Under\n" + folders);
        QIcon::setThemeName(QStringLiteral("Under"));
        ASSERT_EQ(IconLookup::shared().find(name).state, IconLookup::State::missing);
        ASSERT_TRUE(mount.waitForStat());
        const quint64 seen = platform::MountTable::changes();
        ASSERT_EQ(testsupport::runTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), point()}), 0);
        ASSERT_TRUE(platform::MountTable::waitForChange(seen, 20s));
    }
};

// A size folder then holding icons: a name asked before and one never asked are found, in the
// folder itself, no more by a child.
TEST_F(MountGoneLookupTest, ASizeFolderWhoseStuckMountWentHasItsIconsFound) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount, point());
    ASSERT_NO_FATAL_FAILURE(askThenUnmount("Directories=mount/hung/apps\n\n[mount/hung/apps]\nSize=128\nType=Fixed\n",
                                           QStringLiteral("app-before"), *mount));
    for (const char* name : {"app-before", "app-never-asked"})
        put(QStringLiteral("icons/Under/mount/hung/apps/%1.png").arg(QLatin1String(name)), png(Qt::red, 128));
    const int reads = platform::IconFolderContents::folderReads();
    for (const char* name : {"app-before", "app-never-asked"})
        EXPECT_EQ(IconLookup::shared().find(QString::fromLatin1(name)).state, IconLookup::State::found) << name;
    EXPECT_GT(platform::IconFolderContents::folderReads(), reads) << "the folders were not looked into here anew";
}

// Folders whose child did not answer are asked again once another file system is mounted there.
TEST_F(MountGoneLookupTest, FoldersWhoseChildDidNotAnswerAreAskedAgainOnceAnotherFileSystemIsMountedThere) {
    std::unique_ptr<testsupport::StuckFuseMount> stopped, remounted;
    QUILLVEX_MOUNT_STUCK_FUSE(stopped, point());
    // The child looks into the nearest size first: the answering folder, then the hung one.
    ASSERT_NO_FATAL_FAILURE(askThenUnmount("Directories=mount/mirror/apps,mount/hung/apps\n\n[mount/mirror/apps]\nSize=128\n"
                                           "Type=Fixed\n\n[mount/hung/apps]\nSize=64\nType=Fixed\n",
                                           QStringLiteral("app-remote"), *stopped));
    QUILLVEX_MOUNT_STUCK_FUSE(remounted, point());
    ASSERT_TRUE(testsupport::writeFile(remounted->backingFolder() + QStringLiteral("/apps/app-remote.png"), png(Qt::red, 128)));
    EXPECT_EQ(IconLookup::shared().find(QStringLiteral("app-remote")).state, IconLookup::State::found);
}

// The kernel's views hold no icons nor entries: a folder leading into one is not looked into, here
// or by a child.
TEST(KernelViews, AFolderLeadingIntoOneHoldsNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc"), dir.filePath(QStringLiteral("applications"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("/sys/class"), dir.filePath(QStringLiteral("icons"))));
    EXPECT_TRUE(platform::DesktopEntries::folderNames(dir.filePath(QStringLiteral("applications"))).isEmpty());
    platform::IconFolderContents contents;
    const platform::LocalReach reach;
    for (const char* folder : {"/proc", "/sys/class"})
        EXPECT_FALSE(contents.folder(folder, reach)->exists()) << folder;
    EXPECT_FALSE(contents.folder(QFile::encodeName(dir.filePath(QStringLiteral("icons"))).toStdString(), reach)->exists());
    // A child told of a place elsewhere that leads there lists nothing (/proc holds a "status" of
    // each process and thread).
    const auto listed = platform::filesInChild({QFile::encodeName(dir.filePath(QStringLiteral("applications")))}, "status",
                                               64 * 1024, 1024 * 1024, std::chrono::steady_clock::now() + 20s);
    ASSERT_TRUE(listed);
    EXPECT_TRUE(listed->empty());
}

}  // namespace
