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
// ("ibus:anthy"); a Japanese engine that only types katakana gets ".Japanese.Katakana" after it,
// the way the system's own Japanese input modes are named, and a kana keyboard layout
// ".Japanese"; any other layout (even a Japanese one) types Latin letters. The name is the
// engine's display name.
//
// A Japanese input method's mode decides where the framework tells it: hiragana ".Japanese",
// katakana ".Japanese.Katakana" (half width ".Japanese.HalfWidthKatakana"), Latin ".Roman" (wide
// ".FullWidthRoman"), and the name carries the mode: "Anthy (Katakana)". Until it is told the
// mode is unheard, not guessed: such an engine may have started in any of them. Where nothing can
// ever tell it (`modeTellable` false: Fcitx5 with neither a panel nor a tray host), the engine
// counts as typing kana (".Japanese"), the mode such engines start in.
InputSource inputSourceFor(const InputMethodEngine& engine, const std::optional<InputMethodMode>& mode = std::nullopt,
                           bool modeTellable = true);

}  // namespace platform
