// The bridge against scripted helpers: the greeting, one request and its reply, the summaries,
// stale replies, relaunching, and helpers that fail in the ways a child process can.

#include "fake_helper.h"
#include "music/media_remote_bridge.h"
#include "platform/process/posix_process_launcher.h"
#include "support/fixtures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using musictest::FakeHelper;
using platform::LogLevel;

namespace {

class MediaRemoteBridgeTest : public testsupport::QuillvexTest {
protected:
    std::unique_ptr<MediaRemoteBridge> makeBridge() {
        return std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler(), QStringLiteral("/opt/quillvex/helper"));
    }
    FakeHelper helper;
};

}  // namespace

TEST_F(MediaRemoteBridgeTest, LaunchesWithTheScriptPathAndWaitsForReady) {
    auto bridge = makeBridge();
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: not started");
    bridge->launchHelper();

    const platform::ProcessSpec& spec = helper.child().spec;
    EXPECT_EQ(spec.program, "/opt/quillvex/helper");
    EXPECT_EQ(spec.arguments, QStringList{MediaRemoteBridge::helperScriptPath()});
    EXPECT_EQ(spec.standardError, platform::ProcessSpec::Stderr::Discard);
    EXPECT_EQ(MediaRemoteBridge::helperScriptPath(), qEnvironmentVariable("XDG_RUNTIME_DIR") + "/quillvex/quillvex_mediaremote_helper.swift");
    EXPECT_TRUE(QFile::exists(MediaRemoteBridge::helperScriptPath()));
    EXPECT_EQ(helper.child().readTimeouts(), std::vector<double>{5.0});

    EXPECT_TRUE(bridge->isReady());
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: ready (pid=40000)");
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteBridge: helper ready (pid=40000)"));
}

TEST_F(MediaRemoteBridgeTest, QueryReadsTheSnapshotAndSummarisesIt) {
    helper.answerQueries("{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\",\"bundleIdentifier\":\"mockplayer\","
                         "\"playbackRate\":1.0}");
    auto bridge = makeBridge();
    bridge->launchHelper();
    const std::optional<MediaRemoteSnapshot> snapshot = bridge->currentSnapshot(0.5);
    ASSERT_TRUE(snapshot);
    EXPECT_TRUE(snapshot->isPlaying);
    EXPECT_EQ(snapshot->title, QStringLiteral("Song"));
    EXPECT_EQ(snapshot->playbackRate, 1.0);
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: playing=true title=Song artist=Band bundle=mockplayer");
    EXPECT_EQ(helper.requests, QList<QByteArray>{"query"});
    EXPECT_NEAR(helper.child().readTimeouts().back(), 1.5, 0.05);  // the caller's wait plus one second
}

TEST_F(MediaRemoteBridgeTest, CommandsReportTheHelpersResult) {
    auto bridge = makeBridge();
    bridge->launchHelper();
    EXPECT_TRUE(bridge->sendCommand(2));
    helper.answer = [](const QByteArray&) -> QByteArray { return "{\"commandResult\":false}\n"; };
    EXPECT_FALSE(bridge->sendCommand(4));
    helper.answer = [](const QByteArray&) -> QByteArray { return "{\"commandResult\":\"yes\"}\n"; };
    EXPECT_FALSE(bridge->sendCommand(5));
    EXPECT_EQ(helper.requests, (QList<QByteArray>{"cmd:2", "cmd:4", "cmd:5"}));
    EXPECT_NEAR(helper.child().readTimeouts().back(), 2.0, 0.05);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteBridge: sendCommand(2) -> true"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteBridge: sendCommand(4) -> false"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteBridge: sendCommand(5) -> false"));
}

TEST_F(MediaRemoteBridgeTest, BadRepliesAndHelperErrorsGiveNothing) {
    auto bridge = makeBridge();
    bridge->launchHelper();

    helper.answerQueries("{\"error\":\"timeout\"}");
    EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt);
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: error=timeout");

    for (const QByteArray& bad : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray("{\"isPlaying\":tru")}) {
        helper.answerQueries(bad);
        EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt) << bad.toStdString();
        EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: invalid JSON response");
    }
    // None of it restarts the helper.
    EXPECT_EQ(helper.launcher.children().size(), 1u);
    EXPECT_TRUE(bridge->isReady());
}

TEST_F(MediaRemoteBridgeTest, LaunchFailureIsSummarisedAndLogged) {
    helper.launcher.failStart("/opt/quillvex/helper", "No such file or directory");
    auto bridge = makeBridge();
    bridge->launchHelper();
    EXPECT_FALSE(bridge->isReady());
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: launch failed: No such file or directory");
    EXPECT_TRUE(log.contains(LogLevel::Error, "MediaRemoteBridge: failed to launch helper: No such file or directory"));
    EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt);
}

TEST_F(MediaRemoteBridgeTest, AHelperThatNeverGreetsOrExitsBeforeReadyFailsAndIsRelaunchedNoMoreThanEveryFiveSeconds) {
    const QString restart = QStringLiteral("MediaRemoteBridge: restarting helper process");
    for (const auto greeting : {FakeHelper::Greeting::other, FakeHelper::Greeting::silent, FakeHelper::Greeting::exitAtOnce}) {
        SCOPED_TRACE(static_cast<int>(greeting));
        helper.greeting = greeting;
        auto bridge = makeBridge();
        const size_t before = helper.launcher.children().size();
        const auto restarts = log.count(restart);
        bridge->launchHelper();
        EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: failed to receive READY signal");
        if (greeting != FakeHelper::Greeting::exitAtOnce) {
            EXPECT_GE(helper.child().killCount(), 1);
        }

        // Polls right after cost nothing: no relaunch, no wait.
        scheduler().advance(4.9);
        EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt);
        EXPECT_EQ(helper.launcher.children().size(), before + 1);
        EXPECT_EQ(log.count(restart), restarts);
        scheduler().advance(0.1);
        helper.greeting = FakeHelper::Greeting::ready;
        EXPECT_TRUE(bridge->currentSnapshot(0.5));
        EXPECT_EQ(helper.launcher.children().size(), before + 2);
        EXPECT_EQ(log.count(restart), restarts + 1);
        EXPECT_TRUE(helper.launcher.children()[before]->released());
    }
    EXPECT_TRUE(log.contains(LogLevel::Error, "MediaRemoteBridge: helper did not send READY (got: Compiling...)"));
    EXPECT_TRUE(log.contains(LogLevel::Error, "MediaRemoteBridge: helper did not send READY (got: nil)"));
    EXPECT_EQ(helper.requests.count("query"), 3);
}

TEST_F(MediaRemoteBridgeTest, AKilledHelperIsRelaunchedAtTheNextRequest) {
    auto bridge = makeBridge();
    bridge->launchHelper();
    ASSERT_TRUE(bridge->currentSnapshot(0.5));
    helper.child().exit(128 + 9);
    scheduler().advance(5);

    EXPECT_TRUE(bridge->currentSnapshot(0.5));
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteBridge: restarting helper process"));
    EXPECT_EQ(helper.launcher.children().size(), 2u);
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: playing=false title=nil artist=nil bundle=nil");
}

TEST_F(MediaRemoteBridgeTest, AHelperThatDiesAfterSomeRepliesEndsTheRequestAsATimeout) {
    int replies = 0;
    helper.answer = [&replies](const QByteArray&) -> QByteArray {
        return ++replies <= 2 ? QByteArray("{\"isPlaying\":false}\n") : QByteArray();
    };
    auto bridge = makeBridge();
    bridge->launchHelper();
    EXPECT_TRUE(bridge->currentSnapshot(0.5));
    EXPECT_TRUE(bridge->currentSnapshot(0.5));
    helper.answer = [this](const QByteArray&) -> QByteArray {
        helper.child().exit(1);
        return {};
    };
    EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt);
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: response timeout for 'query'");
    EXPECT_FALSE(helper.child().isRunning());
}

TEST_F(MediaRemoteBridgeTest, ALateReplyNeverAnswersTheNextRequest) {
    auto bridge = makeBridge();
    bridge->launchHelper();

    // A silent helper: the request gives up waiting.
    helper.answer = [](const QByteArray&) -> QByteArray { return {}; };
    EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt);
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: response timeout for 'query'");

    // Its reply arrives late, split in two; the next request must get its own reply.
    helper.child().emitOutput("{\"isPlaying\":true,\"title\":\"Old");
    helper.answer = [this](const QByteArray& line) -> QByteArray {
        if (line == "cmd:4") return "\"}\n{\"commandResult\":true}\n";  // rest of the stale line, then the reply
        return {};
    };
    EXPECT_TRUE(bridge->sendCommand(4));

    helper.answerQueries("{\"isPlaying\":true,\"title\":\"New\"}");
    const auto snapshot = bridge->currentSnapshot(0.5);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->title, QStringLiteral("New"));
}

TEST_F(MediaRemoteBridgeTest, ASplitReplyIsFinishedByTheNextReadAndExtraLinesAreDropped) {
    auto bridge = makeBridge();
    bridge->launchHelper();

    // Two lines in one read: the first answers, the second is dropped before the next request.
    helper.answerQueries("{\"isPlaying\":true,\"title\":\"One\"}\n{\"isPlaying\":true,\"title\":\"Extra\"}");
    auto first = bridge->currentSnapshot(0.5);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title, QStringLiteral("One"));
    helper.answerQueries("{\"isPlaying\":true,\"title\":\"Two\"}");
    auto second = bridge->currentSnapshot(0.5);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->title, QStringLiteral("Two"));

    // Half a line by the deadline: kept, so the rest completes it instead of posing as a reply.
    helper.answer = [](const QByteArray&) -> QByteArray { return "{\"isPlaying\":true,\"ti"; };
    EXPECT_EQ(bridge->currentSnapshot(0.5), std::nullopt);
    helper.child().emitOutput("tle\":\"Three\"}\n");
    helper.answerQueries("{\"isPlaying\":true,\"title\":\"Four\"}");
    auto fourth = bridge->currentSnapshot(0.5);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->title, QStringLiteral("Four"));
}

TEST_F(MediaRemoteBridgeTest, ShutdownSaysQuitAndForgetsTheHelper) {
    auto bridge = makeBridge();
    bridge->launchHelper();
    bridge->shutdown();
    EXPECT_EQ(helper.requests, QList<QByteArray>{"quit"});
    EXPECT_TRUE(helper.child().released());
    EXPECT_FALSE(bridge->isReady());

    // Destroying the bridge stops its helper too.
    bridge->launchHelper();
    bridge.reset();
    EXPECT_EQ(helper.requests.size(), 2);
    EXPECT_TRUE(helper.child().released());
}

// A real helper process whose first line never ends: the log quotes only its start.
TEST_F(MediaRemoteBridgeTest, AnEndlessGreetingIsQuotedOnlyInPart) {
    QTemporaryDir folder;
    const QString program = folder.filePath(QStringLiteral("endless-helper"));
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nhead -c 2000000 /dev/zero | tr '\\0' x\nexec sleep 30\n");
    }
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::PosixProcessLauncher launcher;
    MediaRemoteBridge bridge(launcher, scheduler(), program);
    bridge.launchHelper();
    EXPECT_EQ(bridge.lastDebugSummary(), "MediaRemoteHelper: failed to receive READY signal");
    const QStringList lines = log.matching("MediaRemoteBridge: helper did not send READY (got: ");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_LE(lines[0].size(), 400);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("MediaRemoteBridge: helper did not send READY (got: ") +
                                    QString(256, u'x') + QStringLiteral("... (")))
        << lines[0].left(300).toStdString();
}

TEST_F(MediaRemoteBridgeTest, AHelperStoppedBecauseTheApplicationEndsIsNoFailure) {
    helper.greeting = FakeHelper::Greeting::silent;
    auto bridge = makeBridge();
    bridge->cancelLaunch();  // the application is ending while the helper starts
    bridge->launchHelper();
    EXPECT_GE(helper.child().killCount(), 1);
    EXPECT_FALSE(bridge->isReady());
    EXPECT_FALSE(log.contains(LogLevel::Error, "MediaRemoteBridge: helper did not send READY (got: nil)"));
    EXPECT_EQ(bridge->lastDebugSummary(), "MediaRemoteHelper: not started");
}
