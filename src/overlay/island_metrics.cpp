#include "overlay/island_metrics.h"

IslandMetrics IslandMetrics::metrics(const OverlayState& state, OverlayStyle style, bool showAppName) {
    return metrics(state.mode, style, showAppName);
}

IslandMetrics IslandMetrics::metrics(IslandMode mode, OverlayStyle style, bool showAppName) {
    auto byMode = [mode](double peek, double expanded, double stacked) {
        switch (mode) {
            case IslandMode::peek: return peek;
            case IslandMode::expanded: return expanded;
            case IslandMode::stacked: return stacked;
        }
        return peek;
    };
    switch (style) {
        case OverlayStyle::singlePill: {
            const double w = byMode(180, 320, 260);
            return {w, 0, 36, w};
        }
        case OverlayStyle::splitPill: {
            const double w = byMode(90, 150, 130);
            return {w, 70, 36, 2 * w + 70};
        }
        case OverlayStyle::notchSheet: {
            const double w = byMode(320, 380, 380);
            return {w, 0, showAppName ? 72.0 : 58.0, w};
        }
        case OverlayStyle::liquidGlass: {
            const double w = byMode(340, 400, 400);
            return {w, 0, showAppName ? 80.0 : 64.0, w};
        }
    }
    return metrics(mode, OverlayStyle::splitPill, showAppName);
}

QSizeF IslandMetrics::panelSize(const OverlayState& state, OverlayStyle style) {
    const IslandMode measured = state.isVisible ? state.mode : IslandMode::peek;
    const IslandMetrics m = metrics(measured, style, true);
    return {m.totalWidth + 2 * renderPadding, m.height + 2 * renderPadding};
}
