// The folder search behind the downloads activity: changes that come before its first result set
// is complete, or while the caller holds updates, are taken in once they may be, none lost.

#include "platform/metadata_query/metadata_query.h"

#include "support/fake_directory_watcher.h"
#include "support/fixtures.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

namespace {

using Kind = platform::DirectoryEvent::Kind;

class MetadataQueryTest : public testsupport::QuillvexTest {
protected:
    MetadataQueryTest() : folder(QDir(dir.path()).canonicalPath()) {}

    std::unique_ptr<platform::MetadataQuery> start() {
        return search.start({folder, QDateTime::currentDateTime().addSecs(-3600)},
                            [this](platform::MetadataQuery&) { ++gathered; },
                            [this](platform::MetadataQuery&) { ++updates; });
    }
    QString in(const char* name) const { return folder + "/" + name; }
    // A file written and closed, and the watch's word for it.
    void write(const char* name) {
        ASSERT_TRUE(testsupport::writeFile(in(name), "x"));
        ASSERT_EQ(watcher.deliver(folder, {{in(name), Kind::ClosedWrite}}), 1);
    }
    static QSet<QString> paths(const platform::MetadataQuery& query) {
        QSet<QString> found;
        for (int i = 0; i < query.resultCount(); ++i) found.insert(query.resultAt(i).path);
        return found;
    }

    QTemporaryDir dir;
    QString folder;
    testsupport::FakeDirectoryWatcher watcher;
    platform::DirectoryMetadataSearch search{watcher, &scheduler()};
    int gathered = 0;
    int updates = 0;
};

TEST_F(MetadataQueryTest, ChangesBeforeTheFirstResultsOrWhileHeldArriveLaterAndOnce) {
    ASSERT_TRUE(testsupport::writeFile(in("old"), "x"));
    auto query = start();
    write("early");
    EXPECT_EQ(updates, 0);
    scheduler().drain();
    EXPECT_EQ(gathered, 1);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(paths(*query), (QSet<QString>{in("old"), in("early")}));

    query->disableUpdates();
    write("late");
    ASSERT_TRUE(QFile::remove(in("old")));
    ASSERT_EQ(watcher.deliver(folder, {{in("old"), Kind::Deleted}}), 1);
    scheduler().drain();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(paths(*query), (QSet<QString>{in("old"), in("early")}));  // held still

    query->enableUpdates();
    EXPECT_EQ(updates, 1);  // not inside the caller's own turn
    scheduler().drain();
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(paths(*query), (QSet<QString>{in("early"), in("late")}));
    query->disableUpdates();
    query->enableUpdates();
    scheduler().drain();
    EXPECT_EQ(updates, 2);

    // Stopped while changes wait: they are dropped with it.
    query->disableUpdates();
    write("after");
    query->stop();
    query->enableUpdates();
    scheduler().drain();
    EXPECT_EQ(updates, 2);
}

}  // namespace
