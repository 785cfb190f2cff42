#pragma once

#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// The longest identifier, display name or label taken from a framework. Theirs are a few dozen
// characters: a longer one is not theirs, and is never passed on (nor logged).
constexpr qsizetype maxInputMethodText = 255;

// `value` as such a text: a string of at most maxInputMethodText; none for anything else.
std::optional<QString> inputMethodText(const QVariant& value);

// What a Japanese engine types in its current mode, read from the short label the framework
// shows for the mode ("あ", "ア", "_ｱ", "A", "Ａ").
enum class InputModeKind { hiragana, katakana, halfWidthKatakana, latin, wideLatin };

// An engine's input mode, as the framework announces it.
struct InputMethodMode {
    QString label;  // the framework's short label: "あ", "ア", "_A"
    QString name;   // its display name: "Katakana", "Direct input"; empty when the framework gives none

    bool operator==(const InputMethodMode&) const = default;
};

// The kind a label stands for; none for a label that names no Japanese mode (an engine's own
// icon text, a Chinese or Korean mode).
std::optional<InputModeKind> inputModeKind(const QString& label);

// The display name of a kind, for frameworks that give the mode only as a label.
QString inputModeName(InputModeKind kind);

// The current input method as a framework shows it to its panel.
struct InputMethodStatus {
    QString name;  // the input method's display name: "Anthy", "Keyboard - English (US)"
    std::optional<InputMethodMode> mode;  // none for an input method without modes

    bool operator==(const InputMethodStatus&) const = default;
};

// Fcitx5's kimpanel broadcast: "/Fcitx/im:<name>:<icon>:<mode>:menu,label=<label>".
std::optional<InputMethodStatus> kimpanelInputMethod(const QString& property);

// Fcitx5's tray menu (com.canonical.dbusmenu's GetLayout, as plain values: id, properties,
// children): the input method checked among the top items, and the first submenu of its actions
// labelled "<mode label> - <mode name>" whose label names a Japanese mode ("ア - Katakana").
std::optional<InputMethodStatus> trayMenuInputMethod(const QVariant& layout);

// The mode in an IBusProperty as D-Bus carries it ("IBusProperty", attachments, key, icon, label,
// tooltip, sensitive, visible, type, state, sub-properties, symbol): only the engine's
// "InputMode" property is one; none for anything else.
std::optional<InputMethodMode> ibusInputMode(const QVariant& property);

}  // namespace platform
