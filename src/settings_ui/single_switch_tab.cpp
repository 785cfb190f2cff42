#include "single_switch_tab.h"

#include "core/l10n.h"
#include "settings_card.h"

#include <QLabel>

namespace {

QString pick(const SingleSwitchTabModel::Texts& texts) { return L10n::pick(texts.english, texts.japanese); }

}  // namespace

SingleSwitchTabModel::SingleSwitchTabModel(platform::Defaults& defaults, Config config)
    : defaults_(defaults), config_(std::move(config)), watch_(defaults, {config_.key}) {}

QString SingleSwitchTabModel::cardTitle() const { return pick(config_.title); }
QString SingleSwitchTabModel::cardSubtitle() const { return pick(config_.subtitle); }
QString SingleSwitchTabModel::switchLabel() const { return pick(config_.switchLabel); }
QString SingleSwitchTabModel::note() const { return pick(config_.note); }

bool SingleSwitchTabModel::isOn() const { return boundBool(defaults_, config_.key, config_.fallback); }

void SingleSwitchTabModel::setOn(bool on) {
    if (defaults_.contains(config_.key) && isOn() == on) return;
    defaults_.set(config_.key, on);
}

SingleSwitchTab::SingleSwitchTab(const SettingsEnvironment& environment, SingleSwitchTabModel::Config config,
                                 QWidget* parent)
    : SettingsPage(parent), model_(environment.resolvedDefaults(), std::move(config)) {
    card_ = new SettingsCard(model_.cardTitle(), model_.cardSubtitle(), model_.icon());
    switch_ = new SwitchToggle(model_.switchLabel());
    switch_->setObjectName(model_.key() + QStringLiteral("Switch"));
    connect(switch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setOn(on); });
    note_ = makeNote(model_.note(), card_);
    note_->setObjectName(QStringLiteral("note"));
    card_->addContent(switch_);
    card_->addContent(note_);
    addCard(card_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void SingleSwitchTab::refresh() {
    card_->setTexts(model_.cardTitle(), model_.cardSubtitle());
    switch_->setText(model_.switchLabel());
    switch_->showValue(model_.isOn());
    note_->setText(model_.note());
}
