// What an editor view does with the window system's input: it forwards mouse, keyboard and focus
// events to its manager in the manager's conventions, and drops them while it has none.
//
// Points are window pixels with the origin at the bottom-left. The modifier word carries Ctrl as
// command (0x100), Shift (0x200) and Alt as option (0x800), nothing else. Typed text reaches the
// manager as its UTF-8 bytes, one keypress each; Return is key 3 and Backspace key 8. A drag or
// a release is forwarded only after a press that reached a manager.
//
// UI thread only. The platform bridges translate their own events into these calls; an editor
// view owns one and clears its manager when the manager goes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gui/Geometry.h"
#include "hostframework/AUTypes.h"

namespace TB {

class Manager;

class ViewInput {
public:
    explicit ViewInput(Manager* manager = nullptr) : m_manager(manager) {}

    void SetManager(Manager* manager) {
        m_manager = manager;
        m_mouseTracking = false;
    }
    Manager* GetManager() const { return m_manager; }
    bool MouseTracking() const { return m_mouseTracking; }

    void MouseMoved(CGPoint point);
    void MouseDown(CGPoint point, UInt32 modifiers);
    void MouseDragged(CGPoint point, UInt32 modifiers);
    void MouseUp(CGPoint point, UInt32 modifiers);
    void InsertText(const char* utf8, size_t length);
    void InsertCharacter(uint32_t codepoint);
    void InsertNewline();
    void DeleteBackward();
    void FocusLost();

    static UInt32 ModifierWord(bool alt, bool shift, bool ctrl);
    // The UTF-8 form of a code point into `out`; its length, 0 for a value that is not one.
    static int EncodeUTF8(uint32_t codepoint, unsigned char out[4]);
    // A point of a window system whose origin is the top-left, in a window `height` pixels high.
    static CGPoint FromTopLeft(double x, double y, double height) { return CGPoint{x, height - y}; }

    static constexpr unsigned char kKeyReturn = 3;
    static constexpr unsigned char kKeyBackspace = 8;

private:
    Manager* m_manager;
    bool m_mouseTracking = false;  // a press reached the manager and no release came yet
};

}  // namespace TB
