#pragma once

#include "permissions/permission_setup_model.h"

#include <QWidget>

#include <memory>

class QPushButton;
class QVBoxLayout;

// The guided permission setup: a 560-point column with a header, progress chips, a card with the
// current step and a row of buttons. Its texts are English only. The state and the buttons'
// behaviour live in the model; this widget only draws them and rebuilds when they change.
class PermissionSetupView final : public QWidget {
public:
    PermissionSetupView(bool requiresAccessibility, bool requiresFullDiskAccess,
                        PermissionSetupModel::Actions actions, PermissionSetupModel::Environment environment = {},
                        QWidget* parent = nullptr);
    ~PermissionSetupView() override;

    PermissionSetupModel& model() { return *model_; }
    const PermissionSetupModel& model() const { return *model_; }

    // The buttons now on screen in reading order ("Quit" last).
    const QList<QPushButton*>& footerButtons() const { return footerButtons_; }

    static constexpr int columnWidth = 560;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void rebuild();
    QWidget* makeHeader();
    QWidget* makeProgress();
    QWidget* makeCard();
    QWidget* makeFooter();

    std::unique_ptr<PermissionSetupModel> model_;
    platform::AnyCancellable changedSubscription_;
    QVBoxLayout* body_ = nullptr;
    QList<QPushButton*> footerButtons_;
};
