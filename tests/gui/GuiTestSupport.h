// A unit opened through the component interface, a manager bound to it, and a small test-only
// element set: a recording element, and a bar that fills with its control's position (easy to
// probe in a picture).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "effect/MarrowfinParameters.h"
#include "effect/VoskMarrowfinEntry.h"
#include "gui/Controls.h"
#include "gui/GL.h"
#include "gui/Manager.h"
#include "hostframework/Log.h"
#include "hostframework/RunLoop.h"
#include "tests/support/ScopedTestFolders.h"
#include "tests/support/TestHost.h"

namespace TB {

// Records the calls an element receives, in order.
class RecordingElement : public ControlBase {
public:
    RecordingElement(Manager* m, float x0, float y0, float x1, float y1) : ControlBase(m) {
        m_bounds = Bounds::Rect(x0, y0, x1, y1);
    }
    void MouseDown(CGPoint, UInt32 mods) override { calls.push_back("down " + std::to_string(mods)); }
    void MouseDrag(CGPoint, UInt32 mods) override { calls.push_back("drag " + std::to_string(mods)); }
    void MouseUp(CGPoint, UInt32 mods) override { calls.push_back("up " + std::to_string(mods)); }
    void MouseEntered() override { calls.push_back("entered"); }
    void MouseExited() override { calls.push_back("exited"); }
    bool Keypress(unsigned char key) override {
        calls.push_back("key " + std::to_string(key));
        return true;
    }
    void LostFocus() override { calls.push_back("lost"); }
    std::vector<std::string> calls;
};

// A control drawn as a filled bar: its left `Normalised()` share is white, the rest dark blue.
class BarControl : public Control {
public:
    BarControl(Manager* m, int id, float x0, float y0, float x1, float y1) : Control(m, id) {
        m_bounds = Bounds::Rect(x0, y0, x1, y1);
        SetNormalised(NormalisedFromParam(m_parameter));
    }
    void Render() const override {
        const float split = m_bounds.min[0] + Normalised() * m_bounds.Width();
        glBegin(GL_QUADS);
        glColor3f(1, 1, 1);
        glVertex2f(m_bounds.min[0], m_bounds.min[1]), glVertex2f(split, m_bounds.min[1]);
        glVertex2f(split, m_bounds.max[1]), glVertex2f(m_bounds.min[0], m_bounds.max[1]);
        glColor3f(0, 0, 0.5f);
        glVertex2f(split, m_bounds.min[1]), glVertex2f(m_bounds.max[0], m_bounds.min[1]);
        glVertex2f(m_bounds.max[0], m_bounds.max[1]), glVertex2f(split, m_bounds.max[1]);
        glEnd();
    }
};

// Collects the lines the product logs while it lives.
class LogCapture {
public:
    LogCapture() : m_token(AddLogSink(&Sink, this)) {}
    ~LogCapture() { RemoveLogSink(m_token); }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }

private:
    static void Sink(void* self, LogLevel, const char* line) {
        auto* capture = static_cast<LogCapture*>(self);
        std::lock_guard<std::mutex> guard(capture->m_lock);
        capture->m_lines.push_back(line);
    }
    std::mutex m_lock;
    std::vector<std::string> m_lines;
    int m_token;
};

// Runs the main run loop (where the editor's listener callbacks arrive) until `done` or 2 s.
inline bool PumpUntil(const std::function<bool()>& done, double seconds = 2.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        RunLoop::Main().RunFor(std::chrono::milliseconds(2));
    }
    return true;
}

// An opened unit with its parameters at their defaults.
class GuiUnitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(noErr, m_host.Open(VoskMarrowfinEntry, kMarrowfinComponentDescription)); }
    AudioUnit Unit() const { return m_host.Unit(); }
    float Value(int id) { return m_host.Parameter(AudioUnitParameterID(id)); }
    void Set(int id, float v) { ASSERT_EQ(noErr, m_host.SetParameterNotifying(AudioUnitParameterID(id), v)); }

    ScopedTestFolders m_folders{"marrowfin-gui"};
    TestHost m_host;
};

}  // namespace TB
