#include "settings_binding.h"

#include "core/l10n.h"

bool boundBool(const platform::Defaults& defaults, const QString& key, bool fallback) {
    return defaults.boolValue(key).value_or(fallback);
}

QString boundText(const platform::Defaults& defaults, const QString& key, const QString& fallback) {
    return defaults.stringValue(key).value_or(fallback);
}

double boundDouble(const platform::Defaults& defaults, const QString& key, double fallback) {
    return defaults.doubleValue(key).value_or(fallback);
}

SettingsKeyWatch::SettingsKeyWatch(platform::Defaults& defaults, QSet<QString> keys) : keys_(std::move(keys)) {
    keys_.insert(L10n::languageKey);
    subscription_ = defaults.didChange().sink([this](const QString& key) {
        if (keys_.contains(key)) changed_.send();
    });
}
