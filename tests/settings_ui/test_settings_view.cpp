#include "settings_fixture.h"
#include "settings_ui/settings_view.h"
#include "settings_ui/ui_settings_tab.h"
#include "support/fake_calendar_store.h"
#include "support/golden_image.h"

#include <QApplication>
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
