// A full-window drawing object (static text, knob renderers, meters). The manager owns its
// effects, updates each once per frame before drawing, and draws them in list order.
// Every operation runs on the render task with the GL context current.
#pragma once

namespace TB {

class Manager;

class Effect {
public:
    explicit Effect(Manager* manager) : m_manager(manager) {}
    virtual ~Effect() = default;
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    virtual void Update() {}
    virtual void Render2d() = 0;
    virtual void Render3d() const {}
    virtual void InitialiseRendering() {}
    virtual void ShutdownRendering() {}

protected:
    Manager* m_manager;
};

}  // namespace TB
