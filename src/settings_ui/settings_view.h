#pragma once

#include "settings_binding.h"
#include "settings_environment.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class QTabWidget;

// The root of the settings window: a tab view over the eight tabs, opened on General. It keeps
// no setting of its own and forgets its selection with the window. A tab's page is built the
// first time the tab is shown; the labels follow the language when a tab is chosen or the
// language changes.
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

private:
    void ensureBuilt(int index);
    void relabel();

    SettingsEnvironment environment_;
    QTabWidget* tabs_;
    std::vector<QWidget*> pages_;
    std::unique_ptr<SettingsKeyWatch> languageWatch_;
    platform::AnyCancellable languageSubscription_;
};
