// The few widgets of the about and preferences panel, drawn by the toolkit: a line of text, a
// check box, a field that takes a whole number, and a link-like push button.
//
// Mouse and keys on the UI thread; Render on the panel's render task, DrawLabel in its labels
// layer. The field's text is shared with the render task like the toolkit's text fields: the
// buffer always keeps its terminator.
#pragma once

#include <atomic>
#include <string>

#include "gui/Controls.h"

namespace TB {

class PanelText : public ControlBase {
public:
    PanelText(Manager* manager, const std::string& text, float x, float y, float size = 1.0f);
    void DrawLabel(const Font* font) const override;
    UIElement* HitTest(CGPoint) override { return nullptr; }

private:
    std::string m_text;
    float m_brightness;
};

class PanelCheckBox : public ControlBase {
public:
    typedef void (*Action)(void* refCon);
    PanelCheckBox(Manager* manager, const std::string& caption, Action action, void* refCon, float x, float y);
    void Render() const override;
    void DrawLabel(const Font* font) const override;
    void MouseUp(CGPoint point, UInt32 modifiers) override;
    void SetChecked(bool on) { m_checked.store(on, std::memory_order_relaxed); }
    bool Checked() const { return m_checked.load(std::memory_order_relaxed); }

private:
    std::string m_caption;
    Action m_action;
    void* m_refCon;
    std::atomic<bool> m_checked{false};
};

// Whole numbers only: a keystroke that would make the text anything else is refused, and the
// field's outline flashes red for a moment (the visible beep). Backspace deletes; Return ends
// the editing.
class PanelNumberField : public ControlBase {
public:
    static constexpr int kMaxDigits = 9;
    PanelNumberField(Manager* manager, float x, float y, float width, float height);
    void SetText(const std::string& digits);
    std::string Text() const { return m_text; }
    // The number typed, or -1 when the field is empty.
    long Value() const;
    int RefusedKeys() const { return m_refusedKeys; }

    void Render() const override;
    void MouseDown(CGPoint point, UInt32 modifiers) override;
    bool Keypress(unsigned char key) override;
    void LostFocus() override;

private:
    void Refuse();
    char m_text[kMaxDigits + 1] = {};
    std::atomic<int> m_length{0};
    std::atomic<double> m_flashUntil{0};  // run time (seconds) until which the outline is red
    std::atomic<bool> m_focused{false};
    int m_refusedKeys = 0;
};

class PanelLink : public Button {
public:
    PanelLink(Manager* manager, const std::string& text, Callback callback, void* refCon, float x, float y,
              float width, float height);
    void Render() const override;
    void DrawLabel(const Font* font) const override;
};

}  // namespace TB
