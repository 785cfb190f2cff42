#include "core/app_settings.h"
#include "platform/storage/json_defaults_storage.h"
#include "settings_fixture.h"
#include "settings_ui/settings_controls.h"
#include "settings_ui/settings_view.h"
#include "settings_ui/ui_settings_tab.h"
#include "support/fake_calendar_store.h"
#include "support/golden_image.h"

#include <QApplication>
#include <QLabel>
#include <QTabWidget>

// The calendar rows show a store that could not be reached, whatever the machine's own store does.
class SettingsViewTest : public SettingsTest {
protected:
    SettingsViewTest() {
        calendarStore.status = platform::CalendarAuthorizationStatus::notDetermined;
        calendarStore.storeProblem = platform::CalendarStoreProblem::unreachable;
    }
    testsupport::FakeCalendarStore calendarStore;
};

TEST_F(SettingsViewTest, OpensOnGeneralWithTheEightTabs) {
    auto view = std::make_unique<SettingsView>(environment);
    EXPECT_EQ(view->selectedTab(), SettingsView::generalTab);
    EXPECT_EQ(view->tabLabels(), QStringList({"General", "UI", "Music", "Live Activity", "Glance", "Drop",
                                              "Switcher", "Updates"}));
    EXPECT_EQ(view->tabSymbols(),
              QStringList({"gear", "paintbrush", "music.note", "sparkles.rectangle.stack", "calendar.badge.clock",
                           "arrow.down.doc", "square.stack.3d.up", "arrow.triangle.2.circlepath"}));
    EXPECT_EQ(view->tabWidget()->minimumSize(), QSize(700, 560));
    // Pages are built when first shown.
    EXPECT_NE(view->tabPage(1), nullptr);
    EXPECT_EQ(view->tabPage(2), nullptr);

    view->setSelectedTab(4);
    EXPECT_EQ(view->selectedTab(), 4);
    EXPECT_NE(view->tabPage(4), nullptr);
    // A tab visited again keeps the page it was built with.
    QWidget* const general = view->tabPage(1);
    QWidget* const liveActivity = view->tabPage(4);
    view->setSelectedTab(1);
    view->setSelectedTab(4);
    EXPECT_EQ(view->tabPage(1), general);
    EXPECT_EQ(view->tabPage(4), liveActivity);
    EXPECT_EQ(view->tabWidget()->widget(3)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);

    // A new window (the old one is discarded on close) opens on General again.
    view = std::make_unique<SettingsView>(environment);
    EXPECT_EQ(view->selectedTab(), SettingsView::generalTab);
}

// Each page as it looks, and none writes a key by merely being shown.
TEST_F(SettingsViewTest, VisitingEveryTabWritesNoKey) {
    // Values the controls cannot show as they are.
    defaults().set(QStringLiteral("dynamicIslandCornerRadius"), 30.0);
    defaults().set(QStringLiteral("overlayStyle"), QStringLiteral("bogus"));
    written.clear();
    SettingsView view(environment);
    view.resize(760, 620);
    view.show();
    for (int tag = 1; tag <= 8; ++tag) {
        view.setSelectedTab(tag);
        EXPECT_NE(view.tabPage(tag), nullptr) << tag;
        // The Glance page's sections take their final sizes on the event loop (its picture was drawn so).
        if (tag == 5) QApplication::processEvents();
        EXPECT_GOLDEN(QStringLiteral("tab-%1-en").arg(tag), view);
    }
    view.close();
    EXPECT_TRUE(written.isEmpty()) << written.join(',').toStdString();
}

TEST_F(SettingsViewTest, JapaneseLabelsAndALanguageChangeRelabels) {
    useJapanese();
    SettingsView view(environment);
    view.resize(760, 620);
    view.show();
    EXPECT_GOLDEN(QStringLiteral("tab-1-ja"), view);
    view.setSelectedTab(2);
    EXPECT_GOLDEN(QStringLiteral("tab-2-ja"), view);
    EXPECT_EQ(view.tabLabels(), QStringList({"一般", "UI", "音楽", "Live Activity", "グランス", "ドロップ",
                                             "スイッチャー", "アップデート"}));
    L10n::setSelectedLanguage(L10n::languageEnglish);
    view.setSelectedTab(2);
    EXPECT_EQ(view.tabLabels().first(), "General");
    auto* tab = dynamic_cast<UISettingsTab*>(view.tabPage(2));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->model().cornerRadiusHeader(), "Corner Radius: 16px");
}

// A change the settings file refuses: the switch shows the stored value again and the window says
// which file and why, until a change is stored.
TEST_F(SettingsViewTest, AChangeTheFileRefusesIsUndoneAndTold) {
    testsupport::ScopedTempHome home;
    // The file's folder cannot be made while its parent is a regular file.
    const QString blocker = home.path() + "/blocker";
    ASSERT_TRUE(testsupport::writeFile(blocker, "not a folder"));
    const QString path = blocker + "/Quillvex/com.varnock.Quillvex.json";
    platform::Defaults stored(std::make_unique<platform::JsonDefaultsStorage>(path));
    environment.defaults = &stored;
    SettingsView view(environment);
    view.resize(760, 620);
    view.show();
    EXPECT_FALSE(view.saveErrorLine()->isVisible());

    view.setSelectedTab(6);
    auto* dropSwitch = find<SwitchToggle>(view.tabPage(6), QStringLiteral("enableDropSwitch"));
    ASSERT_TRUE(dropSwitch->isChecked());
    dropSwitch->click();
    EXPECT_TRUE(dropSwitch->isChecked());
    EXPECT_FALSE(stored.contains(AppSettings::enableDropKey));
    ASSERT_TRUE(view.saveErrorLine()->isVisible());
    EXPECT_EQ(view.saveErrorLine()->text(), "Your change was not saved to " + path +
                                                ", so the setting shows its stored value again. The file or its "
                                                "folder cannot be written.");

    ASSERT_TRUE(QFile::remove(blocker));
    dropSwitch->click();
    EXPECT_FALSE(dropSwitch->isChecked());
    EXPECT_EQ(stored.boolValue(AppSettings::enableDropKey), false);
    EXPECT_FALSE(view.saveErrorLine()->isVisible());
}

// The line in both languages, for each reason; a path no one can create a folder under keeps the
// pictures the same on every machine.
TEST_F(SettingsViewTest, TheSaveErrorLineInBothLanguages) {
    using Kind = platform::DefaultsSaveFailure::Kind;
    const QString path = QStringLiteral("/dev/null/Quillvex/com.varnock.Quillvex.json");
    platform::Defaults stored(std::make_unique<platform::JsonDefaultsStorage>(path));
    environment.defaults = &stored;
    stored.set(AppSettings::enableDropKey, false);
    ASSERT_TRUE(stored.lastSaveFailure());
    EXPECT_EQ(stored.lastSaveFailure()->kind, Kind::NotWritable);
    {
        SettingsView view(environment);
        view.resize(760, 620);
        view.show();
        EXPECT_GOLDEN(QStringLiteral("save-error-en"), view);
    }
    const platform::DefaultsSaveFailure unreadable{"k", "/f.json", Kind::UnreadableFile, "x"};
    const platform::DefaultsSaveFailure failed{"k", "/f.json", Kind::WriteFailed, "x"};
    EXPECT_EQ(SettingsView::saveErrorText(unreadable),
              "Your change was not saved to /f.json, so the setting shows its stored value again. The file cannot "
              "be read as settings; correct or remove it, then try again.");
    EXPECT_EQ(SettingsView::saveErrorText(failed),
              "Your change was not saved to /f.json, so the setting shows its stored value again. Writing the file "
              "failed, for example because the disk is full.");

    useJapanese();
    SettingsView view(environment);
    view.resize(760, 620);
    view.show();
    EXPECT_EQ(view.saveErrorLine()->text(),
              "変更を " + path + " に保存できなかったため、設定は保存されている値に戻りました。"
                                 "ファイルまたはそのフォルダに書き込めません。");
    EXPECT_GOLDEN(QStringLiteral("save-error-ja"), view);
    EXPECT_EQ(SettingsView::saveErrorText(unreadable),
              "変更を /f.json に保存できなかったため、設定は保存されている値に戻りました。ファイルを設定として読み込めません。"
              "修正するか削除してから、もう一度お試しください。");
    EXPECT_EQ(SettingsView::saveErrorText(failed),
              "変更を /f.json に保存できなかったため、設定は保存されている値に戻りました。ディスクの空き容量不足などにより、"
              "ファイルの書き込みに失敗しました。");
}
