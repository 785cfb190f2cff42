#include "platform/input_source/input_method_mode.h"

#include <QVariantList>

namespace platform {

namespace {

bool allIn(const QString& text, char16_t first, char16_t last) {
    for (const QChar c : text)
        if (c.unicode() < first || c.unicode() > last) return false;
    return true;
}

// The text of an IBusText ("IBusText", attachments, text, attributes).
QString ibusText(const QVariant& value) {
    const QVariantList fields = value.toList();
    if (fields.size() < 3 || fields.at(0).toString() != QLatin1String("IBusText")) return {};
    return fields.at(2).toString();
}

}  // namespace

std::optional<QString> inputMethodText(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<QString>()) return std::nullopt;
    QString text = value.toString();
    if (text.size() > maxInputMethodText) return std::nullopt;
    return text;
}

std::optional<InputModeKind> inputModeKind(const QString& label) {
    // Engines mark a half-width or Latin mode with a leading underscore ("_A", "_ｱ").
    QString text = label.trimmed();
    while (text.startsWith(QLatin1Char('_'))) text.remove(0, 1);
    if (text.isEmpty()) return std::nullopt;
    // The prolonged sound mark "ー" and the middle dot belong to katakana; hiragana shares neither.
    if (allIn(text, 0x3041, 0x309F)) return InputModeKind::hiragana;
    if (allIn(text, 0x30A0, 0x30FF)) return InputModeKind::katakana;
    if (allIn(text, 0xFF65, 0xFF9F)) return InputModeKind::halfWidthKatakana;
    bool latin = true;
    for (const QChar c : text) latin = latin && c.unicode() < 0x80 && c.isLetter();
    if (latin) return InputModeKind::latin;
    if (allIn(text, 0xFF21, 0xFF5A)) return InputModeKind::wideLatin;
    return std::nullopt;
}

QString inputModeName(InputModeKind kind) {
    switch (kind) {
    case InputModeKind::hiragana: return QStringLiteral("Hiragana");
    case InputModeKind::katakana: return QStringLiteral("Katakana");
    case InputModeKind::halfWidthKatakana: return QStringLiteral("Half width katakana");
    case InputModeKind::latin: return QStringLiteral("Latin");
    case InputModeKind::wideLatin: return QStringLiteral("Wide latin");
    }
    return {};
}

std::optional<InputMethodStatus> kimpanelInputMethod(const QString& property) {
    static const QString key = QStringLiteral("/Fcitx/im:");
    // Its name, icon, mode and label, each a text of its own.
    if (!property.startsWith(key) || property.size() > key.size() + 5 * maxInputMethodText) return std::nullopt;
    // The name may hold a colon; the icon, mode and hint hold none: split from the end.
    QStringList fields = property.mid(key.size()).split(QLatin1Char(':'));
    if (fields.size() < 4) return std::nullopt;
    const QString hint = fields.takeLast();
    const QString mode = fields.takeLast();
    fields.removeLast();  // the icon
    InputMethodStatus im;
    im.name = fields.join(QLatin1Char(':'));
    QString label;
    for (const QString& part : hint.split(QLatin1Char(',')))
        if (part.startsWith(QLatin1String("label="))) label = part.mid(6);
    for (const QString& text : {im.name, mode, label})
        if (text.size() > maxInputMethodText) return std::nullopt;
    // A mode has a name; an input method without modes shows only its own label ("en").
    if (!mode.isEmpty()) im.mode = InputMethodMode{label, mode};
    return im;
}

std::optional<InputMethodStatus> trayMenuInputMethod(const QVariant& layout) {
    const QVariantList root = layout.toList();
    if (root.size() < 3) return std::nullopt;
    std::optional<InputMethodStatus> status;
    std::optional<InputMethodMode> mode;
    for (const QVariant& child : root.at(2).toList()) {
        const QVariantList item = child.toList();
        if (item.size() < 3) continue;
        const QVariantMap properties = item.at(1).toMap();
        const std::optional<QString> text = inputMethodText(properties.value(QStringLiteral("label"), QString()));
        if (!text) continue;
        const QString& label = *text;
        if (properties.value(QStringLiteral("toggle-type")).toString() == QLatin1String("radio")) {
            if (properties.value(QStringLiteral("toggle-state")).toInt() == 1 && !status) status = InputMethodStatus{label, {}};
            continue;
        }
        if (mode || properties.value(QStringLiteral("children-display")).toString() != QLatin1String("submenu")) continue;
        const qsizetype dash = label.indexOf(QLatin1String(" - "));
        if (dash > 0 && inputModeKind(label.left(dash))) mode = InputMethodMode{label.left(dash), label.mid(dash + 3)};
    }
    if (status) status->mode = mode;
    return status;
}

std::optional<InputMethodMode> ibusInputMode(const QVariant& property) {
    const QVariantList fields = property.toList();
    if (fields.size() < 12 || fields.at(0).toString() != QLatin1String("IBusProperty")) return std::nullopt;
    if (fields.at(2).toString() != QLatin1String("InputMode")) return std::nullopt;
    const QString symbol = ibusText(fields.at(11));
    if (symbol.isEmpty() || symbol.size() > maxInputMethodText) return std::nullopt;
    InputMethodMode mode{symbol, QString()};
    if (const auto kind = inputModeKind(symbol)) mode.name = inputModeName(*kind);
    return mode;
}

}  // namespace platform
