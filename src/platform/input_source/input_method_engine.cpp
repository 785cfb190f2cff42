#include "platform/input_source/input_method_engine.h"

namespace platform {

namespace {

bool isKatakana(const QString& text) {
    if (text.isEmpty()) return false;
    for (const QChar c : text)
        if (c.unicode() < 0x30A0 || c.unicode() > 0x30FF) return false;
    return true;
}

// Engines that only select a keyboard layout: IBus's "xkb:…" and Fcitx5's "keyboard-…".
bool isKeyboardLayout(const InputMethodEngine& engine) {
    return engine.name.startsWith(QLatin1String("xkb:")) || engine.name.startsWith(QLatin1String("keyboard-"));
}


QString modeSuffix(InputModeKind kind) {
    switch (kind) {
    case InputModeKind::hiragana: return QStringLiteral(".Japanese");
    case InputModeKind::katakana: return QStringLiteral(".Japanese.Katakana");
    case InputModeKind::halfWidthKatakana: return QStringLiteral(".Japanese.HalfWidthKatakana");
    case InputModeKind::latin: return QStringLiteral(".Roman");
    case InputModeKind::wideLatin: return QStringLiteral(".FullWidthRoman");
    }
    return {};
}

}  // namespace

InputSource inputSourceFor(const InputMethodEngine& engine, const std::optional<InputMethodMode>& mode, bool modeTellable) {
    QString id = engine.framework + QLatin1Char(':') + engine.name;
    const QString name = engine.longName.isEmpty() ? engine.name : engine.longName;
    const bool japanese = engine.language == QLatin1String("ja") || engine.language.startsWith(QLatin1String("ja_"));
    const std::optional<InputModeKind> kind = mode ? inputModeKind(mode->label) : std::nullopt;
    if (japanese && kind) {
        const QString modeName = mode->name.isEmpty() ? inputModeName(*kind) : mode->name;
        return InputSource{id + modeSuffix(*kind), name + QStringLiteral(" (") + modeName + QLatin1Char(')')};
    }
    bool modeUnheard = false;
    if (japanese) {
        const bool katakana = isKatakana(engine.symbol) ||
                              engine.name.contains(QLatin1String("katakana"), Qt::CaseInsensitive) ||
                              engine.longName.contains(QLatin1String("katakana"), Qt::CaseInsensitive);
        const bool kanaLayout = engine.layoutVariant.startsWith(QLatin1String("kana")) ||
                                engine.name.contains(QLatin1String("-kana")) || engine.name.contains(QLatin1String(":kana"));
        if (katakana) id += QStringLiteral(".Japanese.Katakana");
        else if (isKeyboardLayout(engine) && kanaLayout) id += QStringLiteral(".Japanese");
        else if (!isKeyboardLayout(engine) && !modeTellable) id += QStringLiteral(".Japanese");
        else if (!isKeyboardLayout(engine)) modeUnheard = true;
    }
    InputSource source;
    source.id = id;
    source.localizedName = name;
    source.modeUnheard = modeUnheard;
    return source;
}

}  // namespace platform
