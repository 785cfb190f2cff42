#pragma once

#include "settings_binding.h"
#include "settings_environment.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QTabWidget;

// The root of the settings window: a tab view over the eight tabs, opened on General. It keeps
// no setting of its own and forgets its selection with the window. A tab's page is built the
// first time the tab is shown; the labels follow the language when a tab is chosen or the
// language changes. A change the settings file did not take is told in a line above the tabs
// until a later change is stored.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int generalTab = 1;
    static constexpr int minimumWidth = 700;
    static constexpr int minimumHeight = 560;

    explicit SettingsView(SettingsEnvironment environment = {}, QWidget* parent = nullptr);
    ~SettingsView() override;

    int selectedTab() const;
    void setSelectedTab(int tag);
    QStringList tabLabels() const;
    QStringList tabSymbols() const;
    // The tab's page once it has been built, else nullptr.
    QWidget* tabPage(int tag) const;
    QTabWidget* tabWidget() const { return tabs_; }
    // The line that tells of a change not saved; hidden while the last write was stored.
    QLabel* saveErrorLine() const { return saveError_; }

    // What that line says of `failure`, in the current language.
    static QString saveErrorText(const platform::DefaultsSaveFailure& failure);

private:
    void ensureBuilt(int index);
    void relabel();
    void showSaveError();

    SettingsEnvironment environment_;
    QLabel* saveError_;
    QTabWidget* tabs_;
    std::vector<QWidget*> pages_;
    std::unique_ptr<SettingsKeyWatch> languageWatch_;
    platform::AnyCancellable languageSubscription_;
    platform::AnyCancellable writeSubscription_;
};
