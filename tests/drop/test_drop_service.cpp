#include "drop/drop_service.h"

#include "platform/notification_store/notification_store_writer.h"

#include "support/fake_folder_chooser.h"
#include "support/fake_process.h"
#include "support/fake_sharing.h"
#include "support/fixtures.h"
#include "support/held_locks.h"
#include "support/virtual_scheduler.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

using platform::LogLevel;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Frees whoever waits in open() on the pipes once a generous while has passed, so code that
// blocks on one fails the test instead of hanging it.
class PipeRescue {
public:
    explicit PipeRescue(QStringList pipes)
        : thread_([this, pipes] {
              std::unique_lock lock(mutex_);
              if (done_.wait_for(lock, std::chrono::seconds(10), [this] { return stopped_; })) return;
              rescued_ = true;
              while (!done_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopped_; })) {
                  for (const QString& pipe : pipes) {
                      const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
                      if (fd >= 0) ::close(fd);
                  }
              }
          }) {}
    ~PipeRescue() { stop(); }
    bool stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        done_.notify_all();
        if (thread_.joinable()) thread_.join();
        return rescued_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool stopped_ = false;
    bool rescued_ = false;
    std::thread thread_;
};

class DropServiceTest : public testsupport::QuillvexTest {
protected:
    DropServiceTest() : converter(launcher, scheduler(), converterConfig()), service(converter, sharing, chooser, scheduler()) {}

    FileConverterService::Config converterConfig() {
        FileConverterService::Config config;
        config.outputDirectory = temp.path() + QStringLiteral("/out");
        return config;
    }

    QUrl file(const QString& relative, const QByteArray& bytes) {
        const QString path = temp.path() + QLatin1Char('/') + relative;
        testsupport::writeFile(path, bytes);
        return QUrl::fromLocalFile(path);
    }
    QString path(const QString& relative) const { return temp.path() + QLatin1Char('/') + relative; }

    QTemporaryDir temp;
    testsupport::FakeProcessLauncher launcher;
    testsupport::FakeSharingServices sharing;
    testsupport::FakeFolderChooser chooser;
    FileConverterService converter;
    DropService service;
};

TEST_F(DropServiceTest, EveryActionLogsWhatItPerformsEvenOnAnEmptyList) {
    service.perform(DropAction::convertVideo, {QUrl::fromLocalFile(QStringLiteral("/x/a.mov")), QUrl::fromLocalFile(QStringLiteral("/x/b.mov"))});
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("[DropService] Performing action: convertVideo on 2 file(s)")));
    service.perform(DropAction::copyToFolder, {});
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("[DropService] Performing action: copyToFolder on 0 file(s)")));
    scheduler().drain();
    EXPECT_EQ(chooser.prompts.size(), 1u);  // an empty list still asks for a folder
}

TEST_F(DropServiceTest, AirDropRoads) {
    const QList<QUrl> urls{QUrl::fromLocalFile(QStringLiteral("/x/a.txt"))};
    // Linux has no such service: the shared one reports it missing.
    DropService plain(converter, platform::SharingServices::shared(), chooser, scheduler());
    plain.perform(DropAction::airdrop, urls);
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] AirDrop service unavailable")));

    sharing.offered = std::make_shared<testsupport::FakeSharingService>();
    sharing.offered->accepts = false;
    service.perform(DropAction::airdrop, urls);
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] AirDrop cannot perform with given items")));
    EXPECT_TRUE(sharing.offered->performed.empty());

    sharing.offered->accepts = true;
    service.perform(DropAction::airdrop, urls);
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("[DropService] AirDrop initiated for 1 file(s)")));
    ASSERT_EQ(sharing.offered->performed.size(), 1u);
    EXPECT_EQ(sharing.offered->performed[0], urls);
    EXPECT_EQ(sharing.requested.back(), platform::SharingServices::sendViaAirDrop);
}

TEST_F(DropServiceTest, CopyReplacesAndAddsAndLogsEachFile) {
    QDir().mkpath(path(QStringLiteral("dest")));
    testsupport::writeFile(path(QStringLiteral("dest/a.txt")), "old a");
    const QList<QUrl> urls{file(QStringLiteral("src/a.txt"), "new a"), file(QStringLiteral("src/b.txt"), "b")};
    chooser.answer = path(QStringLiteral("dest"));
    service.perform(DropAction::copyToFolder, urls);
    EXPECT_TRUE(chooser.prompts.empty());  // the panel runs in a later turn
    scheduler().drain();
    ASSERT_EQ(chooser.prompts.size(), 1u);
    EXPECT_EQ(chooser.prompts[0], QStringLiteral("Select Destination"));
    EXPECT_EQ(contents(path(QStringLiteral("dest/a.txt"))), QByteArray("new a"));
    EXPECT_EQ(contents(path(QStringLiteral("dest/b.txt"))), QByteArray("b"));
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copied ")),
              QStringList({QStringLiteral("[DropService] Copied a.txt to ") + path(QStringLiteral("dest")),
                           QStringLiteral("[DropService] Copied b.txt to ") + path(QStringLiteral("dest"))}));
    // No staging or set-aside items remain, and the sources are untouched.
    EXPECT_EQ(QDir(path(QStringLiteral("dest"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
    EXPECT_EQ(contents(path(QStringLiteral("src/a.txt"))), QByteArray("new a"));

    // Answering again copies again; in Japanese the prompt is Japanese.
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("ja"));
    service.perform(DropAction::copyToFolder, urls);
    scheduler().drain();
    ASSERT_EQ(chooser.prompts.size(), 2u);
    EXPECT_EQ(chooser.prompts[1], QStringLiteral("コピー先を選択"));
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copied ")).size(), 4);
}

TEST_F(DropServiceTest, AVanishedSourceFailsAloneAndCancelCopiesNothing) {
    QDir().mkpath(path(QStringLiteral("dest")));
    const QList<QUrl> urls{file(QStringLiteral("src/a.txt"), "a"), QUrl::fromLocalFile(path(QStringLiteral("src/gone.txt"))),
                           file(QStringLiteral("src/c.txt"), "c")};
    chooser.answer = path(QStringLiteral("dest"));
    service.perform(DropAction::copyToFolder, urls);
    scheduler().drain();
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copy failed: ")),
              QStringList{QStringLiteral("[DropService] Copy failed: No such file or directory")});
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copied ")).size(), 2);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("dest/c.txt"))));

    log.clear();
    chooser.answer.reset();
    service.perform(DropAction::copyToFolder, urls);
    scheduler().drain();
    EXPECT_TRUE(log.contains(LogLevel::Debug, QStringLiteral("[DropService] Copy to folder cancelled")));
    EXPECT_TRUE(log.matching(QStringLiteral("[DropService] Cop")).size() == 1);
}

TEST_F(DropServiceTest, PipesNeverStallTheMainThreadAndAreLeftOutOrRefused) {
    platform::ThreadedGlobalScheduler threaded;
    FileConverterService offMainConverter(launcher, threaded, converterConfig());
    DropService offMain(offMainConverter, sharing, chooser, threaded);
    file(QStringLiteral("src/album/one.txt"), "1");
    const QString inner = path(QStringLiteral("src/album/pipe"));
    const QString lone = path(QStringLiteral("src/lone.jpeg"));
    for (const QString& pipe : {inner, lone}) ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    PipeRescue rescue({inner, lone});
    QDir().mkpath(path(QStringLiteral("dest")));
    chooser.answer = path(QStringLiteral("dest"));

    offMain.perform(DropAction::copyToFolder, {QUrl::fromLocalFile(path(QStringLiteral("src/album"))), QUrl::fromLocalFile(lone)});
    offMain.perform(DropAction::convertImage, {QUrl::fromLocalFile(lone)});
    offMain.perform(DropAction::convertVideo, {QUrl::fromLocalFile(lone)});
    threaded.settle();
    EXPECT_FALSE(rescue.stop()) << "a pipe was opened and waited on";

    EXPECT_EQ(contents(path(QStringLiteral("dest/album/one.txt"))), QByteArray("1"));
    EXPECT_EQ(QDir(path(QStringLiteral("dest/album"))).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("one.txt")});
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Cop")),
              QStringList({QStringLiteral("[DropService] Copied album to ") + path(QStringLiteral("dest")),
                           QStringLiteral("[DropService] Copy failed: lone.jpeg is not a regular file, folder or link")}));
    for (const char* kind : {"Image", "Video"})
        EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] %1 conversion failed for lone.jpeg: not a regular file")
                                                      .arg(QLatin1String(kind))));
    EXPECT_TRUE(launcher.runs().empty());
}

// A socket cannot even be opened (ENXIO): its conversion fails with the same reason as a pipe's.
TEST_F(DropServiceTest, ASocketIsRefusedForConversionAsNotARegularFile) {
    platform::ThreadedGlobalScheduler threaded;
    FileConverterService offMainConverter(launcher, threaded, converterConfig());
    DropService offMain(offMainConverter, sharing, chooser, threaded);
    QDir().mkpath(path(QStringLiteral("src")));
    const QByteArray socketPath = QFile::encodeName(path(QStringLiteral("src/socket.png")));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<size_t>(socketPath.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), static_cast<size_t>(socketPath.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    offMain.perform(DropAction::convertImage, {QUrl::fromLocalFile(QFile::decodeName(socketPath))});
    threaded.settle();
    ::close(fd);
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] Image conversion failed for socket.png: not a "
                                                             "regular file")))
        << log.matching(QStringLiteral("[DropService]")).join(u'\n').toStdString();
    EXPECT_TRUE(launcher.runs().empty());
}

// The notification store dropped while it is open, alone or in its folder: neither copied nor
// converted, since closing a descriptor of ours on it would take its connection's locks away.
TEST_F(DropServiceTest, TheOpenNotificationStoreIsNeitherCopiedNorConvertedAndKeepsItsLocks) {
    const QString store = path(QStringLiteral("src/store/db"));
    platform::NotificationStoreWriter writer(store, 100);
    ASSERT_TRUE(writer.appendRecord(QStringLiteral("x"), "d"));
    const int held = testsupport::locksHeld(store);
    ASSERT_GT(held, 0);
    QDir().mkpath(path(QStringLiteral("dest")));
    chooser.answer = path(QStringLiteral("dest"));
    const QUrl url = QUrl::fromLocalFile(store);
    service.perform(DropAction::copyToFolder, {url, QUrl::fromLocalFile(path(QStringLiteral("src/store")))});
    service.perform(DropAction::convertImage, {url});
    service.perform(DropAction::convertVideo, {url});
    scheduler().drain();
    EXPECT_EQ(testsupport::locksHeld(store), held);
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copy failed: ")).size(), 2);
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] Copy failed: db is a database this "
                                                             "application has open")));
    for (const char* kind : {"Image", "Video"})
        EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] %1 conversion failed for db: a database "
                                                                 "this application has open")
                                                      .arg(QLatin1String(kind))));
    EXPECT_TRUE(QDir(path(QStringLiteral("dest"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(launcher.runs().empty());
}

TEST_F(DropServiceTest, NamesUpToTheLimitCopyIntoPlace) {
    // 250 bytes: the copy is staged under a hidden name that must still fit.
    const QString name = QString(125, QChar(0xE9));
    QDir().mkpath(path(QStringLiteral("dest")));
    chooser.answer = path(QStringLiteral("dest"));
    service.perform(DropAction::copyToFolder, {file(QStringLiteral("src/") + name, "long")});
    scheduler().drain();
    EXPECT_EQ(contents(path(QStringLiteral("dest/") + name)), QByteArray("long"));
    EXPECT_TRUE(log.matching(QStringLiteral("[DropService] Copy failed: ")).isEmpty());
}

TEST_F(DropServiceTest, SameNamesFromTwoFoldersLeaveTheSecond) {
    QDir().mkpath(path(QStringLiteral("dest")));
    chooser.answer = path(QStringLiteral("dest"));
    service.perform(DropAction::copyToFolder, {file(QStringLiteral("one/n.txt"), "first"), file(QStringLiteral("two/n.txt"), "second")});
    scheduler().drain();
    EXPECT_EQ(contents(path(QStringLiteral("dest/n.txt"))), QByteArray("second"));
}

TEST_F(DropServiceTest, CopyingOntoOrIntoItselfNeverDeletesTheSource) {
    const QUrl own = file(QStringLiteral("here/a.txt"), "precious");
    file(QStringLiteral("tree/inner/x.txt"), "x");
    chooser.answer = path(QStringLiteral("here"));
    service.perform(DropAction::copyToFolder, {own});
    scheduler().drain();
    EXPECT_EQ(contents(path(QStringLiteral("here/a.txt"))), QByteArray("precious"));
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copy failed: ")).size(), 1);

    // A folder into one of its own subfolders.
    chooser.answer = path(QStringLiteral("tree/inner"));
    service.perform(DropAction::copyToFolder, {QUrl::fromLocalFile(path(QStringLiteral("tree")))});
    scheduler().drain();
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copy failed: ")).size(), 2);
    EXPECT_EQ(contents(path(QStringLiteral("tree/inner/x.txt"))), QByteArray("x"));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("tree/inner/tree"))));

    // The same folder reached through a link is still the same folder.
    ASSERT_TRUE(QFile::link(path(QStringLiteral("here")), path(QStringLiteral("alias"))));
    chooser.answer = path(QStringLiteral("alias"));
    service.perform(DropAction::copyToFolder, {own});
    scheduler().drain();
    EXPECT_EQ(contents(path(QStringLiteral("here/a.txt"))), QByteArray("precious"));
}

TEST_F(DropServiceTest, FoldersCopyWholeAndReplaceAFolderOrFile) {
    file(QStringLiteral("src/album/one.txt"), "1");
    file(QStringLiteral("src/album/sub/two.txt"), "2");
    file(QStringLiteral("dest/album/stale.txt"), "stale");
    chooser.answer = path(QStringLiteral("dest"));
    service.perform(DropAction::copyToFolder, {QUrl::fromLocalFile(path(QStringLiteral("src/album")))});
    scheduler().drain();
    EXPECT_EQ(contents(path(QStringLiteral("dest/album/sub/two.txt"))), QByteArray("2"));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("dest/album/stale.txt"))));
    EXPECT_EQ(QDir(path(QStringLiteral("dest"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("album")});
}

TEST_F(DropServiceTest, RefusedNamesAndWebAddressesFail) {
    EXPECT_EQ(DropService::copyItem(QStringLiteral("/"), temp.path()), QStringLiteral("Invalid file name"));
    EXPECT_TRUE(DropService::copyItem(path(QStringLiteral("..")), temp.path()).has_value());
    QDir().mkpath(path(QStringLiteral("dest")));
    chooser.answer = path(QStringLiteral("dest"));
    service.perform(DropAction::copyToFolder, {QUrl(QStringLiteral("https://example.com/a.txt"))});
    scheduler().drain();
    EXPECT_EQ(log.matching(QStringLiteral("[DropService] Copy failed: ")).size(), 1);
    EXPECT_TRUE(QDir(path(QStringLiteral("dest"))).isEmpty());
}

TEST_F(DropServiceTest, ConversionsLogEachOutcomeAsItFinishes) {
    launcher.onRun = [](const platform::ProcessSpec& spec, double) {
        const QString last = spec.arguments.back();
        const bool fail = spec.arguments.join(QLatin1Char(' ')).contains(QStringLiteral("bad"));
        if (!fail) testsupport::writeFile(last.mid(last.indexOf(QLatin1Char(':')) + 1), "out");
        platform::ProcessResult result;
        result.status = platform::ProcessResult::Status::Exited;
        result.exitCode = fail ? 1 : 0;
        return result;
    };
    const QByteArray jpeg("\xff\xd8\xff\xe0", 4);
    service.perform(DropAction::convertImage, {file(QStringLiteral("holiday.jpeg"), jpeg), file(QStringLiteral("bad.jpeg"), jpeg),
                                              file(QStringLiteral("notes.txt"), "plain")});
    EXPECT_TRUE(log.matching(QStringLiteral("[DropService] Image conv")).isEmpty());  // the files are read later, elsewhere
    scheduler().drain();
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("[DropService] Image converted: ") + path(QStringLiteral("out/holiday.png"))));
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] Image conversion failed for bad.jpeg")));
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] Image conversion failed for notes.txt")));

    service.perform(DropAction::convertVideo, {file(QStringLiteral("clip.mov"), "v"), file(QStringLiteral("bad.mov"), "v")});
    scheduler().drain();
    EXPECT_TRUE(log.contains(LogLevel::Info, QStringLiteral("[DropService] Video converted: ") + path(QStringLiteral("out/clip_converted.mp4"))));
    EXPECT_TRUE(log.contains(LogLevel::Error, QStringLiteral("[DropService] Video conversion failed for bad.mov")));
}

}  // namespace
