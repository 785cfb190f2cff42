#include "settings_fixture.h"
#include "settings_ui/settings_card.h"
#include "settings_ui/settings_style.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>

using SettingsCardTest = SettingsTest;

TEST_F(SettingsCardTest, AbsentOrEmptySubtitleShowsTheTitleAlone) {
    SettingsCard absent(QStringLiteral("Title"), std::nullopt, QStringLiteral("gear"));
    SettingsCard empty(QStringLiteral("Title"), QString(), QStringLiteral("gear"));
    SettingsCard present(QStringLiteral("Title"), QStringLiteral("Sub"), QStringLiteral("gear"));
    EXPECT_EQ(absent.subtitleLabel(), nullptr);
    EXPECT_EQ(empty.subtitleLabel(), nullptr);
    ASSERT_NE(present.subtitleLabel(), nullptr);
    EXPECT_EQ(present.subtitleLabel()->text(), "Sub");
    EXPECT_LT(absent.sizeHint().height(), present.sizeHint().height());
    EXPECT_EQ(absent.sizeHint().height(), empty.sizeHint().height());

    // A language change to an empty subtitle drops the line again.
    present.setTexts(QStringLiteral("Other"), QString());
    EXPECT_EQ(present.subtitleLabel(), nullptr);
    EXPECT_EQ(present.findChildren<QLabel*>(QStringLiteral("cardSubtitle")).size(), 0);
}

TEST_F(SettingsCardTest, MeasurementsLineTheContentUpWithTheTitle) {
    SettingsCard card(QStringLiteral("Title <b>raw</b>"), QStringLiteral("Subtitle"), QStringLiteral("gear"));
    auto* content = new QLabel(QStringLiteral("content"));
    card.addContent(content);
    card.resize(400, card.sizeHint().height());
    card.layout()->activate();

    EXPECT_EQ(card.titleLabel()->text(), "Title <b>raw</b>");
    EXPECT_EQ(card.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(card.titleLabel()->font().pixelSize(), 14);
    EXPECT_EQ(card.titleLabel()->font().weight(), QFont::DemiBold);
    EXPECT_EQ(card.subtitleLabel()->font().pixelSize(), 11);

    // 16 of padding, a 20-point symbol frame and 10 of spacing: title and content both start at 46.
    const QWidget* symbol = card.findChild<QWidget*>(QStringLiteral("cardSymbol"));
    ASSERT_NE(symbol, nullptr);
    EXPECT_EQ(symbol->geometry().left(), 16);
    EXPECT_EQ(symbol->width(), 20);
    EXPECT_EQ(card.titleLabel()->geometry().left(), 46);
    EXPECT_EQ(content->geometry().left(), 46);
    EXPECT_EQ(card.titleLabel()->geometry().top(), 16);
    EXPECT_EQ(card.subtitleLabel()->geometry().top(), card.titleLabel()->geometry().bottom() + 1 + 4);
    EXPECT_GE(content->geometry().top(), card.subtitleLabel()->geometry().bottom() + 1 + 12);
    EXPECT_EQ(content->geometry().bottom() + 1 + 16, card.height());
}

TEST_F(SettingsCardTest, StatusRowShowsAButtonOnlyWithTitleAndAction) {
    int pressed = 0;
    const auto action = [&] { ++pressed; };
    PermissionStatusRow both(QStringLiteral("Full Disk Access"), QStringLiteral("Reads the database"),
                             QStringLiteral("Denied"), SettingsStyle::systemRed(), QStringLiteral("Open"), action);
    PermissionStatusRow titleOnly(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Allowed"),
                                  SettingsStyle::systemGreen(), QStringLiteral("Open"), nullptr);
    PermissionStatusRow actionOnly(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Allowed"),
                                   SettingsStyle::systemGreen(), std::nullopt, action);
    EXPECT_EQ(titleOnly.button(), nullptr);
    EXPECT_EQ(actionOnly.button(), nullptr);
    EXPECT_EQ(titleOnly.findChildren<QPushButton*>().size(), 0);
    ASSERT_NE(both.button(), nullptr);
    EXPECT_EQ(both.button()->text(), "Open");
    both.button()->click();
    EXPECT_EQ(pressed, 1);

    // The badge is its text padded 10 left and right and 4 above and below, and ends a row
    // without a button.
    const QFontMetrics metrics(SettingsStyle::systemFont(11, QFont::DemiBold));
    EXPECT_EQ(both.badge()->sizeHint(),
              QSize(metrics.horizontalAdvance(QStringLiteral("Denied")) + 20, metrics.height() + 8));
    titleOnly.resize(500, titleOnly.sizeHint().height());
    titleOnly.layout()->activate();
    EXPECT_EQ(titleOnly.badge()->geometry().right() + 1, 500);
}

TEST_F(SettingsCardTest, BadgeTakesTheRowTone) {
    PermissionStatusRow row(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Denied"),
                            SettingsStyle::systemRed());
    row.resize(300, row.sizeHint().height());
    row.layout()->activate();
    const QImage image = row.badge()->grab().toImage();
    // Inside the capsule, left of the text: the tone at 12 % over the window background.
    const QColor fill = image.pixelColor(5, image.height() / 2);
    const QColor window = row.palette().color(QPalette::Window);
    const auto blend = [](int tone, int under) { return static_cast<int>(tone * 0.12 + under * 0.88); };
    EXPECT_NEAR(fill.red(), blend(255, window.red()), 3);
    EXPECT_NEAR(fill.green(), blend(59, window.green()), 3);
}

TEST_F(SettingsCardTest, KeyValueRowKeepsLabelLeadingAndValueTrailing) {
    SettingsKeyValueRow row(QStringLiteral("Version"), QStringLiteral("1.0.0"));
    row.resize(400, row.sizeHint().height());
    row.layout()->activate();
    EXPECT_EQ(row.labelLabel()->geometry().left(), 0);
    EXPECT_EQ(row.valueLabel()->geometry().right() + 1, 400);
    EXPECT_EQ(row.labelLabel()->geometry().top(), row.valueLabel()->geometry().top());
    EXPECT_EQ(row.labelLabel()->font().pixelSize(), 12);
    EXPECT_EQ(row.valueLabel()->font().weight(), QFont::Medium);

    // Squeezed, the two stay at least 12 apart.
    row.resize(row.minimumSizeHint().width(), row.height());
    row.layout()->activate();
    EXPECT_GE(row.valueLabel()->geometry().left() - row.labelLabel()->geometry().right() - 1, 12);
}
