#include "platform/dynamic_library/dynamic_library.h"

#include <gtest/gtest.h>

TEST(DlopenLibraryLoader, LoadsByPathFindsFunctionsByNameAndReportsTheLoadersReason) {
    platform::DlopenLibraryLoader loader;
    const auto library = loader.load(QStringLiteral("libm.so.6"));
    ASSERT_TRUE(library);
    auto* cosine = reinterpret_cast<double (*)(double)>(library->symbol("cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(library->symbol("no_such_function_here"), nullptr);

    QString error;
    EXPECT_FALSE(loader.load(QStringLiteral("/nonexistent/libnothing.so"), &error));
    EXPECT_FALSE(error.isEmpty());
}
