#include "settings_view.h"

#include "core/l10n.h"
#include "platform/symbols/symbols.h"
#include "settings_style.h"
#include "settings_tabs.h"

#include <QIcon>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

SettingsView::SettingsView(SettingsEnvironment environment, QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)) {
    setObjectName(QStringLiteral("SettingsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    saveError_ = new QLabel(this);
    saveError_->setObjectName(QStringLiteral("SettingsSaveError"));
    saveError_->setWordWrap(true);
    saveError_->setContentsMargins(20, 8, 20, 8);
    saveError_->setFont(SettingsStyle::systemFont(12, QFont::Medium));
    QPalette errorPalette = saveError_->palette();
    errorPalette.setColor(QPalette::WindowText, SettingsStyle::systemRed());
    saveError_->setPalette(errorPalette);
    saveError_->hide();
    layout->addWidget(saveError_);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("SettingsTabs"));
    tabs_->setMinimumSize(minimumWidth, minimumHeight);
    tabs_->setDocumentMode(true);
    layout->addWidget(tabs_);

    const QColor iconColor = SettingsStyle::primary(this);
    for (const auto& tab : settingsTabs()) {
        auto* slot = new QWidget(tabs_);
        slot->setObjectName(QStringLiteral("tabSlot%1").arg(tab.tag));
        auto* slotLayout = new QVBoxLayout(slot);
        slotLayout->setContentsMargins(0, 0, 0, 0);
        const QString symbol = QString::fromLatin1(tab.symbol);
        QIcon icon;
        icon.addPixmap(QPixmap::fromImage(platform::Symbols::image(symbol, QSize(32, 32), iconColor)));
        const int index = tabs_->addTab(slot, icon, tab.label());
        tabs_->tabBar()->setTabData(index, symbol);
        pages_.push_back(nullptr);
    }

    tabs_->setCurrentIndex(0);
    ensureBuilt(0);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        ensureBuilt(index);
        relabel();
    });
    languageWatch_ = std::make_unique<SettingsKeyWatch>(environment_.resolvedDefaults(), QSet<QString>{});
    languageSubscription_ = languageWatch_->changed().sink([this] { relabel(); });
    // Every write, stored or not, tells whether the store took it.
    writeSubscription_ = environment_.resolvedDefaults().didChange().sink([this](const QString&) { showSaveError(); });
    showSaveError();
}

QString SettingsView::saveErrorText(const platform::DefaultsSaveFailure& failure) {
    using Kind = platform::DefaultsSaveFailure::Kind;
    QString reason;
    switch (failure.kind) {
    case Kind::NotWritable: reason = L10n::settingsNotSavedNotWritable(); break;
    case Kind::UnreadableFile: reason = L10n::settingsNotSavedUnreadable(); break;
    case Kind::WriteFailed: reason = L10n::settingsNotSavedWriteFailed(); break;
    }
    // Japanese sentences follow one another without a space.
    return L10n::format(L10n::settingsNotSavedFormat(), failure.filePath) + L10n::pick(QStringLiteral(" "), QString()) +
           reason;
}

void SettingsView::showSaveError() {
    const auto failure = environment_.resolvedDefaults().lastSaveFailure();
    if (failure) saveError_->setText(saveErrorText(*failure));
    saveError_->setVisible(failure.has_value());
}

SettingsView::~SettingsView() = default;

void SettingsView::ensureBuilt(int index) {
    if (index < 0 || index >= static_cast<int>(pages_.size()) || pages_[index]) return;
    QWidget* slot = tabs_->widget(index);
    QWidget* page = settingsTabs()[index].build(environment_);
    page->setParent(slot);
    slot->layout()->addWidget(page);
    pages_[index] = page;
}

void SettingsView::relabel() {
    const auto& tabs = settingsTabs();
    for (int i = 0; i < static_cast<int>(tabs.size()); ++i) tabs_->setTabText(i, tabs[i].label());
}

int SettingsView::selectedTab() const {
    const int index = tabs_->currentIndex();
    return index < 0 ? 0 : settingsTabs()[index].tag;
}

void SettingsView::setSelectedTab(int tag) {
    const auto& tabs = settingsTabs();
    for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
        if (tabs[i].tag == tag) tabs_->setCurrentIndex(i);
    }
}

QStringList SettingsView::tabLabels() const {
    QStringList labels;
    for (int i = 0; i < tabs_->count(); ++i) labels << tabs_->tabText(i);
    return labels;
}

QStringList SettingsView::tabSymbols() const {
    QStringList symbols;
    for (int i = 0; i < tabs_->count(); ++i) symbols << tabs_->tabBar()->tabData(i).toString();
    return symbols;
}

QWidget* SettingsView::tabPage(int tag) const {
    const auto& tabs = settingsTabs();
    for (int i = 0; i < static_cast<int>(tabs.size()); ++i) {
        if (tabs[i].tag == tag) return pages_[i];
    }
    return nullptr;
}
