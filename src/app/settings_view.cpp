#include "app/settings_view.h"

#include <QWidget>

QWidget* makeSettingsView() {
    auto* view = new QWidget();
    view->setObjectName(QStringLiteral("SettingsView"));
    return view;
}
