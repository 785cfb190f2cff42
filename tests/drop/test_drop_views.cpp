#include "drop/drop_zone_view.h"

#include "support/fake_screens.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace {

struct Tap {
    DropAction action;
    QList<QUrl> urls;
};

class DropViewsTest : public testsupport::QuillvexTest {
protected:
    DropViewsTest() { screens.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, 32, 660, 660)}; }

    DropZoneServices services() {
        return DropZoneServices{bus, scheduler(), defaults(), screens,
                                [this](DropAction action, const QList<QUrl>& urls) { taps.push_back({action, urls}); }};
    }
    std::unique_ptr<DropZoneView> shownZone() {
        auto zone = std::make_unique<DropZoneView>(nullptr, services());
        zone->show();
        scheduler().advance(1.0);
        return zone;
    }

    // One drag over the zone, dropped when it was accepted: whether it entered and whether it dropped.
    static std::pair<bool, bool> drag(QWidget& zone, QMimeData& mime, Qt::DropActions possible) {
        QDragEnterEvent enter(QPoint(170, 90), possible, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&zone, &enter);
        if (!enter.isAccepted()) return {false, false};
        QDropEvent drop(QPointF(170, 90), possible, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&zone, &drop);
        EXPECT_TRUE(!drop.isAccepted() || drop.dropAction() == Qt::CopyAction);
        return {true, drop.isAccepted()};
    }

    std::vector<QList<QUrl>> sentDrops() {
        return sent;
    }

    void SetUp() override {
        subscription = bus.dropEventSubject.sink([this](const QList<QUrl>& urls) { sent.push_back(urls); });
    }

    EventBus bus{scheduler()};
    testsupport::FakeScreens screens;
    std::vector<Tap> taps;
    std::vector<QList<QUrl>> sent;
    platform::AnyCancellable subscription;
};

const QColor desk(90, 90, 100);  // a light desk shows the notch outline
const QUrl a = QUrl::fromLocalFile(QStringLiteral("/home/u/a b.txt"));
const QUrl b = QUrl::fromLocalFile(QStringLiteral("/home/u/c.png"));
const QUrl c = QUrl::fromLocalFile(QStringLiteral("/home/u/d.mov"));

TEST_F(DropViewsTest, ThreeFilesGiveOneSendAndThePicker) {
    auto zone = shownZone();
    QMimeData mime;
    mime.setUrls({a, b, c});
    EXPECT_EQ(drag(*zone, mime, Qt::CopyAction | Qt::MoveAction), std::make_pair(true, true));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], QList<QUrl>({a, b, c}));
    ASSERT_TRUE(zone->showActionPicker());
    EXPECT_EQ(zone->picker()->urls(), QList<QUrl>({a, b, c}));

    // With the picker up the zone takes no further drag, and the picker stays.
    QMimeData again;
    again.setUrls({a});
    EXPECT_FALSE(drag(*zone, again, Qt::CopyAction).first);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_TRUE(zone->showActionPicker());
}

TEST_F(DropViewsTest, OnlyFilesThatMayBeCopiedAreTaken) {
    {
        auto zone = shownZone();
        QMimeData mime;
        mime.setUrls({a, QUrl(QStringLiteral("https://example.com/x.png"))});
        EXPECT_TRUE(drag(*zone, mime, Qt::CopyAction).second);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], QList<QUrl>{a});
    }
    sent.clear();
    auto zone = shownZone();
    QMimeData text;
    text.setText(QStringLiteral("plain words"));
    EXPECT_FALSE(drag(*zone, text, Qt::CopyAction).first);
    EXPECT_FALSE(zone->isTargeted());
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.com/x.png"))});
    EXPECT_FALSE(drag(*zone, web, Qt::CopyAction).first);
    // A source that offers only Move would delete its files after the drop.
    QMimeData moveOnly;
    moveOnly.setUrls({a});
    EXPECT_FALSE(drag(*zone, moveOnly, Qt::MoveAction).first);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(zone->showActionPicker());
}

TEST_F(DropViewsTest, HighlightFollowsAFileDragAndAnimates) {
    auto zone = shownZone();
    auto colour = [&](const QString& key) { return zone->targetLayout().find(key)->color; };
    EXPECT_EQ(colour(QStringLiteral("drop.icon")), whiteAt(0.7));
    EXPECT_EQ(colour(QStringLiteral("drop.border")), whiteAt(0.3));
    QMimeData mime;
    mime.setUrls({a});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone.get(), &enter);
    EXPECT_TRUE(zone->isTargeted());
    scheduler().advance(0.1);  // the border's 0.2 s ease is half way
    const QColor midway = colour(QStringLiteral("drop.border"));
    EXPECT_NE(midway, whiteAt(0.3));
    scheduler().advance(1.0);
    EXPECT_EQ(colour(QStringLiteral("drop.border")).rgb(), QColor::fromRgbF(0.0f, 0.478f, 1.0f).rgb());
    EXPECT_NEAR(zone->targetLayout().find(QStringLiteral("drop.icon"))->scale, 1.2, 1e-3);
    QDragLeaveEvent leave;
    QApplication::sendEvent(zone.get(), &leave);
    scheduler().advance(1.0);
    EXPECT_FALSE(zone->isTargeted());
    EXPECT_NEAR(zone->targetLayout().find(QStringLiteral("drop.icon"))->scale, 1.0, 1e-3);
    EXPECT_EQ(colour(QStringLiteral("drop.border")), whiteAt(0.3));
}

TEST_F(DropViewsTest, CornerRadiusIsReadEachTimeAndClamped) {
    EXPECT_EQ(DropZoneView::cornerRadius(defaults()), 16);
    for (auto [stored, expected] : {std::pair{0.0, 16.0}, {5.0, 8.0}, {16.0, 16.0}, {30.0, 24.0}, {-3.0, 16.0}}) {
        defaults().set(QStringLiteral("dynamicIslandCornerRadius"), stored);
        EXPECT_EQ(DropZoneView::cornerRadius(defaults()), expected) << stored;
    }
}

TEST_F(DropViewsTest, EntranceAndLabelInBothLanguages) {
    auto zone = std::make_unique<DropZoneView>(nullptr, services());
    EXPECT_EQ(zone->entranceScale(), 0.85);
    EXPECT_EQ(zone->entranceOpacity(), 0);
    zone->show();
    scheduler().advance(2.0);
    EXPECT_NEAR(zone->entranceScale(), 1.0, 1e-3);
    EXPECT_EQ(zone->targetLayout().find(QStringLiteral("drop.label"))->text, QStringLiteral("Drop files here"));
    EXPECT_GOLDEN(QStringLiteral("zone-en"), *zone, desk);
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("ja"));
    EXPECT_EQ(zone->targetLayout().find(QStringLiteral("drop.label"))->text, QStringLiteral("ここにファイルをドロップ"));
    EXPECT_GOLDEN(QStringLiteral("zone-ja"), *zone, desk);
    QMimeData mime;
    mime.setUrls({a});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone.get(), &enter);
    scheduler().advance(1.0);
    EXPECT_GOLDEN(QStringLiteral("zone-targeted"), *zone, desk);
}

TEST_F(DropViewsTest, PickerButtonsInOrderWithTitlesAndStaggeredReveal) {
    platform::AnimationRecorder recorder;
    DropActionPicker picker({a, b}, nullptr, [this](DropAction action, const QList<QUrl>& urls) { taps.push_back({action, urls}); },
                            scheduler());
    picker.resize(340, 180);
    for (DropAction action : allCases<DropAction>()) {
        EXPECT_EQ(picker.buttonScale(action), 0.6);
        EXPECT_EQ(picker.buttonOpacity(action), 0);
    }
    picker.show();
    // All four are in at once; only their springs start apart.
    EXPECT_EQ(picker.visibleItems().size(), 4);
    ASSERT_EQ(recorder.entries().size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(recorder.entries()[static_cast<size_t>(i)].animation.delay(), 0.06 * i, 1e-9);
        EXPECT_EQ(recorder.entries()[static_cast<size_t>(i)].animation, platform::Animation::spring(0.35, 0.7, 0).delay(0.06 * i));
    }
    scheduler().advance(0.03);
    EXPECT_GT(picker.buttonOpacity(DropAction::airdrop), 0);
    EXPECT_EQ(picker.buttonOpacity(DropAction::copyToFolder), 0);
    EXPECT_EQ(picker.buttonOpacity(DropAction::convertVideo), 0);
    scheduler().advance(2.0);
    for (DropAction action : allCases<DropAction>()) EXPECT_NEAR(picker.buttonScale(action), 1.0, 1e-3);

    // Two per row, left to right, 56 high with 10 between rows, 20 in from each side.
    EXPECT_EQ(picker.buttonFrame(DropAction::airdrop), QRectF(20, 28, 144, 56));
    EXPECT_EQ(picker.buttonFrame(DropAction::copyToFolder), QRectF(176, 28, 144, 56));
    EXPECT_EQ(picker.buttonFrame(DropAction::convertImage), QRectF(20, 94, 144, 56));
    EXPECT_EQ(picker.buttonFrame(DropAction::convertVideo), QRectF(176, 94, 144, 56));
    auto titleOf = [&](DropAction action) { return picker.buttonLayout(action).find(QStringLiteral("picker.") + rawValue(action) + QStringLiteral(".title"))->text; };
    auto symbolOf = [&](DropAction action) { return picker.buttonLayout(action).find(QStringLiteral("picker.") + rawValue(action) + QStringLiteral(".symbol"))->symbol; };
    EXPECT_EQ(QStringList({titleOf(DropAction::airdrop), titleOf(DropAction::copyToFolder), titleOf(DropAction::convertImage), titleOf(DropAction::convertVideo)}),
              QStringList({QStringLiteral("Bluetooth"), QStringLiteral("Copy to Folder"), QStringLiteral("Convert Image"), QStringLiteral("Convert Video")}));
    EXPECT_EQ(QStringList({symbolOf(DropAction::airdrop), symbolOf(DropAction::copyToFolder), symbolOf(DropAction::convertImage), symbolOf(DropAction::convertVideo)}),
              QStringList({QStringLiteral("airplayaudio"), QStringLiteral("folder.badge.plus"), QStringLiteral("photo"), QStringLiteral("film")}));
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("ja"));
    EXPECT_EQ(QStringList({titleOf(DropAction::airdrop), titleOf(DropAction::copyToFolder), titleOf(DropAction::convertImage), titleOf(DropAction::convertVideo)}),
              QStringList({QStringLiteral("Bluetooth"), QStringLiteral("フォルダにコピー"), QStringLiteral("画像変換"), QStringLiteral("動画変換")}));
}

TEST_F(DropViewsTest, TapsHandEveryFileOverAndThePickerStays) {
    auto zone = shownZone();
    QMimeData mime;
    mime.setUrls({a, b, c});
    drag(*zone, mime, Qt::CopyAction);
    ASSERT_TRUE(zone->showActionPicker());
    DropActionPicker* picker = zone->picker();
    scheduler().advance(2.0);
    for (int round = 0; round < 2; ++round) {
        QMouseEvent release(QEvent::MouseButtonRelease, picker->buttonFrame(DropAction::copyToFolder).center(),
                            picker->mapToGlobal(picker->buttonFrame(DropAction::copyToFolder).center()), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(picker, &release);
    }
    picker->tap(picker->buttonFrame(DropAction::convertVideo).center());
    picker->tap(QPointF(170, 89));  // between the rows: nothing
    ASSERT_EQ(taps.size(), 3u);
    EXPECT_EQ(taps[0].action, DropAction::copyToFolder);
    EXPECT_EQ(taps[1].action, DropAction::copyToFolder);
    EXPECT_EQ(taps[2].action, DropAction::convertVideo);
    for (const Tap& tap : taps) EXPECT_EQ(tap.urls, QList<QUrl>({a, b, c}));
    EXPECT_EQ(zone->picker(), picker);
    EXPECT_EQ(picker->visibleItems().size(), 4);
    EXPECT_GOLDEN(QStringLiteral("picker-en"), *zone, desk);
    defaults().set(QStringLiteral("appLanguage"), QStringLiteral("ja"));
    EXPECT_GOLDEN(QStringLiteral("picker-ja"), *zone, desk);
}

}  // namespace
