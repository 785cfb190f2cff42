#pragma once

#include "platform/input_source/input_method_mode.h"
#include "platform/input_source/input_sources.h"

#include <QString>

namespace platform {

// One engine of an input method framework (IBus, Fcitx5), as the framework describes it.
struct InputMethodEngine {
    QString framework;      // "ibus", "fcitx5"
    QString name;           // the framework's identifier: "anthy", "xkb:us::eng", "keyboard-jp-kana"
    QString longName;       // its display name: "Anthy", "English (US)"
    QString language;       // "ja", "en", "zh_CN"
    QString symbol;         // the short label the framework shows for it: "あ", "ア", "" for none
    QString layoutVariant;  // a keyboard-layout engine's variant: "kana"

    bool operator==(const InputMethodEngine&) const = default;
};

// The engine as an input source. The identifier is the framework and the engine's name
// ("ibus:anthy"); a Japanese engine that types kana gets ".Japanese" after it, and one that types
// katakana ".Japanese.Katakana", the way the system's own Japanese input modes are named. A
// keyboard-layout engine types kana only for a kana layout; any other layout (even a Japanese
// one) types Latin letters. The name is the engine's display name.
//
// Where the framework tells a Japanese engine's mode, the mode decides instead: hiragana
// ".Japanese", katakana ".Japanese.Katakana" (half width ".Japanese.HalfWidthKatakana"), Latin
// ".Roman" (wide ".FullWidthRoman"), and the name carries the mode: "Anthy (Katakana)".
InputSource inputSourceFor(const InputMethodEngine& engine, const std::optional<InputMethodMode>& mode = std::nullopt);

}  // namespace platform
