#include "updater_fixture.h"

#include <gtest/gtest.h>

using Kind = AppUpdater::State::Kind;

TEST_F(UpdaterTest, DueRuleUsesTwelveHoursUnlessAPositiveIntervalIsStored) {
    EXPECT_TRUE(updater().shouldPerformScheduledCheck(now()));  // never checked
    for (std::optional<int64_t> hours : {std::optional<int64_t>(0), std::optional<int64_t>(-3), std::optional<int64_t>()}) {
        if (hours) {
            defaults().set(AppSettings::updateCheckIntervalHoursKey, *hours);
        } else {
            defaults().remove(AppSettings::updateCheckIntervalHoursKey);
        }
        settings().setLastUpdateCheckAt(now().addSecs(-12 * 3600 + 1));
        EXPECT_FALSE(updater().shouldPerformScheduledCheck(now()));
        settings().setLastUpdateCheckAt(now().addSecs(-12 * 3600));
        EXPECT_TRUE(updater().shouldPerformScheduledCheck(now()));  // exactly one interval counts
    }
    defaults().set(AppSettings::updateCheckIntervalHoursKey, int64_t{1});
    settings().setLastUpdateCheckAt(now().addSecs(-3599));
    EXPECT_FALSE(updater().shouldPerformScheduledCheck(now()));
    settings().setLastUpdateCheckAt(now().addSecs(-3600));
    EXPECT_TRUE(updater().shouldPerformScheduledCheck(now()));
    // A last check in the future: nothing is due until one interval after it.
    settings().setLastUpdateCheckAt(now().addSecs(7200));
    EXPECT_FALSE(updater().shouldPerformScheduledCheck(now()));
    EXPECT_FALSE(updater().shouldPerformScheduledCheck(now().addSecs(7200 + 3599)));
    EXPECT_TRUE(updater().shouldPerformScheduledCheck(now().addSecs(7200 + 3600)));
    // An interval too large for seconds in 64 bits is held, not wrapped into the past.
    defaults().set(AppSettings::updateCheckIntervalHoursKey, INT64_MAX);
    settings().setLastUpdateCheckAt(now().addSecs(-10 * 365 * 24 * 3600LL));
    EXPECT_FALSE(updater().shouldPerformScheduledCheck(now()));
}

TEST_F(UpdaterTest, StartChecksOnceAfterTheRandomDelayThenHourly) {
    scheduler().setRandomSource([] { return 0.0; });
    updater().start();
    updater().start();  // a second start changes nothing
    EXPECT_TRUE(updater().hasTimer());
    scheduler().advance(14.9);
    EXPECT_TRUE(http.sent().empty());
    scheduler().advance(0.1);
    ASSERT_EQ(http.sent().size(), 1u);
    EXPECT_EQ(http.sent()[0].url, QUrl(AppSettings::builtInUpdateFeedURL));
    EXPECT_EQ(http.sent()[0].timeoutSeconds, 30.0);
    EXPECT_EQ(http.sent()[0].deadlineSeconds, 30.0);  // the whole request, however steadily it trickles
    EXPECT_EQ(http.sent()[0].maxBodyBytes, 1 << 20);
    http.respondOk(feed("1.3.0", 20));
    scheduler().drain();
    EXPECT_EQ(updater().state().kind, Kind::upToDate);
    EXPECT_EQ(alertCount(), 0u);  // a scheduled check keeps quiet about being current

    // The next check comes at the first hourly tick twelve hours after the success: the tick at
    // 12:00:00 is 15 s short, so the one at 13:00:00 checks.
    scheduler().advance(12 * 3600);
    EXPECT_EQ(http.sent().size(), 1u);
    scheduler().advance(3600);
    EXPECT_EQ(http.sent().size(), 2u);

    updater().invalidateTimer();
    EXPECT_FALSE(updater().hasTimer());
}

TEST_F(UpdaterTest, AutomaticChecksOffNeverFetchOnSchedule) {
    defaults().set(AppSettings::automaticUpdateChecksKey, false);
    scheduler().setRandomSource([] { return 1.0; });
    updater().start();
    scheduler().advance(48 * 3600);
    EXPECT_TRUE(http.sent().empty());
    startInteractiveCheck();  // the user's check still runs
    EXPECT_EQ(http.sent().size(), 1u);
}

TEST_F(UpdaterTest, ScheduledChecksPromptOncePerVersionInteractiveOnesEveryTime) {
    for (int i = 0; i < 2; ++i) {
        updater().performCheck(true, false, false);
        http.respondOk(feed("1.4.0", 27));
        if (i == 0) {
            ASSERT_EQ(alertCount(), 1u);
            EXPECT_EQ(lastAlert().messageText, "Update to 1.4.0 (27) is available");
            EXPECT_EQ(lastAlert().buttons, (QStringList{"Install Update", "Later"}));
            alertSurface->answer(1);
        }
    }
    EXPECT_EQ(alertCount(), 1u);
    EXPECT_EQ(defaults().stringValue(AppSettings::lastPromptedUpdateVersionKey), "1.4.0 (27)");
    EXPECT_EQ(updater().state().kind, Kind::updateAvailable);
    EXPECT_EQ(updater().statusDescription(), "1.4.0 (27) is ready to install");

    for (int i = 0; i < 2; ++i) {
        startInteractiveCheck();
        http.respondOk(feed("1.4.0", std::nullopt));
        alertSurface->answer(1);
    }
    EXPECT_EQ(alertCount(), 3u);
    EXPECT_EQ(lastAlert().messageText, "Update to 1.4.0 is available");
    EXPECT_EQ(defaults().stringValue(AppSettings::lastPromptedUpdateVersionKey), "1.4.0");
}

TEST_F(UpdaterTest, UpdateAlertTextWithAndWithoutNotes) {
    startInteractiveCheck();
    http.respondOk(feed("1.4.0", 27, "Faster."));
    EXPECT_EQ(lastAlert().informativeText,
              "Quillvex will download the update and replace the app after it quits.\n\nFaster.\n\n"
              "If the folder the app is installed in is not writable by you, the desktop may ask for an "
              "administrator password.");
    EXPECT_EQ(lastAlert().style, platform::Alert::Style::Informational);
    alertSurface->answer(1);  // Later
    startInteractiveCheck();
    http.respondOk(feed("1.4.0", 27, ""));
    EXPECT_EQ(lastAlert().informativeText,
              "Quillvex will download the update and replace the app after it quits.\n\n"
              "If the folder the app is installed in is not writable by you, the desktop may ask for an "
              "administrator password.");
    alertSurface->answer(1);
    defaults().set(L10n::languageKey, QStringLiteral("ja"));
    startInteractiveCheck();
    http.respondOk(feed("1.4.0", 27, ""));
    EXPECT_TRUE(lastAlert().informativeText.endsWith(
        "\n\nアプリのあるフォルダに書き込めない場合は、デスクトップが管理者パスワードを求めることがあります。"));
}

TEST_F(UpdaterTest, FailedFeedKeepsTheKnownUpdateAndTheLastCheck) {
    startInteractiveCheck();
    http.respondOk(feed("1.4.0", 27));
    alertSurface->answer(1);
    const std::optional<QDateTime> checkedAt = updater().lastCheckedAt();
    ASSERT_TRUE(checkedAt);
    scheduler().advance(13 * 3600);

    int changes = 0;
    platform::AnyCancellable watch = updater().didChange().sink([&] { ++changes; });
    updater().performCheck(true, false, false);  // scheduled
    EXPECT_EQ(updater().state().kind, Kind::checking);
    http.respondStatus(404);
    const QString message = "The update server returned an invalid response.";
    EXPECT_EQ(updater().state(), AppUpdater::State::failed(message));
    EXPECT_EQ(updater().lastErrorMessage(), message);
    EXPECT_EQ(updater().statusDescription(), "Error: " + message);
    EXPECT_EQ(alertCount(), 1u);  // no alert for a scheduled failure
    ASSERT_TRUE(updater().availableUpdate());
    EXPECT_EQ(updater().availableUpdate()->version, "1.4.0");
    EXPECT_EQ(updater().lastCheckedAt(), checkedAt);
    EXPECT_EQ(settings().lastUpdateCheckAt(), checkedAt);
    EXPECT_GE(changes, 2);

    startInteractiveCheck();
    EXPECT_FALSE(updater().lastErrorMessage());  // cleared when a check starts
    http.respondStatus(404);
    ASSERT_EQ(alertCount(), 2u);
    EXPECT_EQ(lastAlert().messageText, "Update Failed");
    EXPECT_EQ(lastAlert().informativeText, message);
    EXPECT_EQ(lastAlert().style, platform::Alert::Style::Warning);
    EXPECT_EQ(settings().lastUpdateCheckAt(), checkedAt);
}

TEST_F(UpdaterTest, TransportAndDecodingFailuresShowTheirOwnDescriptions) {
    startInteractiveCheck();
    http.respondError(platform::HttpError::Kind::Timeout, "The request timed out.");
    EXPECT_EQ(updater().lastErrorMessage(), "The request timed out.");
    alertSurface->answer(0);
    startInteractiveCheck();
    http.respondOk(R"({"version":"2","downloadURL":"https://u.example/q.zip","sha256":"ab","packageType":"ZIP"})");
    EXPECT_EQ(updater().lastErrorMessage(), "The value for \"packageType\" in the update feed is not valid.");
    alertSurface->answer(0);
    // Refused redirects and oversized bodies read as an invalid response.
    for (auto kind : {platform::HttpError::Kind::InsecureRedirect, platform::HttpError::Kind::BodyTooLarge}) {
        startInteractiveCheck();
        http.respondError(kind, "x");
        EXPECT_EQ(updater().lastErrorMessage(), "The update server returned an invalid response.");
        alertSurface->answer(0);
    }
    EXPECT_FALSE(updater().lastCheckedAt());
}

TEST_F(UpdaterTest, FeedAddressMustBeACompleteHttpsURL) {
    for (const char* address : {"not a url", "http://updates.example/latest.json", "https://", "ftp://x.example/f", "/updates/latest.json"}) {
        defaults().set(AppSettings::updateFeedURLKey, QString::fromUtf8(address));
        startInteractiveCheck();
        scheduler().drain();
        EXPECT_EQ(updater().lastErrorMessage(), "The update feed URL is invalid.") << address;
        alertSurface->answer(0);
    }
    EXPECT_TRUE(http.sent().empty());
    // Blanks around an address are trimmed; an empty field falls back to the built-in feed.
    defaults().set(AppSettings::updateFeedURLKey, QStringLiteral("  https://mirror.example/latest.json \n"));
    startInteractiveCheck();
    http.respondStatus(500);
    alertSurface->answer(0);
    defaults().set(AppSettings::updateFeedURLKey, QStringLiteral("   "));
    startInteractiveCheck();
    ASSERT_EQ(http.sent().size(), 2u);
    EXPECT_EQ(http.sent()[0].url, QUrl("https://mirror.example/latest.json"));
    EXPECT_EQ(http.sent()[1].url, QUrl(AppSettings::builtInUpdateFeedURL));
}

TEST_F(UpdaterTest, UpToDateAndOlderFeedsClearTheUpdate) {
    startInteractiveCheck();
    http.respondOk(feed("1.4.0", 27));
    alertSurface->answer(1);
    for (const QByteArray& body : {feed("1.3.0", 20), feed("1.2.9", 99)}) {
        startInteractiveCheck();
        http.respondOk(body);
        EXPECT_EQ(updater().state().kind, Kind::upToDate);
        EXPECT_FALSE(updater().availableUpdate());
        EXPECT_EQ(lastAlert().messageText, "You're up to date");
        EXPECT_EQ(lastAlert().informativeText, "Current version 1.3.0 (20) is already the latest.");
        alertSurface->answer(0);
    }
    EXPECT_EQ(updater().statusDescription(), "You're on the latest version");
}

TEST_F(UpdaterTest, ACheckWhileAnotherRunsDoesNothing) {
    startInteractiveCheck();
    startInteractiveCheck();
    updater().performCheck(true, false, false);
    EXPECT_EQ(http.sent().size(), 1u);
    http.respondOk(feed("1.4.0", 27));
    // The alert is still open: the check has not ended, so a tick does nothing either.
    updater().performCheck(true, false, false);
    EXPECT_EQ(http.sent().size(), 1u);
    alertSurface->answer(1);
    EXPECT_FALSE(updater().isChecking());
    updater().performCheck(true, false, false);
    EXPECT_EQ(http.sent().size(), 2u);
}

TEST_F(UpdaterTest, AlertsMakeTheApplicationRegularUntilAMomentAfterTheyClose) {
    application.setActivationPolicy(platform::ActivationPolicy::Accessory);
    startInteractiveCheck();
    http.respondOk(feed("1.3.0", 20));
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::Regular);
    EXPECT_EQ(application.activationCount(), 1);
    alertSurface->answer(0);
    scheduler().advance(0.09);
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::Regular);
    scheduler().advance(0.01);
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::Accessory);

    application.setActivationPolicy(platform::ActivationPolicy::Regular);
    startInteractiveCheck();
    http.respondOk(feed("1.3.0", 20));
    alertSurface->answer(0);
    scheduler().advance(1);
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::Regular);
}

TEST_F(UpdaterTest, StatusLinesAndErrorsFollowTheLanguage) {
    EXPECT_EQ(updater().statusDescription(), "Updater is ready");
    EXPECT_EQ(updater().currentVersionSummary(), "1.3.0 (20)");
    defaults().set(L10n::languageKey, L10n::languageJapanese);
    EXPECT_EQ(updater().statusDescription(), "アップデート確認の準備完了");
    startInteractiveCheck();
    EXPECT_EQ(updater().statusDescription(), "最新バージョンを確認中…");
    http.respondStatus(404);
    EXPECT_EQ(updater().statusDescription(), "エラー: 更新サーバーから不正なレスポンスが返されました。");
    EXPECT_EQ(lastAlert().messageText, "アップデートに失敗しました");
    EXPECT_EQ(updaterErrorDescription(UpdaterError::processFailed, "exit 1"), "更新処理が失敗しました: exit 1");
    defaults().set(L10n::languageKey, L10n::languageEnglish);
    EXPECT_EQ(updaterErrorDescription(UpdaterError::processFailed, "exit 1"), "The updater process failed: exit 1");
    EXPECT_TRUE(log.lines().empty());  // the updater reports through its state, never the log
}

TEST_F(UpdaterTest, LastCheckedStartsFromTheStoredTime) {
    const QDateTime stored = now().addSecs(-100);
    settings().setLastUpdateCheckAt(stored);
    EXPECT_EQ(updater().lastCheckedAt(), stored);
    startInteractiveCheck();
    http.respondOk(feed("1.3.0", 20));
    EXPECT_EQ(updater().lastCheckedAt(), now());
    EXPECT_EQ(settings().lastUpdateCheckAt(), now());
}

TEST_F(UpdaterTest, CollaboratorsNotGivenAreLookedUpAtEachUse) {
    platform::HttpClient* previousHttp = platform::HttpClient::setShared(&http);
    platform::AlertPresenter* previousAlerts = platform::AlertPresenter::setShared(alerts.get());
    {
        AppUpdater shared(AppUpdaterEnvironment{nullptr, nullptr, nullptr, nullptr, nullptr, [this] { return installed; }});
        testsupport::ScopedMemoryDefaults later;  // swapped in after the updater was made
        later.defaults.set(AppSettings::updateFeedURLKey, QStringLiteral("https://later.example/latest.json"));
        shared.checkForUpdatesInteractively();
        scheduler().drain();
        ASSERT_EQ(http.sent().size(), 1u);
        EXPECT_EQ(http.sent()[0].url, QUrl("https://later.example/latest.json"));
        http.respondOk(feed("1.4.0", 27));
        EXPECT_EQ(alertCount(), 1u);
        EXPECT_EQ(later.defaults.stringValue(AppSettings::lastPromptedUpdateVersionKey), "1.4.0 (27)");
        alertSurface->answer(1);
    }
    platform::AlertPresenter::setShared(previousAlerts);
    platform::HttpClient::setShared(previousHttp);
}
