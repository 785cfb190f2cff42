#include "live_activity_settings_tab.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "settings_card.h"

#include <QGridLayout>
#include <QHBoxLayout>

namespace {

struct RowSpec {
    LiveActivityType type;
    QString (*title)();
    const char* icon;
};

// screenUnlock has no switch of its own.
const std::array<RowSpec, LiveActivitySettingsModel::rowCount> kRows{{
    {LiveActivityType::charging, &L10n::laCharging, "battery.100.bolt"},
    {LiveActivityType::powerDisconnect, &L10n::laPowerDisconnect, "powerplug"},
    {LiveActivityType::bluetooth, &L10n::laBluetooth, "airpodspro"},
    {LiveActivityType::volume, &L10n::laVolume, "speaker.wave.2.fill"},
    {LiveActivityType::displayBrightness, &L10n::laDisplayBrightness, "sun.max.fill"},
    {LiveActivityType::keyboardBrightness, &L10n::laKeyboardBrightness, "keyboard"},
    {LiveActivityType::screenLock, &L10n::laScreenLock, "lock.fill"},
    {LiveActivityType::screenshot, &L10n::laScreenshot, "camera.fill"},
    {LiveActivityType::airdrop, &L10n::laAirDrop, "airplayaudio"},
    {LiveActivityType::inputSource, &L10n::laInputSource, "globe"},
    {LiveActivityType::lowBattery, &L10n::laLowBattery, "battery.25percent"},
}};

QString keyOf(LiveActivityType type) { return AppSettings::laPrefix + AppSettings::liveActivityKey(type); }

QSet<QString> rowKeys() {
    QSet<QString> keys;
    for (const auto& spec : kRows) keys.insert(keyOf(spec.type));
    return keys;
}

}  // namespace

LiveActivitySettingsModel::LiveActivitySettingsModel(platform::Defaults& defaults)
    : defaults_(defaults), watch_(defaults, rowKeys()) {
    reload();
    // Subscribed before any view, so a view redraws from the reloaded state.
    reloadSubscription_ = watch_.changed().sink([this] { reload(); });
}

void LiveActivitySettingsModel::reload() {
    const AppSettings settings(&defaults_);
    for (int i = 0; i < rowCount; ++i) enabled_[i] = settings.isLiveActivityEnabled(kRows[i].type);
}

QString LiveActivitySettingsModel::cardTitle() const { return QStringLiteral("Live Activity"); }

QString LiveActivitySettingsModel::cardSubtitle() const { return L10n::liveActivityDesc(); }

std::vector<LiveActivitySettingsModel::Row> LiveActivitySettingsModel::rows() const {
    std::vector<Row> rows;
    rows.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i) {
        const auto& spec = kRows[i];
        rows.push_back({spec.type, spec.title(), QString::fromLatin1(spec.icon), keyOf(spec.type), enabled_[i]});
    }
    return rows;
}

void LiveActivitySettingsModel::setEnabled(int row, bool on) {
    if (row < 0 || row >= rowCount) return;
    // The switch's state first, so it moves at once; then the store.
    enabled_[row] = on;
    defaults_.set(keyOf(kRows[row].type), on);
}

LiveActivitySettingsTab::LiveActivitySettingsTab(const SettingsEnvironment& environment, QWidget* parent)
    : SettingsPage(parent), model_(environment.resolvedDefaults()) {
    setObjectName(QStringLiteral("LiveActivitySettingsTab"));
    card_ = new SettingsCard(model_.cardTitle(), model_.cardSubtitle(), QStringLiteral("sparkles.rectangle.stack"));
    card_->setObjectName(QStringLiteral("liveActivityCard"));

    auto* grid = new QWidget(card_);
    grid->setObjectName(QStringLiteral("liveActivityGrid"));
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setVerticalSpacing(10);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    const auto rows = model_.rows();
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        auto* cell = new QWidget(grid);
        auto* cellLayout = new QHBoxLayout(cell);
        cellLayout->setSpacing(8);
        cellLayout->setContentsMargins(0, 2, 0, 2);
        cellLayout->addWidget(new SymbolView(rows[i].icon, 12, SymbolView::Tone::secondary, 18, cell));
        auto* toggle = new SwitchToggle(rows[i].title, SwitchToggle::Size::small, cell);
        toggle->setObjectName(rows[i].key);
        connect(toggle, &SwitchToggle::clicked, this, [this, i](bool on) { model_.setEnabled(i, on); });
        cellLayout->addWidget(toggle);
        switches_.push_back(toggle);
        layout->addWidget(cell, i / 2, i % 2);
        cell->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    card_->addContent(grid);
    addCard(card_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void LiveActivitySettingsTab::refresh() {
    card_->setTexts(model_.cardTitle(), model_.cardSubtitle());
    const auto rows = model_.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        switches_[i]->setText(rows[i].title);
        switches_[i]->showValue(rows[i].isOn);
    }
}

QWidget* makeLiveActivitySettingsTab(const SettingsEnvironment& environment) {
    return new LiveActivitySettingsTab(environment);
}
