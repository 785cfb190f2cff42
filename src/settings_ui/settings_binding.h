#pragma once

#include "platform/runtime/reactive.h"
#include "platform/storage/defaults.h"

#include <QColor>
#include <QSet>
#include <QString>

#include <optional>

// One choice of a picker: the raw value it stands for, its title, and an optional colour swatch.
struct SettingsChoice {
    QString tag;
    QString title;
    std::optional<QColor> swatch;
};

// Reads of a setting as a control shows it: the stored value, or the default when the key holds
// none of the right kind. Nothing here writes.
bool boundBool(const platform::Defaults& defaults, const QString& key, bool fallback);
QString boundText(const platform::Defaults& defaults, const QString& key, const QString& fallback);
double boundDouble(const platform::Defaults& defaults, const QString& key, double fallback);

// Tells its owner when one of `keys`, or the language, was written, by anyone. A tab's view
// model uses it to redraw from the store; it never writes back.
class SettingsKeyWatch {
public:
    SettingsKeyWatch(platform::Defaults& defaults, QSet<QString> keys);
    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    QSet<QString> keys_;
    platform::PassthroughSubject<> changed_;
    platform::AnyCancellable subscription_;
};
