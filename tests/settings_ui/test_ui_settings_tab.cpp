#include "core/app_settings.h"
#include "settings_fixture.h"
#include "settings_ui/ui_settings_tab.h"
#include "settings_ui/settings_card.h"

#include <QCoreApplication>
#include <QLabel>
#include <QScrollBar>
#include <QSlider>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <cmath>
#include <limits>

namespace {

QStringList titlesOf(const SegmentedPicker* picker) {
    QStringList titles;
    for (const auto& segment : picker->segments()) titles << segment.title;
    return titles;
}

}  // namespace

class UISettingsTabTest : public SettingsTest {
protected:
    std::unique_ptr<UISettingsTab> makeTab() {
        auto tab = std::make_unique<UISettingsTab>(environment);
        stylePicker = find<SegmentedPicker>(tab.get(), QStringLiteral("stylePicker"));
        tintPicker = find<SegmentedPicker>(tab.get(), QStringLiteral("tintPicker"));
        header = find<QLabel>(tab.get(), QStringLiteral("cornerRadiusHeader"));
        slider = find<QSlider>(tab.get(), QStringLiteral("cornerRadiusSlider"));
        preview = find<RadiusPreview>(tab.get(), QStringLiteral("radiusPreview"));
        appNameSwitch = find<SwitchToggle>(tab.get(), QStringLiteral("showAppNameSwitch"));
        appNameNote = find<QLabel>(tab.get(), QStringLiteral("appNameNote"));
        return tab;
    }

    void storeRadius(double radius) {
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, radius);
        written.clear();
    }

    SegmentedPicker* stylePicker = nullptr;
    SegmentedPicker* tintPicker = nullptr;
    QLabel* header = nullptr;
    QSlider* slider = nullptr;
    RadiusPreview* preview = nullptr;
    SwitchToggle* appNameSwitch = nullptr;
    QLabel* appNameNote = nullptr;
};

TEST_F(UISettingsTabTest, FreshSettingsShowTheDefaultsAndWriteNothing) {
    auto tab = makeTab();
    EXPECT_EQ(titlesOf(stylePicker), QStringList({"Single", "Notch Split", "Notch Sheet", "Liquid Glass"}));
    EXPECT_EQ(titlesOf(tintPicker), QStringList({"Black", "Midnight", "Graphite", "Smoke"}));
    EXPECT_EQ(stylePicker->selectedIndex(), 1);
    EXPECT_EQ(tintPicker->selectedIndex(), 0);
    EXPECT_EQ(stylePicker->segments()[3].tag, "liquidGlass");
    EXPECT_EQ(tintPicker->segments()[1].swatch, QColor::fromRgbF(0.05f, 0.06f, 0.08f));
    EXPECT_EQ(header->text(), "Corner Radius: 16px");
    EXPECT_EQ(slider->value(), 16);
    EXPECT_EQ(slider->minimum(), 8);
    EXPECT_EQ(slider->maximum(), 24);
    EXPECT_DOUBLE_EQ(preview->radius(), 16);
    EXPECT_TRUE(appNameSwitch->isChecked());
    EXPECT_EQ(appNameNote->text(), "3-line: App Name / Title / Detail");
    EXPECT_EQ(find<QLabel>(tab.get(), QStringLiteral("styleNote"))->text(),
              "Single: one pill / Notch Split: two pills / Notch Sheet: wide card");

    auto cards = tab->findChildren<SettingsCard*>();
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(cards[0]->titleLabel()->text(), "Notification Appearance");
    EXPECT_EQ(cards[1]->titleLabel()->text(), "Notch Shape");
    EXPECT_EQ(cards[2]->subtitleLabel()->text(),
              "If you want a quieter overlay, this is the only section you usually need.");
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(UISettingsTabTest, SwitchingTheAppNameOffWritesItAndShowsTheTwoLineNote) {
    auto tab = makeTab();
    appNameSwitch->click();
    EXPECT_EQ(written, QStringList({AppSettings::showAppNameKey}));
    EXPECT_EQ(defaults().boolValue(AppSettings::showAppNameKey), false);
    EXPECT_FALSE(appNameSwitch->isChecked());
    EXPECT_EQ(appNameNote->text(), "2-line: Title / Detail");

    appNameSwitch->click();
    EXPECT_EQ(defaults().boolValue(AppSettings::showAppNameKey), true);
    EXPECT_EQ(appNameNote->text(), "3-line: App Name / Title / Detail");
}

TEST_F(UISettingsTabTest, PickersFollowTheStoreAndNeverWriteBack) {
    auto tab = makeTab();
    defaults().set(AppSettings::styleKey, QStringLiteral("liquidGlass"));
    EXPECT_EQ(stylePicker->selectedIndex(), 3);
    EXPECT_EQ(tab->model().selectedStyleIndex(), 3);

    // A value no segment knows selects nothing and stays stored.
    defaults().set(AppSettings::styleKey, QStringLiteral("bogus"));
    defaults().set(AppSettings::tintKey, QStringLiteral("Black"));
    EXPECT_EQ(stylePicker->selectedIndex(), std::nullopt);
    EXPECT_EQ(tintPicker->selectedIndex(), std::nullopt);
    EXPECT_EQ(written, QStringList({AppSettings::styleKey, AppSettings::styleKey, AppSettings::tintKey}));
    EXPECT_EQ(defaults().stringValue(AppSettings::styleKey), "bogus");

    // Choosing a segment replaces it; choosing the selected one again writes nothing.
    written.clear();
    stylePicker->onChosen(0);
    stylePicker->onChosen(0);
    tintPicker->onChosen(3);
    EXPECT_EQ(written, QStringList({AppSettings::styleKey, AppSettings::tintKey}));
    EXPECT_EQ(defaults().stringValue(AppSettings::styleKey), "singlePill");
    EXPECT_EQ(defaults().stringValue(AppSettings::tintKey), "smoke");
    EXPECT_EQ(stylePicker->selectedIndex(), 0);
    EXPECT_EQ(tintPicker->selectedIndex(), 3);
}

TEST_F(UISettingsTabTest, DraggingTheSliderWritesWholeNumbersAndMovesThePreview) {
    auto tab = makeTab();
    QList<double> stored;
    auto subscription = defaults().didChange().sink([&](const QString&) {
        stored << *defaults().doubleValue(AppSettings::dynamicIslandCornerRadiusKey);
    });
    for (int value = 8; value <= 24; ++value) slider->setValue(value);
    QList<double> expected;
    for (int value = 8; value <= 24; ++value) expected << value;
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(header->text(), "Corner Radius: 24px");
    EXPECT_DOUBLE_EQ(preview->radius(), 24);
}

// Scrolling the page over the slider scrolls the page; only a slider the user focused takes the wheel.
TEST_F(UISettingsTabTest, TheWheelOverAnUnfocusedSliderScrollsThePageAndChangesNothing) {
    auto tab = makeTab();
    tab->resize(700, 300);
    tab->show();
    tab->activateWindow();
    QCoreApplication::processEvents();
    const auto wheelOverSlider = [&] {
        const QPointF at(slider->width() / 2.0, slider->height() / 2.0);
        QWheelEvent wheel(at, slider->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        // As the window system delivers it: only such a turn goes on to the parents.
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QCoreApplication::instance()->notify(slider, &wheel);
    };
    const int scrolled = tab->verticalScrollBar()->value();
    wheelOverSlider();
    EXPECT_EQ(slider->value(), 16);
    EXPECT_TRUE(written.isEmpty()) << written.join(u' ').toStdString();
    EXPECT_GT(tab->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(slider->focusPolicy(), Qt::StrongFocus);  // a wheel turn does not focus it either

    slider->clearFocus();
    slider->setFocus();  // moved there by the window, as a tab's switch does: not the user's focus
    ASSERT_TRUE(slider->hasFocus());
    wheelOverSlider();
    EXPECT_EQ(slider->value(), 16);

    slider->clearFocus();
    slider->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(slider->hasFocus());
    wheelOverSlider();
    EXPECT_NE(slider->value(), 16);
    EXPECT_EQ(written, QStringList({AppSettings::dynamicIslandCornerRadiusKey}));
}

TEST_F(UISettingsTabTest, StoredRadiiOutsideTheRangeAreShownButNeverWrittenBack) {
    storeRadius(16.7);
    auto tab = makeTab();
    EXPECT_EQ(header->text(), "Corner Radius: 16px");
    EXPECT_DOUBLE_EQ(preview->radius(), 16.7);

    // Outside the range: the header and preview take it unchanged, the slider stops at its end.
    storeRadius(30);
    EXPECT_EQ(header->text(), "Corner Radius: 30px");
    EXPECT_EQ(slider->value(), 24);
    EXPECT_DOUBLE_EQ(preview->radius(), 30);
    storeRadius(-3.5);
    EXPECT_EQ(header->text(), "Corner Radius: -3px");
    EXPECT_EQ(slider->value(), 8);

    // Not a finite integer-sized number: shown as the notch surfaces clamp it.
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> odd[] = {
        {std::nan(""), "Corner Radius: 16px"}, {inf, "Corner Radius: 24px"}, {-inf, "Corner Radius: 16px"},
        {1e300, "Corner Radius: 24px"}};
    for (const auto& [radius, text] : odd) {
        storeRadius(radius);
        EXPECT_EQ(header->text(), text) << radius;
        EXPECT_TRUE(std::isfinite(preview->radius()));
    }
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(defaults().doubleValue(AppSettings::dynamicIslandCornerRadiusKey), 1e300);

    // A new tab on a stored NaN writes nothing either.
    storeRadius(std::nan(""));
    auto second = makeTab();
    EXPECT_EQ(header->text(), "Corner Radius: 16px");
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(UISettingsTabTest, JapaneseTexts) {
    useJapanese();
    auto tab = makeTab();
    auto cards = tab->findChildren<SettingsCard*>();
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(cards[0]->titleLabel()->text(), "通知の見た目");
    EXPECT_EQ(cards[1]->titleLabel()->text(), "ノッチ形状");
    EXPECT_EQ(cards[2]->titleLabel()->text(), "表示内容");
    EXPECT_EQ(header->text(), "角丸: 16px");
    EXPECT_EQ(titlesOf(stylePicker), QStringList({"シングル", "ノッチ分割", "ノッチシート", "リキッドグラス"}));
    EXPECT_EQ(appNameNote->text(), "3行表示: アプリ名 / タイトル / 詳細");

    // Back to English while the tab is open: the texts follow at once.
    L10n::setSelectedLanguage(L10n::languageEnglish);
    EXPECT_EQ(cards[1]->titleLabel()->text(), "Notch Shape");
    EXPECT_EQ(titlesOf(stylePicker)[1], "Notch Split");
}
