#pragma once

#include "core/l10n.h"
#include "settings_ui/settings_environment.h"
#include "support/fixtures.h"

#include <QLocale>
#include <QStringList>
#include <QWidget>

#include <memory>

// In-memory settings, an English system, and a record of every key written.
class SettingsTest : public testsupport::QuillvexTest {
protected:
    SettingsTest() {
        previousLocale_ = L10n::setSystemLocaleSource([] { return QLocale(QLocale::English); });
        environment.defaults = &defaults();
        environment.scheduler = &scheduler();
        writes_ = defaults().didChange().sink([this](const QString& key) { written << key; });
    }
    ~SettingsTest() override { L10n::setSystemLocaleSource(previousLocale_); }

    void useJapanese() {
        L10n::setSelectedLanguage(L10n::languageJapanese);
        written.clear();
    }

    template <class T>
    T* find(QWidget* root, const QString& name) {
        T* child = root->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name.toStdString();
        return child;
    }

    SettingsEnvironment environment;
    QStringList written;

private:
    std::function<QLocale()> previousLocale_;
    platform::AnyCancellable writes_;
};
