#include "core/app_settings.h"
#include "music/fake_helper.h"
#include "music/media_remote_service.h"
#include "music/scripted_players.h"
#include "settings_fixture.h"
#include "settings_ui/music_settings_tab.h"
#include "settings_ui/settings_card.h"
#include "support/fake_open_panel.h"
#include "support/fake_workspace.h"
#include "support/service_fixtures.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

using platform::LogLevel;

class MusicSettingsTabTest : public SettingsTest {
protected:
    MusicSettingsTabTest() : bus(scheduler()) {
        environment.bus = &bus;
        environment.workspace = &workspace;
    }
    ~MusicSettingsTabTest() override {
        tab.reset();
        if (service) service->stop();
    }

    // The service reads its source when it is made; start it to poll.
    MediaRemoteService& makeService() {
        auto bridge = std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler(), QStringLiteral("/fake/helper"));
        service = std::make_unique<MediaRemoteService>(
            bus, scheduler(), &defaults(), std::move(bridge),
            PlayerScripts(&players, [](double) {}, [](const QUrl&) { return std::nullopt; }));
        environment.mediaService = service.get();
        return *service;
    }

    MusicSettingsTab& makeTab() {
        if (!service) makeService();
        tab = std::make_unique<MusicSettingsTab>(environment);
        tab->resize(700, 900);
        return *tab;
    }

    template <class T>
    T* child(const char* name) {
        return find<T>(tab.get(), QString::fromLatin1(name));
    }
    bool shows(const char* name) { return !child<QWidget>(name)->isHidden(); }

    EventBus bus;
    musictest::FakeHelper helper;
    musictest::ScriptedPlayers players;
    testsupport::FakeWorkspace workspace;
    testsupport::FakeOpenPanel panel;
    std::unique_ptr<MediaRemoteService> service;
    std::unique_ptr<MusicSettingsTab> tab;
};

TEST_F(MusicSettingsTabTest, FreshSettingsShowTheDefaultsAndWriteNothing) {
    makeTab();
    EXPECT_TRUE(shows("musicAppNotSelected"));
    EXPECT_EQ(child<QLabel>("musicAppNotSelected")->text(), "Not selected (uses the MPRIS players)");
    EXPECT_FALSE(shows("clearMusicAppButton"));
    EXPECT_FALSE(shows("musicAppName"));
    EXPECT_EQ(child<QPushButton>("selectMusicAppButton")->text(), "Select...");

    auto* source = child<SegmentedPicker>("sourcePicker");
    ASSERT_EQ(source->segments().size(), 2u);
    EXPECT_EQ(source->segments()[0].title, "AppleScript");
    EXPECT_EQ(source->segments()[1].tag, "controlCenter");
    EXPECT_EQ(source->selectedIndex(), 0);
    EXPECT_TRUE(shows("sourceNote"));
    EXPECT_EQ(child<QLabel>("sourceNote")->text(), "No AppleScript on Linux: reads the MPRIS players like the standard method");

    EXPECT_TRUE(child<SwitchToggle>("enableNotchFeaturesSwitch")->isChecked());
    EXPECT_TRUE(child<SwitchToggle>("miniPlayerSwitch")->isChecked());
    EXPECT_TRUE(child<SwitchToggle>("miniPlayerSwitch")->isEnabled());
    EXPECT_EQ(child<SegmentedPicker>("colorPicker")->selectedIndex(), 0);
    EXPECT_EQ(child<SegmentedPicker>("colorPicker")->segments()[1].title, "Match Album Art");
    EXPECT_FALSE(child<SwitchToggle>("mediaShortcutsSwitch")->isChecked());
    // The key the X11 monitor takes for Command.
    EXPECT_EQ(child<QLabel>("mediaShortcutsNote")->text(), "Super+← Previous / Super+→ Next Track");

    EXPECT_TRUE(shows("noMusicRow"));
    EXPECT_FALSE(shows("trackRow"));
    EXPECT_EQ(child<QLabel>("noMusicText")->text(), "No music playing");

    const auto cards = tab->findChildren<SettingsCard*>();
    ASSERT_EQ(cards.size(), 4);
    EXPECT_EQ(cards[0]->titleLabel()->text(), "Music App");
    EXPECT_EQ(cards[1]->titleLabel()->text(), "Playback Detection");
    EXPECT_EQ(cards[2]->titleLabel()->text(), "Controls & Appearance");
    EXPECT_EQ(cards[3]->subtitleLabel()->text(), "Preview what Quillvex is currently reading.");
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(MusicSettingsTabTest, AnOlderSourceTextSelectsNothingAndIsNotRewritten) {
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("mediaRemoteExperimental"));
    written.clear();
    makeTab();
    EXPECT_EQ(service->currentSource(), MusicNowPlayingSource::controlCenter);
    EXPECT_EQ(child<SegmentedPicker>("sourcePicker")->selectedIndex(), std::nullopt);
    EXPECT_FALSE(shows("sourceNote"));
    tab->show();
    scheduler().drain();
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(defaults().stringValue(AppSettings::musicNowPlayingSourceKey), "mediaRemoteExperimental");

    // Only a choice replaces it, and its note follows.
    child<SegmentedPicker>("sourcePicker")->onChosen(1);
    EXPECT_EQ(defaults().stringValue(AppSettings::musicNowPlayingSourceKey), "controlCenter");
    EXPECT_EQ(child<QLabel>("sourceNote")->text(), "Standard method (MPRIS players on the session bus)");
}

TEST_F(MusicSettingsTabTest, TheChooserStartsInTheFirstDesktopEntryFolderThatExists) {
    QTemporaryDir root;
    const QString home = root.path() + "/home", first = root.path() + "/first", second = root.path() + "/second";
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", QFile::encodeName(home));
    env.set("XDG_DATA_DIRS", QFile::encodeName(first + ":" + second));
    EXPECT_EQ(MusicSettingsModel::startDirectory(), "/usr/share/applications");  // none exists
    ASSERT_TRUE(QDir().mkpath(second + "/applications"));
    EXPECT_EQ(MusicSettingsModel::startDirectory(), second + "/applications");
    ASSERT_TRUE(QDir().mkpath(first + "/applications"));
    EXPECT_EQ(MusicSettingsModel::startDirectory(), first + "/applications");
    ASSERT_TRUE(QDir().mkpath(home + "/applications"));
    makeTab();
    child<QPushButton>("selectMusicAppButton")->click();
    ASSERT_TRUE(panel.isOpen());
    EXPECT_EQ(panel.requests.back().directory, home + "/applications");
}

TEST_F(MusicSettingsTabTest, ChoosingAnApplicationStoresItShowsItsNameAndClearRemovesIt) {
    makeTab();
    child<QPushButton>("selectMusicAppButton")->click();
    ASSERT_TRUE(panel.isOpen());
    const platform::OpenPanelRequest& request = panel.requests.back();
    EXPECT_EQ(request.title, "Select App");
    EXPECT_EQ(request.message, "Select the location of a music app (Spotify / Apple Music, etc.).");
    EXPECT_TRUE(request.canChooseFiles);
    EXPECT_FALSE(request.canChooseDirectories);
    EXPECT_FALSE(request.allowsMultipleSelection);
    EXPECT_FALSE(request.nameFilters.isEmpty());

    // The window stays usable while the panel is up.
    child<SwitchToggle>("mediaShortcutsSwitch")->click();
    EXPECT_EQ(defaults().boolValue(AppSettings::enableMusicHotkeysKey), true);
    written.clear();

    // Cancel changes nothing.
    panel.cancel();
    EXPECT_TRUE(written.isEmpty());
    EXPECT_TRUE(shows("musicAppNotSelected"));

    child<QPushButton>("selectMusicAppButton")->click();
    panel.answer(platform::OpenPanelResponse::ok, {});  // OK without an item
    EXPECT_TRUE(written.isEmpty());

    const QString spotify = QStringLiteral("/Applications/Spotify.app");
    child<QPushButton>("selectMusicAppButton")->click();
    panel.choose(spotify);
    EXPECT_EQ(written, QStringList({AppSettings::musicAppPathKey}));
    EXPECT_EQ(defaults().stringValue(AppSettings::musicAppPathKey), spotify);
    EXPECT_TRUE(log.contains(LogLevel::Info, "MusicSettings: Selected music app at /Applications/Spotify.app"));
    EXPECT_TRUE(shows("musicAppName"));
    EXPECT_EQ(child<QLabel>("musicAppName")->text(), "Spotify");
    EXPECT_TRUE(shows("musicAppIcon"));
    EXPECT_FALSE(child<QLabel>("musicAppIcon")->pixmap().isNull());
    EXPECT_NE(std::find(workspace.iconRequests.begin(), workspace.iconRequests.end(), spotify),
              workspace.iconRequests.end());
    EXPECT_TRUE(shows("clearMusicAppButton"));
    EXPECT_FALSE(shows("musicAppNotSelected"));

    written.clear();
    child<QPushButton>("clearMusicAppButton")->click();
    EXPECT_EQ(written, QStringList({AppSettings::musicAppPathKey}));
    EXPECT_FALSE(defaults().contains(AppSettings::musicAppPathKey));
    EXPECT_TRUE(shows("musicAppNotSelected"));
    EXPECT_FALSE(shows("clearMusicAppButton"));
}

TEST_F(MusicSettingsTabTest, DisplayNamesDropEveryAppSuffixAndAStoredPathShowsWhenThePageIsShown) {
    EXPECT_EQ(MusicSettingsModel::displayName("/Applications/Spotify.app"), "Spotify");
    EXPECT_EQ(MusicSettingsModel::displayName("/opt/My.app Player.app"), "My Player");
    // A desktop entry gives its Name; one that cannot be read, its file name.
    QTemporaryDir entries;
    ASSERT_TRUE(testsupport::writeFile(entries.path() + "/org.example.Tunes.desktop",
                                       "[Desktop Entry]\nType=Application\nName=Tunes\nName[ja]=x\nIcon=tunes\n"));
    EXPECT_EQ(MusicSettingsModel::displayName(entries.path() + "/org.example.Tunes.desktop"), "Tunes");
    EXPECT_EQ(MusicSettingsModel::displayName("/nonexistent/rhythmbox.desktop"), "rhythmbox.desktop");

    // A path stored before the window opened, whose application is gone.
    defaults().set(AppSettings::musicAppPathKey, QStringLiteral("/gone/Player.app"));
    makeTab();
    tab->show();
    EXPECT_EQ(child<QLabel>("musicAppName")->text(), "Player");
    EXPECT_TRUE(shows("clearMusicAppButton"));

    // Stored elsewhere while the page is away: read again when it comes back.
    tab->hide();
    defaults().set(AppSettings::musicAppPathKey, QStringLiteral("/Applications/Other.app"));
    tab->show();
    EXPECT_EQ(child<QLabel>("musicAppName")->text(), "Other");
}

TEST_F(MusicSettingsTabTest, NotchFeaturesOffDisablesTheMiniPlayerAndColourKeepingTheirValues) {
    defaults().set(AppSettings::musicNotchColorModeKey, QStringLiteral("dynamic"));
    defaults().set(AppSettings::showMiniPlayerWhenPlayingKey, false);
    written.clear();
    makeTab();
    child<SwitchToggle>("enableNotchFeaturesSwitch")->click();
    EXPECT_EQ(written, QStringList({AppSettings::enableNotchFeaturesKey}));
    EXPECT_FALSE(child<SwitchToggle>("miniPlayerSwitch")->isEnabled());
    EXPECT_FALSE(child<SegmentedPicker>("colorPicker")->isEnabled());
    EXPECT_FALSE(child<SwitchToggle>("miniPlayerSwitch")->isChecked());
    EXPECT_EQ(child<SegmentedPicker>("colorPicker")->selectedIndex(), 1);

    child<SwitchToggle>("enableNotchFeaturesSwitch")->click();
    EXPECT_TRUE(child<SwitchToggle>("miniPlayerSwitch")->isEnabled());
    EXPECT_TRUE(child<SegmentedPicker>("colorPicker")->isEnabled());
    EXPECT_EQ(defaults().stringValue(AppSettings::musicNotchColorModeKey), "dynamic");
    EXPECT_EQ(defaults().boolValue(AppSettings::showMiniPlayerWhenPlayingKey), false);
    EXPECT_EQ(written, QStringList({AppSettings::enableNotchFeaturesKey, AppSettings::enableNotchFeaturesKey}));
}

TEST_F(MusicSettingsTabTest, TheNowPlayingCardFollowsTheService) {
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
    helper.answerQueries("{\"isPlaying\":true,\"playbackRate\":1.0}");
    makeTab();
    service->start();
    scheduler().drain();
    ASSERT_TRUE(shows("trackRow"));
    EXPECT_FALSE(shows("noMusicRow"));
    // The service names an untitled track itself; a missing artist is the card's to name.
    ASSERT_TRUE(service->nowPlaying());
    EXPECT_EQ(child<QLabel>("trackTitle")->text(), service->nowPlaying()->title.value_or("Unknown"));
    EXPECT_EQ(child<QLabel>("trackArtist")->text(), service->nowPlaying()->artist.value_or("Unknown Artist"));
    EXPECT_TRUE(child<PlayingDot>("playingDot")->isPlaying());
    EXPECT_FALSE(child<ArtworkTile>("artworkTile")->hasArtwork());

    helper.answerQueries("{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\",\"playbackRate\":1.0}");
    scheduler().advance(MediaRemoteService::kControlCenterPeriod);
    scheduler().drain();
    EXPECT_EQ(child<QLabel>("trackTitle")->text(), "Song");
    EXPECT_EQ(child<QLabel>("trackArtist")->text(), "Band");

    // The notch features going off stop the service, which clears its track.
    service->stop();
    scheduler().drain();
    EXPECT_TRUE(shows("noMusicRow"));
    EXPECT_FALSE(shows("trackRow"));
}

TEST_F(MusicSettingsTabTest, JapaneseTexts) {
    useJapanese();
    makeTab();
    EXPECT_EQ(child<QLabel>("musicAppNotSelected")->text(), "未選択（MPRIS プレイヤーを使用）");
    EXPECT_EQ(child<QLabel>("sourceNote")->text(), "Linux には AppleScript がないため、既存方式と同じく MPRIS プレイヤーから取得");
    EXPECT_EQ(child<SegmentedPicker>("sourcePicker")->segments()[1].title, "コントロールセンター");
    child<SegmentedPicker>("sourcePicker")->onChosen(1);
    EXPECT_EQ(child<QLabel>("sourceNote")->text(), "既存方式（セッションバスの MPRIS プレイヤー）");
    EXPECT_EQ(child<QLabel>("noMusicText")->text(), "再生中の音楽はありません");
    EXPECT_EQ(child<QLabel>("mediaShortcutsNote")->text(), "Super+← 前のトラック / Super+→ 次のトラック");
    child<QPushButton>("selectMusicAppButton")->click();
    EXPECT_EQ(panel.requests.back().title, "アプリを選択");
}
