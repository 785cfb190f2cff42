#include "ui_settings_tab.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "notch/notch_aware_shape.h"
#include "platform/symbols/symbols.h"
#include "settings_card.h"
#include "settings_style.h"

#include <QLabel>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString kStyleFallback = QStringLiteral("splitPill");
const QString kTintFallback = QStringLiteral("black");
constexpr bool kShowAppNameFallback = true;
// Radii at least this large are not printed as integers (the cast would overflow).
constexpr double kPrintableRadiusLimit = 1e15;

QColor tintSwatch(OverlayTint tint) {
    switch (tint) {
        case OverlayTint::black: return SettingsStyle::systemBlack();
        case OverlayTint::midnight: return QColor::fromRgbF(0.05f, 0.06f, 0.08f);
        case OverlayTint::graphite: return QColor::fromRgbF(0.12f, 0.12f, 0.14f);
        case OverlayTint::smoke: return QColor::fromRgbF(0.2f, 0.2f, 0.22f);
    }
    return SettingsStyle::systemBlack();
}

}  // namespace

UISettingsModel::UISettingsModel(platform::Defaults& defaults)
    : defaults_(defaults),
      watch_(defaults, {AppSettings::styleKey, AppSettings::tintKey, AppSettings::showAppNameKey,
                        AppSettings::dynamicIslandCornerRadiusKey}) {}

QString UISettingsModel::appearanceTitle() const {
    return L10n::pick(QStringLiteral("Notification Appearance"), QStringLiteral("通知の見た目"));
}
QString UISettingsModel::appearanceSubtitle() const {
    return L10n::pick(QStringLiteral("Adjust the visual style of the notification overlay."),
                      QStringLiteral("通知オーバーレイの形と色を調整します。"));
}
QString UISettingsModel::styleHeader() const { return L10n::notificationStyle(); }
QString UISettingsModel::styleNote() const { return L10n::notificationStyleDesc(); }
QString UISettingsModel::tintHeader() const { return L10n::backgroundColor(); }
QString UISettingsModel::shapeTitle() const {
    return L10n::pick(QStringLiteral("Notch Shape"), QStringLiteral("ノッチ形状"));
}
QString UISettingsModel::shapeSubtitle() const {
    return L10n::pick(QStringLiteral("Tune the corner radius used by the notch surfaces."),
                      QStringLiteral("ノッチ系 UI で使う角丸だけを調整します。"));
}
QString UISettingsModel::cornerRadiusHeader() const {
    // The fraction is dropped, toward zero: 16.7 reads 16px.
    const auto whole = static_cast<long long>(std::trunc(cornerRadius()));
    return L10n::cornerRadius() + QStringLiteral(": ") + QString::number(whole) + QStringLiteral("px");
}
QString UISettingsModel::previewNote() const { return L10n::diPreviewDesc(); }
QString UISettingsModel::contentTitle() const { return L10n::displayContent(); }
QString UISettingsModel::contentSubtitle() const {
    return L10n::pick(QStringLiteral("If you want a quieter overlay, this is the only section you usually need."),
                      QStringLiteral("情報量を抑えたいときはここだけ触れば十分です。"));
}
QString UISettingsModel::showAppNameLabel() const { return L10n::showAppName(); }
QString UISettingsModel::appNameNote() const { return L10n::appNameDesc(showAppName()); }

std::vector<SettingsChoice> UISettingsModel::styleChoices() const {
    std::vector<SettingsChoice> choices;
    for (const auto& [style, raw] : EnumCases<OverlayStyle>::table) {
        choices.push_back({QString::fromLatin1(raw), ::title(style), std::nullopt});
    }
    return choices;
}

std::vector<SettingsChoice> UISettingsModel::tintChoices() const {
    std::vector<SettingsChoice> choices;
    for (const auto& [tint, raw] : EnumCases<OverlayTint>::table) {
        choices.push_back({QString::fromLatin1(raw), ::title(tint), tintSwatch(tint)});
    }
    return choices;
}

std::optional<int> UISettingsModel::selectedIndex(const QString& key, const QString& fallback,
                                                  const std::vector<SettingsChoice>& choices) const {
    const QString stored = boundText(defaults_, key, fallback);
    for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
        if (choices[i].tag == stored) return i;
    }
    return std::nullopt;
}

std::optional<int> UISettingsModel::selectedStyleIndex() const {
    return selectedIndex(AppSettings::styleKey, kStyleFallback, styleChoices());
}

std::optional<int> UISettingsModel::selectedTintIndex() const {
    return selectedIndex(AppSettings::tintKey, kTintFallback, tintChoices());
}

void UISettingsModel::choose(const QString& key, const std::vector<SettingsChoice>& choices, int index) {
    if (index < 0 || index >= static_cast<int>(choices.size())) return;
    const QString& tag = choices[index].tag;
    if (defaults_.stringValue(key) == tag) return;
    defaults_.set(key, tag);
}

void UISettingsModel::chooseStyle(int index) { choose(AppSettings::styleKey, styleChoices(), index); }
void UISettingsModel::chooseTint(int index) { choose(AppSettings::tintKey, tintChoices(), index); }

bool UISettingsModel::showAppName() const {
    return boundBool(defaults_, AppSettings::showAppNameKey, kShowAppNameFallback);
}

void UISettingsModel::setShowAppName(bool on) {
    if (defaults_.contains(AppSettings::showAppNameKey) && showAppName() == on) return;
    defaults_.set(AppSettings::showAppNameKey, on);
}

double UISettingsModel::cornerRadius() const {
    const double stored =
        boundDouble(defaults_, AppSettings::dynamicIslandCornerRadiusKey, AppSettings::defaultCornerRadius);
    if (std::isfinite(stored) && std::fabs(stored) < kPrintableRadiusLimit) return stored;
    // Not a number, infinite or beyond any integer: shown as the surfaces would clamp it.
    return AppSettings(&defaults_).dynamicIslandCornerRadius();
}

int UISettingsModel::sliderPosition() const {
    return static_cast<int>(std::lround(std::clamp(cornerRadius(), cornerRadiusMin, cornerRadiusMax)));
}

void UISettingsModel::setCornerRadius(double radius) {
    if (!std::isfinite(radius)) return;
    if (defaults_.doubleValue(AppSettings::dynamicIslandCornerRadiusKey) == radius) return;
    defaults_.set(AppSettings::dynamicIslandCornerRadiusKey, radius);
}

RadiusPreview::RadiusPreview(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void RadiusPreview::setRadius(double radius) {
    if (radius == radius_) return;
    radius_ = radius;
    update();
}

void RadiusPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor gray = SettingsStyle::systemGray();
    gray.setAlphaF(0.3f);
    const QRectF row(0, verticalPadding, rowWidth, rowHeight);

    painter.save();
    painter.setClipPath(NotchAwareShape{radius_, NotchInfo{}}.path(row));
    painter.setPen(Qt::NoPen);
    painter.fillRect(row, gray);
    const QRectF stretch(40, row.top(), 100, rowHeight);
    painter.fillRect(stretch, gray);
    const QRectF tiles[] = {QRectF(0, row.top(), 40, rowHeight), QRectF(140, row.top(), 40, rowHeight)};
    const QString symbols[] = {QStringLiteral("music.note"), QStringLiteral("waveform")};
    for (int i = 0; i < 2; ++i) {
        painter.setBrush(gray);
        painter.drawRoundedRect(tiles[i], 8, 8);
        const QRectF glyph(tiles[i].center().x() - 5, tiles[i].center().y() - 5, 10, 10);
        platform::Symbols::draw(painter, symbols[i], glyph, SettingsStyle::secondary(this));
    }
    painter.restore();

    // The top line stays outside the clip, over the flares.
    painter.fillRect(QRectF(NotchAwareShape::topFlare, row.top(), rowWidth - 2 * NotchAwareShape::topFlare, 1), gray);
}

UISettingsTab::UISettingsTab(const SettingsEnvironment& environment, QWidget* parent)
    : SettingsPage(parent), model_(environment.resolvedDefaults()) {
    setObjectName(QStringLiteral("UISettingsTab"));

    appearanceCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("paintbrush.pointed"));
    appearanceCard_->setObjectName(QStringLiteral("appearanceCard"));
    {
        auto* block = new QWidget(appearanceCard_);
        auto* layout = makeBlock(block);
        styleHeader_ = makeBlockHeader(QString(), block);
        stylePicker_ = new SegmentedPicker(QString(), block);
        stylePicker_->setObjectName(QStringLiteral("stylePicker"));
        stylePicker_->onChosen = [this](int index) { model_.chooseStyle(index); };
        styleNote_ = makeNote(QString(), block);
        styleNote_->setObjectName(QStringLiteral("styleNote"));
        layout->addWidget(styleHeader_);
        layout->addWidget(stylePicker_);
        layout->addWidget(styleNote_);
        appearanceCard_->addContent(block);
    }
    appearanceCard_->addContent(makeDivider(appearanceCard_));
    {
        auto* block = new QWidget(appearanceCard_);
        auto* layout = makeBlock(block);
        tintHeader_ = makeBlockHeader(QString(), block);
        tintPicker_ = new SegmentedPicker(QString(), block);
        tintPicker_->setObjectName(QStringLiteral("tintPicker"));
        tintPicker_->onChosen = [this](int index) { model_.chooseTint(index); };
        layout->addWidget(tintHeader_);
        layout->addWidget(tintPicker_);
        appearanceCard_->addContent(block);
    }
    addCard(appearanceCard_);

    shapeCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("oval"));
    shapeCard_->setObjectName(QStringLiteral("shapeCard"));
    {
        auto* block = new QWidget(shapeCard_);
        auto* layout = makeBlock(block);
        radiusHeader_ = makeBlockHeader(QString(), block);
        radiusHeader_->setObjectName(QStringLiteral("cornerRadiusHeader"));
        radiusSlider_ = new QSlider(Qt::Horizontal, block);
        radiusSlider_->setObjectName(QStringLiteral("cornerRadiusSlider"));
        radiusSlider_->setRange(static_cast<int>(UISettingsModel::cornerRadiusMin),
                                static_cast<int>(UISettingsModel::cornerRadiusMax));
        radiusSlider_->setSingleStep(1);
        radiusSlider_->setPageStep(1);
        takeWheelOnlyWhenFocused(radiusSlider_);
        radiusSlider_->setValue(model_.sliderPosition());
        // Connected after the range is set, so that the slider's own clamping is never stored.
        connect(radiusSlider_, &QSlider::valueChanged, this,
                [this](int value) { model_.setCornerRadius(static_cast<double>(value)); });
        preview_ = new RadiusPreview(block);
        preview_->setObjectName(QStringLiteral("radiusPreview"));
        previewNote_ = makeNote(QString(), block);
        layout->addWidget(radiusHeader_);
        layout->addWidget(radiusSlider_);
        layout->addWidget(preview_, 0, Qt::AlignLeft);
        layout->addWidget(previewNote_);
        shapeCard_->addContent(block);
    }
    addCard(shapeCard_);

    contentCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("text.alignleft"));
    contentCard_->setObjectName(QStringLiteral("contentCard"));
    appNameSwitch_ = new SwitchToggle(QString());
    appNameSwitch_->setObjectName(QStringLiteral("showAppNameSwitch"));
    connect(appNameSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setShowAppName(on); });
    appNameNote_ = makeNote(QString(), contentCard_);
    appNameNote_->setObjectName(QStringLiteral("appNameNote"));
    contentCard_->addContent(appNameSwitch_);
    contentCard_->addContent(appNameNote_);
    addCard(contentCard_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void UISettingsTab::refresh() {
    appearanceCard_->setTexts(model_.appearanceTitle(), model_.appearanceSubtitle());
    styleHeader_->setText(model_.styleHeader());
    stylePicker_->setLabel(model_.styleHeader());
    stylePicker_->setSegments(model_.styleChoices());
    stylePicker_->setSelectedIndex(model_.selectedStyleIndex());
    styleNote_->setText(model_.styleNote());
    tintHeader_->setText(model_.tintHeader());
    tintPicker_->setLabel(model_.tintHeader());
    tintPicker_->setSegments(model_.tintChoices());
    tintPicker_->setSelectedIndex(model_.selectedTintIndex());

    shapeCard_->setTexts(model_.shapeTitle(), model_.shapeSubtitle());
    radiusHeader_->setText(model_.cornerRadiusHeader());
    {
        // Showing a stored value (perhaps outside the range) must not store the slider's clamp.
        const QSignalBlocker blocker(radiusSlider_);
        radiusSlider_->setValue(model_.sliderPosition());
    }
    preview_->setRadius(model_.cornerRadius());
    previewNote_->setText(model_.previewNote());

    contentCard_->setTexts(model_.contentTitle(), model_.contentSubtitle());
    appNameSwitch_->setText(model_.showAppNameLabel());
    appNameSwitch_->showValue(model_.showAppName());
    appNameNote_->setText(model_.appNameNote());
}

QWidget* makeUISettingsTab(const SettingsEnvironment& environment) { return new UISettingsTab(environment); }
