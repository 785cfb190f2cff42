#include "updates_settings_tab.h"

#include "core/l10n.h"
#include "platform/dates/date_format.h"
#include "settings_card.h"
#include "settings_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

UpdatesSettingsModel::UpdatesSettingsModel(AppUpdater& updater, platform::Defaults& defaults,
                                           std::function<QLocale()> locale, QTimeZone zone)
    : updater_(updater),
      defaults_(defaults),
      locale_(std::move(locale)),
      zone_(std::move(zone)),
      watch_(defaults, {AppSettings::automaticUpdateChecksKey, AppSettings::updateFeedURLKey}) {
    watchSubscription_ = watch_.changed().sink([this] { changed_.send(platform::Unit{}); });
    updaterSubscription_ = updater_.didChange().sink([this] { changed_.send(platform::Unit{}); });
}

QString UpdatesSettingsModel::softwareUpdatesTitle() const { return L10n::softwareUpdates(); }
QString UpdatesSettingsModel::softwareUpdatesSubtitle() const {
    return L10n::pick(QStringLiteral("Review update status and the feed source."),
                      QStringLiteral("更新状態とフィード先を確認します。"));
}
QString UpdatesSettingsModel::currentVersionLabel() const { return L10n::currentVersion(); }
QString UpdatesSettingsModel::lastCheckedLabel() const { return L10n::lastChecked(); }

QString UpdatesSettingsModel::lastCheckedText() const {
    const std::optional<QDateTime>& checked = updater_.lastCheckedAt();
    if (!checked) return L10n::notYetChecked();
    return platform::DateFormat::format(*checked, platform::DateFormat::Style::medium,
                                        platform::DateFormat::Style::shortStyle, locale_(), zone_);
}

QString UpdatesSettingsModel::automaticChecksLabel() const { return L10n::automaticUpdateChecks(); }
QString UpdatesSettingsModel::automaticChecksNote() const { return L10n::automaticUpdateChecksDesc(); }
QString UpdatesSettingsModel::feedCardTitle() const { return L10n::updateFeedURL(); }
QString UpdatesSettingsModel::feedCardSubtitle() const {
    return L10n::pick(QStringLiteral("You should rarely need to change this."),
                      QStringLiteral("通常は既定値のままで問題ありません。"));
}
QString UpdatesSettingsModel::feedNote() const { return L10n::updateFeedURLDesc(); }

QString UpdatesSettingsModel::feedURLText() const {
    return boundText(defaults_, AppSettings::updateFeedURLKey, AppSettings::builtInUpdateFeedURL);
}

QString UpdatesSettingsModel::statusCardTitle() const {
    return L10n::pick(QStringLiteral("Update Status"), QStringLiteral("更新状況"));
}

std::optional<QString> UpdatesSettingsModel::updateLine() const {
    const std::optional<AppUpdateInfo>& update = updater_.availableUpdate();
    if (!update) return std::nullopt;
    return L10n::format(L10n::updateAvailableFormat(), update->versionSummary());
}

QString UpdatesSettingsModel::releaseNotesHeading() const { return L10n::updateNotes(); }

std::optional<QString> UpdatesSettingsModel::releaseNotes() const {
    const std::optional<AppUpdateInfo>& update = updater_.availableUpdate();
    if (!update || !update->notes || update->notes->isEmpty()) return std::nullopt;
    return update->notes;
}

std::optional<QString> UpdatesSettingsModel::errorLine() const {
    const std::optional<QString>& message = updater_.lastErrorMessage();
    if (!message || message->isEmpty()) return std::nullopt;
    return message;
}

QString UpdatesSettingsModel::checkButtonTitle() const { return L10n::checkForUpdates(); }
QString UpdatesSettingsModel::installButtonTitle() const { return L10n::installUpdate(); }

bool UpdatesSettingsModel::automaticChecks() const {
    return boundBool(defaults_, AppSettings::automaticUpdateChecksKey, true);
}

void UpdatesSettingsModel::setAutomaticChecks(bool on) { defaults_.set(AppSettings::automaticUpdateChecksKey, on); }

void UpdatesSettingsModel::setFeedURL(const QString& text) {
    // As typed: the updater trims it and falls back to the built-in address when nothing is left.
    defaults_.set(AppSettings::updateFeedURLKey, text);
}

UpdatesSettingsTab::UpdatesSettingsTab(const SettingsEnvironment& environment, AppUpdater& updater, QWidget* parent,
                                       std::function<QLocale()> locale, QTimeZone zone)
    : SettingsPage(parent), model_(updater, environment.resolvedDefaults(), std::move(locale), std::move(zone)) {
    softwareCard_ = new SettingsCard(model_.softwareUpdatesTitle(), model_.softwareUpdatesSubtitle(),
                                     QStringLiteral("arrow.triangle.2.circlepath"));
    versionRow_ = new SettingsKeyValueRow(model_.currentVersionLabel(), model_.currentVersion());
    versionRow_->setObjectName(QStringLiteral("currentVersionRow"));
    lastCheckedRow_ = new SettingsKeyValueRow(model_.lastCheckedLabel(), model_.lastCheckedText());
    lastCheckedRow_->setObjectName(QStringLiteral("lastCheckedRow"));
    automaticSwitch_ = new SwitchToggle(model_.automaticChecksLabel());
    automaticSwitch_->setObjectName(QStringLiteral("automaticUpdateChecksSwitch"));
    connect(automaticSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setAutomaticChecks(on); });
    automaticNote_ = makeNote(model_.automaticChecksNote(), softwareCard_);
    softwareCard_->addContent(versionRow_);
    softwareCard_->addContent(lastCheckedRow_);
    softwareCard_->addContent(makeDivider(softwareCard_));
    softwareCard_->addContent(automaticSwitch_);
    softwareCard_->addContent(automaticNote_);
    addCard(softwareCard_);

    feedCard_ = new SettingsCard(model_.feedCardTitle(), model_.feedCardSubtitle(), QStringLiteral("link"));
    feedField_ = new QLineEdit();
    feedField_->setObjectName(QStringLiteral("updateFeedURLField"));
    feedField_->setFont(SettingsStyle::systemFont(12));
    feedField_->setPlaceholderText(model_.feedPlaceholder());
    feedField_->setText(model_.feedURLText());
    connect(feedField_, &QLineEdit::textEdited, this, [this](const QString& text) { model_.setFeedURL(text); });
    feedNote_ = makeNote(model_.feedNote(), feedCard_);
    feedNote_->setObjectName(QStringLiteral("feedNote"));
    feedCard_->addContent(feedField_);
    feedCard_->addContent(feedNote_);
    addCard(feedCard_);

    statusCard_ = new SettingsCard(model_.statusCardTitle(), model_.statusSubtitle(), QStringLiteral("clock.arrow.circlepath"));
    updateLine_ = makeSettingsText({}, 12, QFont::Medium, TextTone::primary, statusCard_);
    updateLine_->setObjectName(QStringLiteral("updateLine"));
    notesBlock_ = new QWidget(statusCard_);
    notesBlock_->setObjectName(QStringLiteral("releaseNotesBlock"));
    auto* notesLayout = new QVBoxLayout(notesBlock_);
    notesLayout->setContentsMargins(0, 0, 0, 0);
    notesLayout->setSpacing(6);
    notesHeading_ = makeSettingsText({}, 12, QFont::DemiBold, TextTone::primary, notesBlock_);
    notes_ = makeNote({}, notesBlock_);
    notes_->setObjectName(QStringLiteral("releaseNotes"));
    notes_->setWordWrap(true);
    notes_->setTextFormat(Qt::PlainText);
    notes_->setStyleSheet(QStringLiteral("QLabel { background: rgba(128, 128, 128, 20); border-radius: 8px; padding: 10px; }"));
    notesLayout->addWidget(notesHeading_);
    notesLayout->addWidget(notes_);
    errorLine_ = makeSettingsText({}, 11, QFont::Normal, SettingsStyle::systemRed(), statusCard_);
    errorLine_->setObjectName(QStringLiteral("errorLine"));
    errorLine_->setWordWrap(true);
    auto* buttons = new QWidget(statusCard_);
    auto* buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->setSpacing(10);
    checkButton_ = new ProminentButton(buttons);
    checkButton_->setObjectName(QStringLiteral("checkForUpdatesButton"));
    installButton_ = new QPushButton(buttons);
    installButton_->setObjectName(QStringLiteral("installUpdateButton"));
    buttonRow->addWidget(checkButton_, 0, Qt::AlignVCenter);
    buttonRow->addWidget(installButton_, 0, Qt::AlignVCenter);
    buttonRow->addStretch();
    connect(checkButton_, &QPushButton::clicked, this, [this] { model_.checkForUpdates(); });
    connect(installButton_, &QPushButton::clicked, this, [this] { model_.installUpdate(); });
    statusCard_->addContent(updateLine_);
    statusCard_->addContent(notesBlock_);
    statusCard_->addContent(errorLine_);
    statusCard_->addContent(buttons);
    addCard(statusCard_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void UpdatesSettingsTab::refresh() {
    softwareCard_->setTexts(model_.softwareUpdatesTitle(), model_.softwareUpdatesSubtitle());
    versionRow_->labelLabel()->setText(model_.currentVersionLabel());
    versionRow_->valueLabel()->setText(model_.currentVersion());
    lastCheckedRow_->labelLabel()->setText(model_.lastCheckedLabel());
    lastCheckedRow_->valueLabel()->setText(model_.lastCheckedText());
    automaticSwitch_->setText(model_.automaticChecksLabel());
    automaticSwitch_->showValue(model_.automaticChecks());
    automaticNote_->setText(model_.automaticChecksNote());

    feedCard_->setTexts(model_.feedCardTitle(), model_.feedCardSubtitle());
    // Rewriting the field while the user types would move the cursor; only outside changes show.
    if (feedField_->text() != model_.feedURLText()) feedField_->setText(model_.feedURLText());
    feedNote_->setText(model_.feedNote());

    statusCard_->setTexts(model_.statusCardTitle(), model_.statusSubtitle());
    const std::optional<QString> update = model_.updateLine();
    updateLine_->setText(update.value_or(QString()));
    updateLine_->setVisible(update.has_value());
    const std::optional<QString> notes = model_.releaseNotes();
    notesHeading_->setText(model_.releaseNotesHeading());
    notes_->setText(notes.value_or(QString()));
    notesBlock_->setVisible(notes.has_value());
    const std::optional<QString> error = model_.errorLine();
    errorLine_->setText(error.value_or(QString()));
    errorLine_->setVisible(error.has_value());
    checkButton_->setText(model_.checkButtonTitle());
    installButton_->setText(model_.installButtonTitle());
    installButton_->setEnabled(model_.isInstallEnabled());
}

QWidget* makeUpdatesSettingsTab(const SettingsEnvironment& environment) {
    auto* tab = new UpdatesSettingsTab(environment, AppUpdater::shared());
    tab->setObjectName(QStringLiteral("UpdatesSettingsTab"));
    return tab;
}
