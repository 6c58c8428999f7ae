// The textured looks of the controls: RiraKnob (a Knob drawn by a TexturedKnobRenderer, with
// an optional caption in the labels layer) and RiraButton (a translucent box that warms up under
// the mouse, its caption in the static text layer).
#pragma once

#include <string>

#include "gui/Controls.h"

namespace TB {

class TexturedKnobRenderer;

class RiraKnob : public Knob {
public:
    // Takes the next entry of the renderer and turns it to the parameter's current position.
    RiraKnob(Manager* manager, TexturedKnobRenderer* renderer, int parameterID, const std::string& label, float x,
             float y, float size);

    void Render() const override {}  // the renderer draws every knob
    void ExtendBounds(Bounds& b) const override;
    void ParameterChange(const AudioUnitParameter* parameter, float value) override;
    void FinalPosition() override;
    void DrawLabel(const Font* font) const override;
    void SetVisible(bool visible) override;

    int Index() const { return m_index; }
    // The renderer's angle for a normalised position: (2n - 1) x 3pi/4 + pi/2.
    static float AngleFor(float normalised);

private:
    TexturedKnobRenderer* m_renderer;
    int m_index;
    std::string m_label;
};

class RiraButton : public Button {
public:
    RiraButton(Manager* manager, const std::string& label, Callback callback, void* refCon, float x, float y,
               float width, float height, int helpID);

    void Render() const override;
    void MouseEntered() override;
    void MouseExited() override;
    void FinalPosition() override;

    static constexpr Vec4 kRestColour = {0.3f, 0.3f, 0.3f, 0.2f};
    static constexpr Vec4 kHoverColour = {0.8f, 0.4f, 0.1f, 0.3f};

private:
    mutable Vec4 m_colour = kRestColour;  // render task: eases towards the target
    SharedVec4 m_targetColour{kRestColour};
};

}  // namespace TB
