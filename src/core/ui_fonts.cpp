#include "core/ui_fonts.h"

#include <QStringList>

namespace UiFonts {

QFont withJapaneseFallback(QFont font) {
    const QString own = font.family();
    font.setFamilies({own, QString::fromLatin1(japaneseFamily)});
    return font;
}

}  // namespace UiFonts
