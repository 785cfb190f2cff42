#pragma once

#include <QFont>

// Every text of the application may hold Japanese. The face with Japanese glyphs is named after
// the font's own family, so a kanji keeps the weight asked for instead of whatever face the
// system's fallback settles on.
namespace UiFonts {

inline constexpr const char* japaneseFamily = "Noto Sans CJK JP";

// `font` drawing its own family first, then the Japanese face; size and weight kept.
QFont withJapaneseFallback(QFont font);

}  // namespace UiFonts
