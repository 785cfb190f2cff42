#include "calendar_access_row.h"

#include "calendar_privacy.h"
#include "core/log.h"
#include "core/runtime_diagnostics.h"
#include "settings_card.h"
#include "settings_style.h"

#include <QVBoxLayout>

QColor permissionToneColor(PermissionTone tone, const QWidget* widget) {
    switch (tone) {
        case PermissionTone::green: return SettingsStyle::systemGreen();
        case PermissionTone::orange: return SettingsStyle::systemOrange();
        case PermissionTone::yellow: return SettingsStyle::systemYellow();
        case PermissionTone::red: return SettingsStyle::systemRed();
        case PermissionTone::secondary: return SettingsStyle::secondary(widget);
    }
    return SettingsStyle::secondary(widget);
}

CalendarAccessController::CalendarAccessController(SettingsEnvironment environment, QString context,
                                                   std::function<void()> onGranted)
    : environment_(environment),
      context_(std::move(context)),
      onGranted_(std::move(onGranted)),
      state_(CalendarPermission::current()),
      problem_(platform::CalendarStore::shared().problem()),
      storeAnswers_(platform::CalendarStore::shared().observeStatus([this] { refresh(); })) {}

void CalendarAccessController::refresh() {
    const CalendarPermissionState now = CalendarPermission::current();
    const auto problem = platform::CalendarStore::shared().problem();
    if (now == state_ && problem == problem_) return;
    state_ = now;
    problem_ = problem;
    changed_.send();
}

void CalendarAccessController::handlePrimaryAction() {
    const QString prefix = CalendarPermission::prefix(context_);
    Log::shared().info(prefix + QStringLiteral("primary action tapped (state=") + CalendarPermission::caseName(state_) +
                       QStringLiteral(")"));
    switch (state_) {
        case CalendarPermissionState::writeOnly:
        case CalendarPermissionState::denied:
        case CalendarPermissionState::restricted:
            openCalendarPrivacySettings(environment_, context_);
            return;
        case CalendarPermissionState::notDetermined:
            requestCalendarAccess(environment_, context_, [handler = onGranted_] {
                if (handler) handler();
            });
            return;
        case CalendarPermissionState::fullAccess:
            Log::shared().info(prefix + QStringLiteral("already granted"));
            if (onGranted_) onGranted_();
            return;
    }
}

bool CalendarAccessController::showsUnsignedWarning() const {
    return state_ == CalendarPermissionState::notDetermined && !AppRuntimeDiagnostics::teamIdentifier();
}

PermissionRowContent CalendarAccessController::row(const QString& title, const QString& detail) {
    PermissionRowContent content;
    content.title = title;
    content.detail = detail;
    // The store cannot be asked on Linux, only reached: the row says what keeps it out of reach.
    const bool unreadable = state_ == CalendarPermissionState::notDetermined && problem_;
    content.badge = unreadable ? CalendarPermission::problemBadge(*problem_) : CalendarPermission::badgeLabel(state_);
    content.tone = unreadable ? CalendarPermission::problemTone(*problem_) : CalendarPermission::tone(state_);
    content.buttonTitle = CalendarPermission::buttonTitle(state_);
    if (content.buttonTitle) content.action = [this] { handlePrimaryAction(); };
    return content;
}

PermissionRowSlot::PermissionRowSlot(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
}

void PermissionRowSlot::show(PermissionRowContent content) {
    if (row_ && content_.sameLook(content)) {
        content_.action = std::move(content.action);
        return;
    }
    content_ = std::move(content);
    if (row_) {
        // Not deleted at once: the old row's button may be the one whose click got us here.
        row_->hide();
        row_->setParent(nullptr);
        row_->deleteLater();
    }
    // The row calls through the slot, so an action replaced later still reaches the current one.
    std::function<void()> action;
    if (content_.action) action = [this] {
        if (content_.action) content_.action();
    };
    row_ = new PermissionStatusRow(content_.title, content_.detail, content_.badge,
                                   permissionToneColor(content_.tone, this), content_.buttonTitle, std::move(action),
                                   this);
    layout_->addWidget(row_);
}
