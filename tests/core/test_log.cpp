#include "core/log.h"
#include "support/fixtures.h"

namespace {

using platform::LogLevel;

// Records what reaches the backend while claiming debug is switched off.
class DebugOffBackend final : public platform::LogBackend {
public:
    DebugOffBackend() : previous_(setShared(this)) {}
    ~DebugOffBackend() override { setShared(previous_); }
    bool isEnabled(LogLevel level) const override { return level != LogLevel::Debug; }
    void write(LogLevel level, const QString& message) override { lines.push_back({level, message}); }
    std::vector<std::pair<LogLevel, QString>> lines;

private:
    platform::LogBackend* previous_;
};

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
    DebugOffBackend backend;
    Log::shared().debug(QStringLiteral("AppDelegate: Releasing previous IslandQueue instance"));
    Log::shared().info(QStringLiteral("AppDelegate: started"));
    ASSERT_EQ(backend.lines.size(), 1u);
    EXPECT_EQ(backend.lines[0].first, LogLevel::Info);
}

}  // namespace
