// The clickable leaves of the element tree: parameter controls (Control, and the dragging Knob)
// bound to one parameter of the unit, and push buttons (Button, StatefulButton) that call a
// function. The classes here draw plain outlines; textured looks subclass them.
//
// Mouse handling and ParameterChange run on the UI thread; Render on the render task, which
// reads the normalised position and the button state without a lock (relaxed atomics).
#pragma once

#include <atomic>
#include <string>

#include "gui/CAAUParameter.h"
#include "gui/UIElement.h"

namespace TB {

// Modifier bits of the mouse word, as the view builds it.
enum : UInt32 {
    kModifierCommand = 0x100,  // Ctrl on Linux
    kModifierShift = 0x200,
    kModifierOption = 0x800,   // Alt on Linux
};

class ControlBase : public UIElement {
public:
    explicit ControlBase(Manager* manager) : UIElement(manager) {}

    void ExtendBounds(Bounds& b) const override { b.Union(m_bounds); }
    // This control when the point lies within its rectangle, edges included; visibility is
    // left to the groups.
    UIElement* HitTest(CGPoint point) override { return m_bounds.Contains(point.x, point.y) ? this : nullptr; }

    // The parameter's current value mapped to 0..1 by the host.
    static float NormalisedFromParam(const CAAUParameter& p);
    // The whole value of the parameter's range nearest to the position; moves `normalised` onto it.
    static float GetNormalisedAsIntegerValued(const CAAUParameter& p, float& normalised);
    // Writes the value at `normalised` (snapped first when integer valued, which moves
    // `normalised` too), clamped, through the host so every listener hears of it.
    void SetParamFromNormalised(const CAAUParameter& p, float& normalised);

    const Bounds& GetBounds() const { return m_bounds; }
    bool IsIntegerValued() const { return m_integerValued; }

protected:
    Bounds m_bounds;  // in the parent group's coordinates, z = 0
    bool m_integerValued = false;
};

class Control : public ControlBase {
public:
    Control(Manager* manager, int parameterID);

    void MouseDown(CGPoint point, UInt32 modifiers) override;
    void MouseUp(CGPoint point, UInt32 modifiers) override;
    void MouseEntered() override;
    void MouseExited() override;
    void ParameterChange(const AudioUnitParameter* parameter, float value) override;

    const CAAUParameter& Parameter() const { return m_parameter; }
    int ParameterID() const { return int(m_parameter.mParameterID); }
    float Normalised() const { return m_normalised.load(std::memory_order_relaxed); }

protected:
    void SetNormalised(float n) { m_normalised.store(n, std::memory_order_relaxed); }

    CAAUParameter m_parameter;
    std::atomic<float> m_normalised{0};
};

class Knob : public Control {
public:
    Knob(Manager* manager, int parameterID, float x, float y, float size);

    void Render() const override;
    void MouseDown(CGPoint point, UInt32 modifiers) override;
    void MouseDrag(CGPoint point, UInt32 modifiers) override;

    static constexpr float kNormalSensitivity = 0.005f;  // normalised change per pixel
    static constexpr float kFineSensitivity = 0.0005f;   // with shift held

protected:
    double m_pressX = 0, m_pressY = 0;
    float m_pressPosition = 0;
    float m_normalSensitivity = kNormalSensitivity;
    float m_fineSensitivity = kFineSensitivity;
};

class Button : public ControlBase {
public:
    typedef void (*Callback)(Button* button, void* refCon);

    Button(Manager* manager, const std::string& label, Callback callback, void* refCon, float x, float y,
           float width, float height, int helpID);

    void Render() const override;
    void MouseUp(CGPoint point, UInt32 modifiers) override;
    void MouseEntered() override;
    void MouseExited() override;

    const std::string& Label() const { return m_label; }
    int HelpID() const { return m_helpID; }

protected:
    void Fire() {
        if (m_callback) m_callback(this, m_refCon);
    }

    std::string m_label;
    Callback m_callback;
    void* m_refCon;
    int m_helpID;
};

class StatefulButton : public Button {
public:
    enum Type : int32_t { kMomentary = 0, kToggle = 1 };

    StatefulButton(Manager* manager, const std::string& label, Callback callback, void* refCon, float x, float y,
                   float width, float height, int helpID, Type type);

    // The press, not the release, fires a stateful button.
    void MouseDown(CGPoint point, UInt32 modifiers) override;
    void MouseUp(CGPoint point, UInt32 modifiers) override;

    bool State() const { return m_state.load(std::memory_order_relaxed); }
    // Sets the state without firing the callback (a script restoring a lamp or a toggle).
    void SetState(bool state) { m_state.store(state, std::memory_order_relaxed); }
    Type GetType() const { return m_type; }

protected:
    std::atomic<bool> m_state;
    Type m_type;
};

}  // namespace TB
