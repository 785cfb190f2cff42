#include "core/log.h"
#include "support/fixtures.h"

namespace {

using platform::LogLevel;

class LogTest : public testsupport::QuillvexTest {};

TEST_F(LogTest, EachLevelWritesTheMessageExactlyAsPassed) {
    const QString text = QStringLiteral("Queue: \"private\" text 100% %s {public}");
    Log::shared().debug(text);
    Log::shared().info(text);
    Log::shared().warning(text);
    Log::shared().error(text);
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(log.lines()[0].level, LogLevel::Debug);
    EXPECT_EQ(log.lines()[2].level, LogLevel::Warning);
    for (const auto& line : log.lines()) EXPECT_EQ(line.text, text);
}

TEST_F(LogTest, DisabledLevelsAreNotWritten) {
    log.debugEnabled = false;
    Log::shared().debug(QStringLiteral("AppDelegate: Releasing previous IslandQueue instance"));
    Log::shared().info(QStringLiteral("AppDelegate: started"));
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("AppDelegate: started")});
}

}  // namespace
