// Qt's own texts, such as the network error the updater shows when its feed cannot be reached,
// follow the application's language setting, on the real event loop.

#include "core/l10n.h"
#include "core/qt_translation.h"
#include "platform/http/qt_http_client.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using platform::HttpRequest;
using platform::HttpResult;

class QtTranslationTest : public ::testing::Test {
protected:
    QtTranslationTest() { previous_ = L10n::setSystemLocaleSource([this] { return systemLocale; }); }
    ~QtTranslationTest() override { L10n::setSystemLocaleSource(previous_); }

    // How the network layer words a refused connection now.
    QString refusal() {
        std::optional<HttpResult> result;
        client_.get(HttpRequest{QUrl(QStringLiteral("http://127.0.0.1:9/latest.json")), 5, 1024},
                    [&](HttpResult r) { result = std::move(r); });
        EXPECT_TRUE(testsupport::spinUntil([&] { return result.has_value(); }));
        return result && result->error ? result->error->description : QString();
    }

    testsupport::ScopedMemoryDefaults defaults_;
    QLocale systemLocale{QLocale::English, QLocale::UnitedStates};

private:
    std::function<QLocale()> previous_;
    platform::QtHttpClient client_{platform::HttpSecurity{.allowLoopbackHttp = true, .caCertificates = {}}};
};

TEST_F(QtTranslationTest, QtsTextsFollowTheLanguageSettingAndItsChanges) {
    const QString english = QStringLiteral("Connection refused");
    const QString japanese = QStringLiteral("接続が拒否されました");
    {
        QtTranslation translation;
        EXPECT_FALSE(translation.isInstalled());
        EXPECT_EQ(refusal(), english);
        L10n::setSelectedLanguage(QStringLiteral("ja"));
        ASSERT_TRUE(translation.isInstalled()) << "no Japanese translations in " << QtTranslation::folder().toStdString();
        EXPECT_EQ(refusal(), japanese);
        L10n::setSelectedLanguage(QStringLiteral("en"));
        EXPECT_EQ(refusal(), english);
        // "auto" follows a Japanese system.
        systemLocale = QLocale(QLocale::Japanese, QLocale::Japan);
        L10n::setSelectedLanguage(QStringLiteral("auto"));
        EXPECT_EQ(refusal(), japanese);
    }
    EXPECT_EQ(refusal(), english) << "gone with the translation";

    // Japanese from the start.
    L10n::setSelectedLanguage(QStringLiteral("ja"));
    QtTranslation translation;
    EXPECT_EQ(refusal(), japanese);
}

}  // namespace
