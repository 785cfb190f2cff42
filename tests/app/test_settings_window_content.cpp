#include "app_delegate_fixture.h"
#include "core/l10n.h"
#include "settings_ui/settings_view.h"
#include "settings_ui/ui_settings_tab.h"

#include <QStringList>

using apptest::AppDelegateTest;

// The delegate's settings window hosts the tabs over the delegate's own settings store.
TEST_F(AppDelegateTest, SettingsWindowHostsTheTabsOnGeneralAndOpeningWritesNothing) {
    ASSERT_TRUE(grantFullDiskAccess());
    defaults().set(L10n::languageKey, QStringLiteral("en"));
    launch();
    QStringList written;
    auto subscription = defaults().didChange().sink([&](const QString& key) { written << key; });

    delegate->openSettings();
    auto* view = dynamic_cast<SettingsView*>(delegate->settingsWindow()->contentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->selectedTab(), SettingsView::generalTab);
    for (int tag = 1; tag <= 8; ++tag) view->setSelectedTab(tag);
    EXPECT_TRUE(written.isEmpty()) << written.join(',').toStdString();

    // The UI tab writes into the delegate's store.
    view->setSelectedTab(2);
    auto* tab = dynamic_cast<UISettingsTab*>(view->tabPage(2));
    ASSERT_NE(tab, nullptr);
    tab->model().chooseStyle(3);
    EXPECT_EQ(defaults().stringValue(QStringLiteral("overlayStyle")), "liquidGlass");

    // Closed and opened again, the window is new and on General.
    delegate->settingsWindow()->close();
    delegate->openSettings();
    view = dynamic_cast<SettingsView*>(delegate->settingsWindow()->contentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->selectedTab(), SettingsView::generalTab);
}
