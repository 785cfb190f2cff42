#include "calendar_fixture.h"
#include "core/app_settings.h"
#include "settings_ui/general_settings_tab.h"
#include "settings_ui/settings_card.h"
#include "settings_ui/settings_style.h"
#include "settings_ui/settings_view.h"
#include "platform/accessibility/atspi_accessibility.h"
#include "support/atspi_desktop.h"
#include "support/golden_image.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <cstring>

using platform::CalendarAuthorizationStatus;

class GeneralSettingsTabTest : public CalendarPermissionTest {
protected:
    GeneralSettingsTabTest() { calendarStore.status = CalendarAuthorizationStatus::fullAccess; }

    std::unique_ptr<GeneralSettingsTab> makeTab(bool shown = true) {
        auto tab = std::make_unique<GeneralSettingsTab>(environment);
        tab->resize(700, 1100);
        if (shown) tab->show();
        accessibilityRow = find<PermissionRowSlot>(tab.get(), "accessibilityRow");
        fullDiskAccessRow = find<PermissionRowSlot>(tab.get(), "fullDiskAccessRow");
        calendarRow = find<PermissionRowSlot>(tab.get(), "calendarRow");
        warning = find<QLabel>(tab.get(), "unsignedWarning");
        field = find<QLineEdit>(tab.get(), "timeoutField");
        screenNote = find<QLabel>(tab.get(), "screenNote");
        return tab;
    }

    // The text typed into the field, then Return.
    QString commit(GeneralSettingsTab& tab, const QString& text) {
        tab.model().setTimeoutText(text);
        Q_EMIT field->returnPressed();
        return field->text();
    }

    void grantFullDiskAccess() {
        ASSERT_TRUE(testsupport::writeFile(home.path() + "/Library/Group Containers/group.com.apple.usernoted/db2/db"));
    }

    static QString buttonText(const PermissionRowSlot* slot) {
        return slot->row()->button() ? slot->row()->button()->text() : QString();
    }

    PermissionRowSlot* accessibilityRow = nullptr;
    PermissionRowSlot* fullDiskAccessRow = nullptr;
    PermissionRowSlot* calendarRow = nullptr;
    QLabel* warning = nullptr;
    QLineEdit* field = nullptr;
    QLabel* screenNote = nullptr;
};

TEST_F(GeneralSettingsTabTest, AccessCardWithDefaultSettings) {
    auto tab = makeTab();
    auto cards = tab->findChildren<SettingsCard*>();
    ASSERT_EQ(cards.size(), 4);
    EXPECT_EQ(cards[0]->titleLabel()->text(), "Access Status");
    EXPECT_EQ(cards[0]->subtitleLabel()->text(),
              "Review the permissions needed for notifications and calendar integration.");
    EXPECT_EQ(cards[1]->titleLabel()->text(), "Language & Detection");
    EXPECT_EQ(cards[2]->titleLabel()->text(), "Display & Behavior");
    EXPECT_EQ(cards[3]->titleLabel()->text(), "Test Notification");

    const PermissionRowContent& ax = accessibilityRow->content();
    EXPECT_EQ(ax.title, "Accessibility");
    EXPECT_EQ(ax.detail, "Required for UI-based detection.");
    EXPECT_EQ(ax.badge, "Not Allowed");
    EXPECT_EQ(accessibilityRow->toneColor(), SettingsStyle::systemOrange());
    EXPECT_EQ(buttonText(accessibilityRow), "Open Settings");

    const PermissionRowContent& fda = fullDiskAccessRow->content();
    EXPECT_EQ(fda.title, "Full Disk Access");
    EXPECT_EQ(fda.detail, "Required for database-based detection.");
    EXPECT_EQ(fda.badge, "Not Allowed");
    EXPECT_EQ(fullDiskAccessRow->toneColor(), SettingsStyle::systemOrange());
    EXPECT_EQ(buttonText(fullDiskAccessRow), "Open Settings");

    // The Linux store reports full access once it is reachable.
    const PermissionRowContent& calendar = calendarRow->content();
    EXPECT_EQ(calendar.title, "Calendar");
    EXPECT_EQ(calendar.detail, "Used for Next Up and Meeting Join.");
    EXPECT_EQ(calendar.badge, "Allowed");
    EXPECT_EQ(calendarRow->toneColor(), SettingsStyle::systemGreen());
    EXPECT_EQ(calendarRow->row()->button(), nullptr);
    EXPECT_FALSE(warning->isVisible());
    EXPECT_EQ(find<QLabel>(tab.get(), "calendarNote")->text(),
              "Calendar access is not requested during install. Linux asks nothing: the desktop's calendars are "
              "read through Evolution Data Server, from here or when you first use Glance.");
    EXPECT_EQ(find<QLabel>(tab.get(), "detectionNote")->text(),
              "Database: Detects even with banners off (records every notification sent to the notification daemon). "
              "UI: Detects from the notification daemon's popups (read through the desktop's accessibility, AT-SPI).");

    // The detection picker recolours the Full Disk Access row at once.
    find<SegmentedPicker>(tab.get(), "detectionPicker")->onChosen(1);
    EXPECT_EQ(defaults().stringValue(AppSettings::detectionSourceKey), "ui");
    EXPECT_EQ(fullDiskAccessRow->content().tone, PermissionTone::secondary);
    EXPECT_EQ(fullDiskAccessRow->toneColor(), SettingsStyle::secondary(fullDiskAccessRow));
    EXPECT_EQ(fullDiskAccessRow->content().badge, "Not Allowed");
    find<SegmentedPicker>(tab.get(), "detectionPicker")->onChosen(0);
    EXPECT_EQ(fullDiskAccessRow->content().tone, PermissionTone::orange);
    EXPECT_EQ(written, QStringList({AppSettings::detectionSourceKey, AppSettings::detectionSourceKey}));
}

TEST_F(GeneralSettingsTabTest, AccessStatesFollowEverySecondOnlyWhileThePageIsShown) {
    auto tab = makeTab();
    accessibility.setTrusted(true);
    grantFullDiskAccess();
    scheduler().advance(0.5);
    EXPECT_EQ(accessibilityRow->content().badge, "Not Allowed");
    scheduler().advance(0.5);
    EXPECT_EQ(accessibilityRow->content().badge, "Allowed");
    EXPECT_EQ(accessibilityRow->toneColor(), SettingsStyle::systemGreen());
    EXPECT_EQ(buttonText(accessibilityRow), "Open Settings");  // still offered once granted
    EXPECT_EQ(fullDiskAccessRow->content().badge, "Allowed");
    EXPECT_EQ(fullDiskAccessRow->content().tone, PermissionTone::green);

    tab->hide();
    const int reads = calendarStore.statusReads;
    accessibility.setTrusted(false);
    calendarStore.status = CalendarAuthorizationStatus::denied;
    scheduler().advance(5);
    EXPECT_EQ(calendarStore.statusReads, reads);
    EXPECT_EQ(accessibilityRow->content().badge, "Allowed");

    // Shown again: read at once, then every second.
    tab->show();
    EXPECT_EQ(accessibilityRow->content().badge, "Not Allowed");
    EXPECT_EQ(calendarRow->content().badge, "Denied");
    EXPECT_EQ(buttonText(calendarRow), "Open Settings");
    calendarStore.status = CalendarAuthorizationStatus::writeOnly;
    scheduler().advance(1);
    EXPECT_EQ(calendarRow->content().badge, "Limited");
    EXPECT_EQ(calendarRow->toneColor(), SettingsStyle::systemYellow());

    // The store's answer redraws the row when it arrives, not at the next tick.
    scheduler().advance(0.5);
    calendarStore.answer(CalendarAuthorizationStatus::fullAccess);
    EXPECT_EQ(calendarRow->content().badge, "Allowed");
}

TEST_F(GeneralSettingsTabTest, TheRowButtonsPromptAndOpenTheirPanes) {
    auto tab = makeTab();
    // Already allowed: the button asks again, and has nothing to explain.
    accessibility.setTrusted(true);
    scheduler().advance(1);
    accessibilityRow->row()->button()->click();
    EXPECT_EQ(accessibility.trustChecksWithPromptOption(), 1);
    EXPECT_TRUE(shownAlerts().empty());
    accessibility.setTrusted(false);
    scheduler().advance(1);
    accessibilityRow->row()->button()->click();
    EXPECT_EQ(accessibility.trustChecksWithPromptOption(), 2);
    fullDiskAccessRow->row()->button()->click();
    ASSERT_EQ(workspace.openedUrls.size(), 3u);
    EXPECT_EQ(workspace.openedUrls[1].toString(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    EXPECT_EQ(workspace.openedUrls[2].toString(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");

    // No Linux desktop has those panes: each button explains its row instead, and says so in the log.
    const QString store = fullDiskAccess.diagnosticSnapshot().dbPath;
    ASSERT_TRUE(store.startsWith(home.path())) << store.toStdString();
    const std::vector<std::pair<QString, QString>> english{
        {"Accessibility on Linux",
         "Quillvex has turned on the desktop's accessibility (AT-SPI), through which UI detection reads the popups of "
         "the notification daemon. This row shows Allowed within a second; if it does not, install at-spi2-core and "
         "log in again. A daemon without accessibility support (such as dunst) shows nothing to UI detection: choose "
         "Database detection there."},
        {"Full Disk Access on Linux",
         "Linux has no Full Disk Access setting. This row shows whether Quillvex can read its notification store at " +
             store + "; if it cannot, check that the file exists and that you own it and its folders."},
    };
    const std::vector<std::pair<QString, QString>> japanese{
        {"Linux でのアクセシビリティ",
         "Quillvex はデスクトップのアクセシビリティ（AT-SPI）をオンにしました。UI 検知方式はこれを通して通知デーモンの"
         "ポップアップを読み取ります。この行は1秒以内に「許可済み」になります。ならない場合は at-spi2-core を"
         "インストールしてログインし直してください。アクセシビリティに対応していない通知デーモン（dunst など）では UI "
         "検知方式は何も検出しません。その場合は「データベース」検知方式を選んでください。"},
        {"Linux でのフルディスクアクセス",
         "Linux にはフルディスクアクセスの設定はありません。この行は、Quillvex が通知ストア " + store +
             " を読めるかどうかを示します。読めない場合は、ファイルがあり、ファイルとそのフォルダがあなたの所有である"
             "ことを確認してください。"},
    };
    EXPECT_EQ(log.matching("GeneralSettingsTab: "),
              QStringList({"GeneralSettingsTab: Accessibility has no settings pane on Linux; showing where to look",
                           "GeneralSettingsTab: Full Disk Access has no settings pane on Linux; showing where to look"}));
    useJapanese();
    accessibilityRow->row()->button()->click();
    fullDiskAccessRow->row()->button()->click();
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(shownAlerts().size(), i + 1);
        const auto& [message, informative] = i < 2 ? english[i] : japanese[i - 2];
        EXPECT_EQ(shownAlerts()[i].alert.messageText, message);
        EXPECT_EQ(shownAlerts()[i].alert.informativeText, informative);
        alertSurface->answer(0);
    }
}

// The desktop's real accessibility switch on a private accessibility bus: the row follows it,
// and its button turns it on.
TEST_F(GeneralSettingsTabTest, TheAccessibilityRowReadsAllowedOnceTheDesktopsAccessibilityIsOn) {
    QString error;
    auto desktop = testsupport::AtSpiDesktop::start(&error);
    if (!desktop) QUILLVEX_SERVICE_MISSING(error.toStdString());
    ASSERT_TRUE(desktop->setEnabled(false));
    platform::AtSpiAccessibility atspi;
    PermissionManager desktopPermissions(&atspi, &workspace);
    environment.permissions = &desktopPermissions;
    auto tab = makeTab();
    // Ticks of the tab's refresh while the real bus answers in its own time.
    auto badgeBecomes = [&](const QString& badge) {
        QElapsedTimer waited;
        waited.start();
        while (accessibilityRow->content().badge != badge && waited.elapsed() < 15000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            scheduler().advance(1);
        }
        return accessibilityRow->content().badge == badge;
    };
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    scheduler().advance(1);
    EXPECT_EQ(accessibilityRow->content().badge, "Not Allowed");

    accessibilityRow->row()->button()->click();
    EXPECT_TRUE(badgeBecomes("Allowed"));
    EXPECT_EQ(accessibilityRow->toneColor(), SettingsStyle::systemGreen());
    ASSERT_EQ(shownAlerts().size(), 1u);  // it was off when pressed: the alert says what else may be needed
    alertSurface->answer(0);

    ASSERT_TRUE(desktop->setEnabled(false));
    EXPECT_TRUE(badgeBecomes("Not Allowed"));
    ASSERT_TRUE(desktop->setEnabled(true));
    EXPECT_TRUE(badgeBecomes("Allowed"));
    tab.reset();
    environment.permissions = &permissions;
}

// A light-to-dark switch with the window open: titles take the new primary colour, notes and
// details the new secondary one.
TEST_F(GeneralSettingsTabTest, TextsFollowThePaletteWhenTheDesktopTurnsDark) {
    auto tab = makeTab();
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 32));
    dark.setColor(QPalette::Base, QColor(40, 40, 44));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
    QApplication::setPalette(dark);
    QApplication::sendPostedEvents();  // the change reaches the widgets as posted events
    const QColor primary = dark.color(QPalette::WindowText);
    auto colourOf = [](const QLabel* label) { return label->palette().color(QPalette::WindowText); };
    const auto* card = tab->findChild<SettingsCard*>();
    EXPECT_EQ(colourOf(card->titleLabel()), primary);
    EXPECT_EQ(colourOf(card->subtitleLabel()), SettingsStyle::secondaryOf(primary));
    EXPECT_EQ(colourOf(calendarRow->row()->findChild<QLabel*>("rowTitle")), primary);
    EXPECT_EQ(colourOf(calendarRow->row()->findChild<QLabel*>("rowDetail")), SettingsStyle::secondaryOf(primary));
    EXPECT_EQ(colourOf(find<QLabel>(tab.get(), "detectionNote")), SettingsStyle::secondaryOf(primary));
    QApplication::setPalette(light);
    QApplication::sendPostedEvents();
    EXPECT_EQ(colourOf(card->titleLabel()), light.color(QPalette::WindowText));
}

TEST_F(GeneralSettingsTabTest, DisplayDurationTextIsParsedNormalisedAndStored) {
    auto tab = makeTab();
    EXPECT_EQ(field->text(), "2.0");
    EXPECT_EQ(field->placeholderText(), "2.0");
    struct Case {
        const char* typed;
        const char* shown;
    };
    for (const Case& c : {Case{"0", "0.1"}, Case{"75", "60.0"}, Case{"2.25", "2.3"}, Case{"0.15", "0.1"},
                          Case{" 3 ", "3.0"}, Case{"\n4.5\t", "4.5"}, Case{"1e1", "10.0"}, Case{"+7", "7.0"},
                          Case{"-5", "0.1"}, Case{"inf", "60.0"}, Case{"1e999", "60.0"}}) {
        EXPECT_EQ(commit(*tab, c.typed), c.shown) << c.typed;
    }
    // The stored value is the step arithmetic itself.
    commit(*tab, "2.25");
    const double stored = *defaults().doubleValue(AppSettings::displayTimeoutKey);
    volatile double step = 0.1;
    const double expected = step * 23;
    EXPECT_EQ(std::memcmp(&stored, &expected, sizeof stored), 0);
    EXPECT_NE(stored, 2.3);

    written.clear();
    for (const char* rejected : {"abc", "", "   ", "1,000", "nan", "NaN", "2.5s", "1.2.3", "0x10", "++1"}) {
        EXPECT_EQ(commit(*tab, rejected), "2.3") << rejected;
    }
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(defaults().doubleValue(AppSettings::displayTimeoutKey), stored);
}

TEST_F(GeneralSettingsTabTest, TheFieldIsLeftAloneWhileEditedAndCommitsWhenEditingEnds) {
    auto tab = makeTab();
    QFocusEvent focusIn(QEvent::FocusIn);
    QApplication::sendEvent(field, &focusIn);
    EXPECT_TRUE(tab->model().isTimeoutFieldEditing());
    tab->model().setTimeoutText("4");
    find<SettingsStepper>(tab.get(), "timeoutStepper")->upButton()->click();
    EXPECT_DOUBLE_EQ(*defaults().doubleValue(AppSettings::displayTimeoutKey), 2.1);
    EXPECT_EQ(tab->model().timeoutText(), "4");

    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(field, &focusOut);
    EXPECT_DOUBLE_EQ(*defaults().doubleValue(AppSettings::displayTimeoutKey), 4.0);
    EXPECT_EQ(field->text(), "4.0");

    // Not editing: the stepper's value shows at once; written elsewhere too.
    find<SettingsStepper>(tab.get(), "timeoutStepper")->downButton()->click();
    EXPECT_EQ(field->text(), "3.9");
    defaults().set(AppSettings::displayTimeoutKey, 12.0);
    EXPECT_EQ(field->text(), "12.0");
}

TEST_F(GeneralSettingsTabTest, AStoredDurationOutOfRangeShowsNormalisedButStaysStored) {
    defaults().set(AppSettings::displayTimeoutKey, 75.0);
    auto tab = makeTab(false);
    tab->show();
    EXPECT_EQ(field->text(), "60.0");
    // Into the field and out again, or Return, without typing: nothing is written.
    QFocusEvent focusIn(QEvent::FocusIn), focusOut(QEvent::FocusOut);
    QApplication::sendEvent(field, &focusIn);
    QApplication::sendEvent(field, &focusOut);
    Q_EMIT field->returnPressed();
    EXPECT_EQ(defaults().doubleValue(AppSettings::displayTimeoutKey), 75.0);
    EXPECT_EQ(field->text(), "60.0");
    // The stepper starts from the range's end.
    find<SettingsStepper>(tab.get(), "timeoutStepper")->downButton()->click();
    EXPECT_DOUBLE_EQ(*defaults().doubleValue(AppSettings::displayTimeoutKey), 59.9);
}

TEST_F(GeneralSettingsTabTest, ChoosingJapaneseStoresItAndTheTabFollowsAtOnce) {
    auto tab = makeTab();
    auto* language = find<SegmentedPicker>(tab.get(), "languagePicker");
    EXPECT_EQ(language->selectedIndex(), 0);
    EXPECT_EQ(language->segments()[0].title, "Auto (System)");
    language->onChosen(2);
    EXPECT_EQ(defaults().stringValue(L10n::languageKey), "ja");
    EXPECT_EQ(written, QStringList({L10n::languageKey}));
    EXPECT_EQ(language->selectedIndex(), 2);
    EXPECT_EQ(language->segments()[0].title, "自動（システム設定）");
    auto cards = tab->findChildren<SettingsCard*>();
    EXPECT_EQ(cards[0]->titleLabel()->text(), "アクセス状況");
    EXPECT_EQ(cards[1]->titleLabel()->text(), "言語と通知検知");
    EXPECT_EQ(cards[3]->subtitleLabel()->text(), "実際のオーバーレイ UI をその場で確認できます。");
    EXPECT_EQ(accessibilityRow->content().title, "アクセシビリティ");
    EXPECT_EQ(accessibilityRow->content().badge, "未許可");
    EXPECT_EQ(buttonText(accessibilityRow), "設定を開く");
    EXPECT_EQ(calendarRow->content().badge, "許可済み");
    EXPECT_EQ(find<QLabel>(tab.get(), "detectionNote")->text(),
              "データベース: バナーOFFでも検出（通知デーモンに送られた通知をすべて記録）。UI: 通知デーモンのポップアップ画面"
              "から検出（デスクトップのアクセシビリティ AT-SPI で読み取り）。");
    EXPECT_EQ(find<QLabel>(tab.get(), "calendarNote")->text(),
              "インストール時にはカレンダー許可は出ません。Linux では許可ダイアログは出ず、ここか、Glance を初めて使う"
              "ときに Evolution Data Server からデスクトップのカレンダーを読みます。");
    // The rows' details take the row's room: no early wrap of a text without spaces.
    QApplication::sendPostedEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    tab->widget()->layout()->activate();
    for (PermissionRowSlot* slot : {accessibilityRow, fullDiskAccessRow, calendarRow}) {
        auto* detail = slot->row()->findChild<QLabel*>("rowDetail");
        EXPECT_LT(detail->height(), 2 * QFontMetrics(detail->font()).lineSpacing()) << detail->text().toStdString();
    }
    EXPECT_EQ(screenNote->text(), "常に内蔵ディスプレイに表示（ノートPC向け）");
    EXPECT_EQ(find<QPushButton>(tab.get(), "faceTimeTestButton")->text(), "FaceTime着信");
}

TEST_F(GeneralSettingsTabTest, TheScreenNoteFollowsTheStoredValue) {
    auto tab = makeTab();
    auto* picker = find<SegmentedPicker>(tab.get(), "screenPicker");
    EXPECT_EQ(picker->selectedIndex(), 0);
    picker->onChosen(1);
    EXPECT_EQ(screenNote->text(), "Show on the display where the cursor is");
    picker->onChosen(2);
    EXPECT_EQ(defaults().stringValue(AppSettings::notificationDisplayScreenKey), "all");
    EXPECT_EQ(screenNote->text(), "Show on all connected displays");
    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("left"));
    EXPECT_EQ(picker->selectedIndex(), std::nullopt);
    EXPECT_FALSE(screenNote->isVisible());
}

// The whole page as the window shows it, the part below the fold included, in both languages: the
// screen picker opens on the main display, the step note sits beside the stepper, and the test
// buttons keep their own width.
TEST_F(GeneralSettingsTabTest, TheWholePageInBothLanguages) {
    SettingsView view(environment);
    view.resize(760, 620);
    view.show();
    auto* page = dynamic_cast<GeneralSettingsTab*>(view.tabPage(1));
    ASSERT_NE(page, nullptr);
    QWidget* content = page->widget();
    const auto check = [&](const char* language, const QString& mainDisplay, const QString& stepNote) {
        SCOPED_TRACE(language);
        QApplication::sendPostedEvents();
        content->layout()->activate();
        ASSERT_GT(content->height(), page->viewport()->height());  // the page scrolls
        const auto& screens = find<SegmentedPicker>(page, "screenPicker")->segments();
        ASSERT_EQ(screens.size(), 3u);
        EXPECT_EQ(screens[0].tag, "main");
        EXPECT_EQ(screens[0].title, mainDisplay);

        auto* stepper = find<SettingsStepper>(page, "timeoutStepper");
        QLabel* note = nullptr;
        for (QLabel* label : page->findChildren<QLabel*>()) {
            if (label->text() == stepNote) note = label;
        }
        ASSERT_NE(note, nullptr);
        const QRect stepperFrame(stepper->mapTo(content, QPoint()), stepper->size());
        const QRect noteFrame(note->mapTo(content, QPoint()), note->size());
        EXPECT_EQ(noteFrame.left(), stepperFrame.right() + 1 + 10);
        EXPECT_GE(noteFrame.width(), note->sizeHint().width());
        EXPECT_TRUE(noteFrame.top() <= stepperFrame.center().y() && stepperFrame.center().y() <= noteFrame.bottom());

        QPushButton* previous = nullptr;
        for (const char* name : {"genericTestButton", "messageTestButton", "faceTimeTestButton"}) {
            auto* button = find<QPushButton>(page, name);
            EXPECT_EQ(button->width(), button->sizeHint().width()) << name;
            if (previous) {
                EXPECT_EQ(button->x(), previous->geometry().right() + 1 + 8) << name;
            }
            previous = button;
        }
        EXPECT_GOLDEN(QStringLiteral("general-page-%1").arg(QLatin1String(language)), *content,
                      page->viewport()->palette().color(page->viewport()->backgroundRole()));
    };
    check("en", "Main Display", "0.1s step");
    L10n::setSelectedLanguage(L10n::languageJapanese);
    check("ja", "メインディスプレイ", "0.1秒刻み");
}

TEST_F(GeneralSettingsTabTest, TheTestButtonsSendTheirSignals) {
    workspace.applicationPaths["com.apple.MobileSMS"] = "/Applications/Messages.app";
    workspace.fileIcons["/Applications/Messages.app"] = testsupport::solidIcon(Qt::green);
    std::vector<NotificationSignal> sent;
    auto subscription = bus.signalSubject.sink([&](const NotificationSignal& signal) { sent.push_back(signal); });
    auto tab = makeTab();
    find<QPushButton>(tab.get(), "genericTestButton")->click();
    find<QPushButton>(tab.get(), "messageTestButton")->click();
    find<QPushButton>(tab.get(), "faceTimeTestButton")->click();
    ASSERT_EQ(sent.size(), 3u);

    EXPECT_EQ(sent[0].sourceHint, "TestApp");
    EXPECT_EQ(sent[0].message, "This is a test notification from Quillvex");
    EXPECT_FALSE(sent[0].appIconData || sent[0].bundleId || sent[0].isCallAlert);
    EXPECT_EQ(sent[0].confidence, SignalConfidence::strong);

    EXPECT_EQ(sent[1].sourceHint, "Messages");
    EXPECT_EQ(sent[1].message, "Hey, are you free tonight?");
    EXPECT_EQ(sent[1].bundleId, "com.apple.MobileSMS");
    ASSERT_TRUE(sent[1].appIconData);
    EXPECT_EQ(QImage::fromData(*sent[1].appIconData).pixelColor(10, 10), QColor(Qt::green));
    EXPECT_FALSE(sent[1].isCallAlert);

    // No FaceTime here: sent without an icon.
    EXPECT_EQ(sent[2].sourceHint, "FaceTime");
    EXPECT_EQ(sent[2].message, std::nullopt);
    EXPECT_EQ(sent[2].bundleId, "com.apple.FaceTime");
    EXPECT_EQ(sent[2].appIconData, std::nullopt);
    EXPECT_TRUE(sent[2].isCallAlert);
    EXPECT_NE(sent[0].id, sent[1].id);
}

TEST_F(GeneralSettingsTabTest, RequestingCalendarAccessFromTheRowRestartsTheServiceWhenWanted) {
    calendarStore.status = CalendarAuthorizationStatus::notDetermined;
    environment.host = &host;
    auto tab = makeTab();
    calendarStore.storeProblem = platform::CalendarStoreProblem::notInstalled;
    scheduler().advance(1);
    EXPECT_EQ(calendarRow->content().badge, "Not Installed");
    EXPECT_EQ(calendarRow->toneColor(), SettingsStyle::systemOrange());
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->text(), "Evolution Data Server is not installed, so there are no desktop calendars to read.");

    calendarRow->row()->button()->click();
    EXPECT_EQ(log.matching(CalendarPermission::prefix("GeneralSettingsTab")).value(0),
              "CalendarPermission[GeneralSettingsTab]: primary action tapped (state=notDetermined)");
    scheduler().advance(0.2);
    EXPECT_EQ(calendarRow->content().badge, "Allowed");
    EXPECT_EQ(calendarRow->row()->button(), nullptr);
    EXPECT_FALSE(warning->isVisible());
    EXPECT_TRUE(calendarService.isRunning());
    scheduler().drain();
    EXPECT_EQ(host.resumes, 1);

    // Already granted, glance off: stopped and not started again; the resume still comes.
    defaults().set(AppSettings::enableGlanceKey, false);
    tab->model().calendar().handlePrimaryAction();
    EXPECT_FALSE(calendarService.isRunning());
    EXPECT_TRUE(log.contains("CalendarPermission[GeneralSettingsTab]: already granted"));
    scheduler().drain();
    EXPECT_EQ(host.resumes, 2);
}

TEST_F(GeneralSettingsTabTest, ASignedBuildShowsNoWarning) {
    calendarStore.status = CalendarAuthorizationStatus::notDetermined;
    signing.team = QStringLiteral("TEAM123");
    auto tab = makeTab();
    EXPECT_EQ(buttonText(calendarRow), "Request Access");
    EXPECT_FALSE(warning->isVisible());
}

TEST_F(GeneralSettingsTabTest, TheSettingsWindowOpensOnTheGeneralTab) {
    auto page = std::unique_ptr<QWidget>(makeGeneralSettingsTab(environment));
    EXPECT_EQ(page->objectName(), "GeneralSettingsTab");
}
