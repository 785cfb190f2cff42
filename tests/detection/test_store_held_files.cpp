// Closing any descriptor of a file drops every POSIX lock this process holds on it: while the
// store is open, no road that reads an icon or picture by the name another program gave may open
// and close the store, its log or its index here.

#include "core/app_icon_helper.h"
#include "detection/sqlite_connection.h"
#include "detection/sqlite_statement.h"
#include "platform/files/regular_file.h"
#include "platform/notification_store/notification_store_writer.h"
#include "platform/workspace/linux_workspace.h"
#include "support/held_locks.h"
#include "support/service_fixtures.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

#include <sqlite3.h>
#include <memory>

#include <unistd.h>

namespace {

using testsupport::locksHeld;

class StoreHeldFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        writer_ = std::make_unique<platform::NotificationStoreWriter>(path, 100);
        ASSERT_TRUE(writer_->appendRecord(QStringLiteral("x"), "d"));
        // The detector's reader keeps the store too.
        reader_ = SqliteConnection::openReadOnly(path);
        ASSERT_TRUE(reader_.execute("SELECT count(*) FROM record"));
        // SQLite locks the store and its index; the log only follows them.
        for (const QString& file : files) held_[file] = locksHeld(file);
        ASSERT_GT(held_[path], 0);
        ASSERT_GT(held_[files[2]], 0);
        env_.set("XDG_DATA_HOME", QFile::encodeName(data));
        env_.set("XDG_DATA_DIRS", QFile::encodeName(home_.filePath(QStringLiteral("none"))));
        ASSERT_TRUE(QDir().mkpath(data + QStringLiteral("/applications")));
    }

    void expectLocksKept(const QString& road) {
        for (const QString& file : files) EXPECT_EQ(locksHeld(file), held_[file]) << road.toStdString() << " " << file.toStdString();
    }

    static void write(const QString& file, const QByteArray& bytes) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }

    QTemporaryDir home_;
    const QString path = home_.filePath(QStringLiteral("db"));
    const QStringList files{path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")};
    const QString data = home_.filePath(QStringLiteral("data"));
    std::unique_ptr<platform::NotificationStoreWriter> writer_;
    SqliteConnection reader_;
    std::map<QString, int> held_;
    testsupport::ScopedEnvironment env_;
};

// A desktop entry whose Icon names the store, its log or its index, as the overlay's icon lookup
// reaches it by the entry's name, its id or its file; and an entry that is the store itself.
TEST_F(StoreHeldFilesTest, AnEntryNamingTheStoreAsItsIconLeavesItsLocks) {
    const QString entry = data + QStringLiteral("/applications/org.example.Mail.desktop");
    for (const QString& file : files) {
        write(entry, "[Desktop Entry]\nType=Application\nName=Mail\nIcon=" + QFile::encodeName(file) + "\n");
        // The entry's own icon is not read: the file type's stands in.
        EXPECT_TRUE(AppIconHelper::getIcon(QStringLiteral("Mail"), std::nullopt));
        EXPECT_TRUE(AppIconHelper::getIcon(std::nullopt, QStringLiteral("org.example.Mail")));
        expectLocksKept(QStringLiteral("Icon=") + file);
    }
    const QString sameFile = data + QStringLiteral("/applications/store.desktop");
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(sameFile).constData()), 0);
    EXPECT_FALSE(platform::LinuxWorkspace().iconForFile(sameFile).isNull());
    expectLocksKept(QStringLiteral("an entry that is the store"));
}

// An icon theme's file that is a link to the store, reached by a sender's themed name or an
// entry's Icon; and, once the writer has gone, the reader alone still keeps its files.
TEST_F(StoreHeldFilesTest, AThemeIconLinkedToTheStoreLeavesItsLocksAsDoesTheReaderAlone) {
    const QString theme = data + QStringLiteral("/icons/hicolor");
    ASSERT_TRUE(QDir().mkpath(theme + QStringLiteral("/48x48/apps")));
    write(theme + QStringLiteral("/index.theme"),
          "[Icon Theme]\nName=hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
    const QStringList savedPaths = QIcon::themeSearchPaths();
    const QString savedTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({data + QStringLiteral("/icons")});
    QIcon::setThemeName(QStringLiteral("hicolor"));
    for (const QString& file : files) {
        const QString icon = QStringLiteral("store-") + QFileInfo(file).fileName();
        ASSERT_TRUE(QFile::link(file, theme + QStringLiteral("/48x48/apps/") + icon + QStringLiteral(".png")));
        EXPECT_FALSE(AppIconHelper::getIconForThemedName(icon)) << icon.toStdString();
        write(data + QStringLiteral("/applications/themed.desktop"),
              "[Desktop Entry]\nType=Application\nName=Themed\nIcon=" + icon.toUtf8() + "\n");
        AppIconHelper::getIcon(QStringLiteral("Themed"), std::nullopt);
        expectLocksKept(QStringLiteral("themed ") + icon);
    }
    QIcon::setThemeSearchPaths(savedPaths);
    QIcon::setThemeName(savedTheme);

    writer_.reset();
    for (const QString& file : files) held_[file] = locksHeld(file);
    EXPECT_GT(held_[files[2]], 0);
    for (const QString& file : files) {
        EXPECT_FALSE(platform::readRegularFile(file, 1 << 20)) << file.toStdString();
    }
    expectLocksKept(QStringLiteral("the reader alone"));
}

// Another program that wrote the store with a rollback journal and was killed inside a
// transaction leaves a hot journal beside it: the first read through our layer asks whether anyone
// still holds the store, rolls the transaction back and reads the store as it was before.
TEST_F(StoreHeldFilesTest, AStoreLeftWithAHotJournalIsReadAsItWasBeforeTheLostTransaction) {
    const QString left = home_.filePath(QStringLiteral("left"));
    ASSERT_TRUE(platform::NotificationStoreWriter(left, 100).appendRecord(QStringLiteral("x"), "kept"));
    QProcess other;
    testsupport::dieWithTest(other);
    other.start(QStringLiteral("sqlite3"), {left});
    ASSERT_TRUE(other.waitForStarted(5000)) << "sqlite3 is not installed";
    // A small page cache spills the transaction's pages into the store before any commit.
    other.write("PRAGMA journal_mode=DELETE; PRAGMA cache_size=2; BEGIN;"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)"
                " INSERT INTO record(app_id, data) SELECT 1, randomblob(2000) FROM n;"
                "SELECT 'written';\n");
    QByteArray output;
    while (!output.contains("written") && other.waitForReadyRead(10000)) output += other.readAllStandardOutput();
    ASSERT_TRUE(output.contains("written")) << output.constData() << other.readAllStandardError().constData();
    other.kill();
    other.waitForFinished(5000);
    ASSERT_TRUE(QFileInfo::exists(left + QStringLiteral("-journal")));

    const SqliteConnection reader = SqliteConnection::openReadOnly(left);
    ASSERT_TRUE(reader.isOpen()) << reader.errorMessage().toStdString();
    {
        // Read-only, it cannot roll back: it says so rather than reading the half-written store.
        SqliteStatement count(reader, QStringLiteral("SELECT count(*) FROM record"));
        EXPECT_NE(count.step(), SQLITE_ROW);
    }
    platform::NotificationStoreWriter writer(left, 100);
    ASSERT_TRUE(writer.isOpen()) << writer.error().toStdString();
    SqliteStatement count(reader, QStringLiteral("SELECT count(*) FROM record"));
    ASSERT_EQ(count.step(), SQLITE_ROW) << reader.errorMessage().toStdString();
    EXPECT_EQ(count.columnInt64(0), 1);
    EXPECT_FALSE(QFileInfo::exists(left + QStringLiteral("-journal")));
}

}  // namespace
