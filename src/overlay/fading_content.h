#pragma once

// Content of an overlay panel that draws itself at an opacity: the panel fades it so, rather than
// drawing it through an offscreen effect.
class FadingContent {
public:
    virtual ~FadingContent() = default;
    virtual void setContentOpacity(double opacity) = 0;
};
