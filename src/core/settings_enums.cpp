#include "core/settings_enums.h"

#include "core/l10n.h"

QString title(OverlayStyle style) {
    switch (style) {
    case OverlayStyle::singlePill: return L10n::styleSingle();
    case OverlayStyle::splitPill: return L10n::styleSplitPill();
    case OverlayStyle::notchSheet: return L10n::styleNotchSheet();
    case OverlayStyle::liquidGlass: return L10n::styleLiquidGlass();
    }
    return QString();
}

QString title(OverlayTint tint) {
    switch (tint) {
    case OverlayTint::black: return L10n::tintBlack();
    case OverlayTint::midnight: return L10n::tintMidnight();
    case OverlayTint::graphite: return L10n::tintGraphite();
    case OverlayTint::smoke: return L10n::tintSmoke();
    }
    return QString();
}
