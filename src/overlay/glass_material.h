#pragma once

#include <QColor>

class QPainter;
class QPainterPath;

// A background material. Qt cannot blur what lies behind a window, so each material is drawn as
// the translucent fill and soft vertical gradient closest to its look over a dark desktop; every
// view that wants a material goes through here so they all agree.
class VisualEffectBlur {
public:
    enum class Material { hudWindow, popover };
    enum class BlendingMode { behindWindow, withinWindow };
    enum class State { followsWindowActiveState, active, inactive };

    Material material = Material::hudWindow;
    BlendingMode blendingMode = BlendingMode::behindWindow;
    State state = State::active;

    // Fills `shape` with the material at the painter's current opacity.
    void paint(QPainter& painter, const QPainterPath& shape) const;

    // The material's top and bottom colours (opacity included).
    QColor topColor() const;
    QColor bottomColor() const;
};
