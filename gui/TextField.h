// Text elements of the editor: Label (a boxed caption in the labels layer) and the numeric entry
// fields TextField and LabelledTextField, which show a parameter's value and take a typed one.
//
// Keypress, MouseDown and LostFocus run on the UI thread; Render, DoRender and DrawLabel on the
// render task. The two share the typed text and the cursor without a lock: the text always keeps
// its terminator, so a frame drawn mid-edit shows at worst a half-typed string.
#pragma once

#include <atomic>
#include <string>

#include "gui/Controls.h"

namespace TB {

class Label : public ControlBase {
public:
    Label(Manager* manager, const std::string& text, float x, float y, float width, float height);
    void DrawLabel(const Font* font) const override;
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

class TextField : public Control {
public:
    static constexpr int kMaxChars = 15;

    // `format`: a printf format for one double (flags, width and precision of up to two digits,
    // one of f e g E G; "%%" allowed); anything else, from a skin, is treated as no format.
    TextField(Manager* manager, int parameterID, float x, float y, float width, float height,
              const std::string& format);

    void Render() const override;
    void MouseDown(CGPoint point, UInt32 modifiers) override;
    bool Keypress(unsigned char key) override;
    void LostFocus() override;
    virtual void DoRender() const;

    // The shown or typed text (render task view), and whether the user is typing.
    std::string Text() const { return m_text; }
    bool Editing() const { return m_cursor.load(std::memory_order_relaxed) >= 0; }
    const std::string& Format() const { return m_format; }

    static bool IsValueFormat(const std::string& format);

protected:
    bool HasFocus() const;
    std::atomic<int> m_cursor{-1};
    std::string m_format;
    char m_text[kMaxChars + 1] = {};
    mutable float m_shownValue = 1e30f;
    mutable int m_measuredCursor = -1;
    mutable float m_textWidth = 0;
};

class LabelledTextField : public TextField {
public:
    LabelledTextField(Manager* manager, const std::string& label, int parameterID, float x, float y, float width,
                      float height, const std::string& format);

    void ExtendBounds(Bounds& b) const override;
    void DrawLabel(const Font* font) const override;
    void DoRender() const override;

private:
    std::string m_label;
};

}  // namespace TB
