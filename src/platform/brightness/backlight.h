#pragma once

// Display and keyboard backlights as the kernel exposes them under sysfs:
// <root>/class/backlight/<device>/ and <root>/class/leds/<device>::kbd_backlight/, each with
// "brightness" and "max_brightness". The kernel sends no file notices for them, so callers poll.

#include <QString>

#include <optional>

namespace platform {

class Backlights {
public:
    static Backlights& shared();  // under /sys
    explicit Backlights(QString sysRoot = QStringLiteral("/sys"));

    struct DisplayLookup {
        enum class Result { found, noBacklightClass, noDevice };
        Result result = Result::noBacklightClass;
        QString devicePath;  // when found
    };
    // The display's backlight: firmware, then platform, then raw devices, by name within a kind.
    DisplayLookup findDisplay() const;
    // The first keyboard backlight by name; absent when there is none.
    std::optional<QString> findKeyboard() const;

    // brightness / max_brightness of a device folder; 0 when the maximum is 0 or less; absent when
    // either file cannot be read or holds no number.
    static std::optional<float> readLevel(const QString& devicePath);

    const QString& root() const { return root_; }

private:
    QString root_;
};

}  // namespace platform
