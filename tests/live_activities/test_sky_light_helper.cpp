#include "live_activities/sky_light_helper.h"
#include "support/fake_dynamic_library.h"
#include "support/fixtures.h"

#include <vector>

namespace {

// A stand-in window server that records what it was asked.
struct WindowServer {
    std::vector<std::vector<int64_t>> calls;  // function index, then its arguments
    static WindowServer* current;
};
WindowServer* WindowServer::current = nullptr;

int32_t mainConnectionID() {
    WindowServer::current->calls.push_back({0});
    return 77;
}
int32_t spaceCreate(int32_t c, int32_t a, int32_t b) {
    WindowServer::current->calls.push_back({1, c, a, b});
    return 5;
}
int32_t setAbsoluteLevel(int32_t c, int32_t s, int32_t level) {
    WindowServer::current->calls.push_back({2, c, s, level});
    return 0;
}
int32_t showSpaces(int32_t c, const SkyLightHelper::NumberArray* spaces) {
    std::vector<int64_t> call{3, c};
    call.insert(call.end(), spaces->begin(), spaces->end());
    WindowServer::current->calls.push_back(call);
    return 0;
}
int32_t addWindows(int32_t, int32_t, const SkyLightHelper::NumberArray*, int32_t) { return 0; }

class SkyLightHelperTest : public testsupport::QuillvexTest {
protected:
    SkyLightHelperTest() { WindowServer::current = &server; }
    ~SkyLightHelperTest() override { WindowServer::current = nullptr; }

    testsupport::FakeDynamicLibraryLoader::Symbols allFive() const {
        return {{"SLSMainConnectionID", reinterpret_cast<void*>(&mainConnectionID)},
                {"SLSSpaceCreate", reinterpret_cast<void*>(&spaceCreate)},
                {"SLSSpaceSetAbsoluteLevel", reinterpret_cast<void*>(&setAbsoluteLevel)},
                {"SLSShowSpaces", reinterpret_cast<void*>(&showSpaces)},
                {"SLSSpaceAddWindowsAndRemoveFromSpaces", reinterpret_cast<void*>(&addWindows)}};
    }

    WindowServer server;
    testsupport::FakeDynamicLibraryLoader loader;
};

}  // namespace

TEST_F(SkyLightHelperTest, OnLinuxTheFrameworkDoesNotLoadAndTheHelperStaysUnavailable) {
    platform::DlopenLibraryLoader real;
    SkyLightHelper helper(real);
    EXPECT_FALSE(helper.isAvailable);
    EXPECT_EQ(helper.connection, 0);
    EXPECT_EQ(helper.space, 0);
    EXPECT_EQ(helper.fnAddWindows, nullptr);
    EXPECT_EQ(log.count(QStringLiteral("SkyLightHelper: Failed to load SkyLight framework")), 1);
}

TEST_F(SkyLightHelperTest, ALoadedFrameworkGetsOneSpaceAboveTheLockScreen) {
    loader.addLibrary(SkyLightHelper::frameworkPath, allFive());
    SkyLightHelper helper(loader);
    ASSERT_TRUE(helper.isAvailable);
    EXPECT_EQ(loader.loadedPaths(), QStringList{SkyLightHelper::frameworkPath});
    EXPECT_EQ(helper.connection, 77);
    EXPECT_EQ(helper.space, 5);
    EXPECT_EQ(helper.fnAddWindows, &addWindows);
    const std::vector<std::vector<int64_t>> expected{{0}, {1, 77, 1, 0}, {2, 77, 5, 400}, {3, 77, 5}};
    EXPECT_EQ(server.calls, expected);
    EXPECT_TRUE(log.contains(QStringLiteral("SkyLightHelper: Initialized (connection=77, space=5)")));
}

TEST_F(SkyLightHelperTest, AMissingFunctionStopsTheLookupAndCreatesNoSpace) {
    auto symbols = allFive();
    symbols.erase("SLSShowSpaces");
    loader.addLibrary(SkyLightHelper::frameworkPath, symbols);
    SkyLightHelper helper(loader);
    EXPECT_FALSE(helper.isAvailable);
    EXPECT_EQ(helper.connection, 0);
    EXPECT_EQ(helper.space, 0);
    EXPECT_EQ(helper.fnMainConnectionID, nullptr);
    EXPECT_EQ(helper.fnAddWindows, nullptr);
    EXPECT_TRUE(server.calls.empty());
    EXPECT_EQ(loader.lookedUp(), (QStringList{QStringLiteral("SLSMainConnectionID"), QStringLiteral("SLSSpaceCreate"),
                                             QStringLiteral("SLSSpaceSetAbsoluteLevel"), QStringLiteral("SLSShowSpaces")}));
    EXPECT_EQ(log.count(QStringLiteral("SkyLightHelper: Failed to resolve SkyLight symbols")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("SkyLightHelper: Failed to load SkyLight framework")));
}
