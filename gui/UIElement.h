// The element tree: every visible or clickable thing of the editor is a UIElement; Groups
// translate their children and NamedGroups draw a titled outline that lights up under the mouse.
//
// Ownership is flat: each element adds itself to its manager at construction and only the
// manager deletes it; groups merely refer to their children. Elements are built on the UI
// thread before the render task starts and are never removed. Drawing, FinalPosition and
// InitialiseRendering run on the render task; mouse, keyboard, visibility and ParameterChange
// on the UI thread.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "gui/Geometry.h"
#include "hostframework/AUTypes.h"

namespace TB {

class Font;
class Group;
class Manager;

class UIElement {
public:
    explicit UIElement(Manager* manager);
    virtual ~UIElement();
    UIElement(const UIElement&) = delete;
    UIElement& operator=(const UIElement&) = delete;

    virtual void Render() const {}
    virtual void RenderPass2() const {}
    // Widens `b` by the element's own bounds, in its parent's coordinates.
    virtual void ExtendBounds(Bounds& b) const { (void)b; }
    virtual void MouseDown(CGPoint point, UInt32 modifiers) { (void)point, (void)modifiers; }
    virtual void MouseDrag(CGPoint point, UInt32 modifiers) { (void)point, (void)modifiers; }
    virtual void MouseUp(CGPoint point, UInt32 modifiers) { (void)point, (void)modifiers; }
    virtual void MouseEntered() {}
    virtual void MouseExited() {}
    virtual void ParameterChange(const AudioUnitParameter* parameter, float value) { (void)parameter, (void)value; }
    virtual UIElement* HitTest(CGPoint point) { (void)point; return nullptr; }
    // Once, on the render task, after the whole tree exists and before rendering starts.
    virtual void FinalPosition() {}
    // Render task, GL context current.
    virtual void InitialiseRendering() {}
    // Static text into the labels layer (render task).
    virtual void DrawLabel(const Font* font) const { (void)font; }
    virtual bool Keypress(unsigned char key) { (void)key; return false; }
    virtual void LostFocus() {}
    virtual void SetVisible(bool visible) { m_visible.store(visible, std::memory_order_relaxed); }

    // The element's bounds in world (window) coordinates.
    void GetWorldBounds(Bounds& b) const;
    float GetWidth() const;
    float GetHeight() const;

    Manager* GetManager() const { return m_manager; }
    Group* GetParent() const { return m_parent; }
    bool IsVisible() const { return m_visible.load(std::memory_order_relaxed); }

protected:
    friend class Group;
    Manager* m_manager;
    Group* m_parent = nullptr;
    std::atomic<bool> m_visible{true};  // UI thread writes, render task reads
};

class Group : public UIElement {
public:
    explicit Group(Manager* manager);

    void Render() const override;
    void RenderPass2() const override;
    void ExtendBounds(Bounds& b) const override;
    UIElement* HitTest(CGPoint point) override;
    void SetVisible(bool visible) override;

    // Appends the element, makes this its parent and gives it this group's visibility.
    void AddChild(UIElement* element);
    // From this group's coordinates to world coordinates: adds this group's position and each
    // ancestor's.
    void TransformBounds(Bounds& b) const;
    void SetPosition(float x, float y, float z = 0) { m_position[0] = x, m_position[1] = y, m_position[2] = z; }
    const float* GetPosition() const { return m_position; }
    const std::vector<UIElement*>& Children() const { return m_children; }

    // Set only during a mouse-move hit test (UI thread): a group that contains the point but
    // none of whose children was hit returns itself.
    static bool ms_hitTestIncludesGroups;

protected:
    SharedBounds m_bounds;  // stays empty for a plain group
    std::vector<UIElement*> m_children;
    float m_position[3] = {0, 0, 0};
};

class NamedGroup : public Group {
public:
    NamedGroup(Manager* manager, const std::string& name, float indent);

    void Render() const override;
    void ExtendBounds(Bounds& b) const override;
    void MouseEntered() override;
    void MouseExited() override;
    void FinalPosition() override;
    void SetVisible(bool visible) override;

    const std::string& Name() const { return m_name; }
    Vec4 Colour() const { return m_colour; }
    Vec4 TargetColour() const { return m_targetColour.Load(); }
    int TitleIndex() const { return m_titleIndex.load(std::memory_order_relaxed); }
    const float* Outline() const { return m_outline; }

    static Vec4 ms_activeTargetColour;
    static Vec4 ms_inactiveTargetColour;

private:
    std::string m_name;
    float m_indent;
    mutable Vec4 m_colour;      // render task: eases towards the target each frame
    SharedVec4 m_targetColour;  // UI thread
    std::atomic<int> m_titleIndex{-1};  // set on the render task, read by SetVisible
    float m_outline[12] = {};
};

}  // namespace TB
