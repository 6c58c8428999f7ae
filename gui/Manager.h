// The hub of the editor's widget toolkit: one manager per open editor.
//
// It owns every element, texture, effect and font of the editor; binds the editor to the unit's
// parameters through the host's parameter listener; turns forwarded mouse and keyboard events
// into calls on the element tree (hover, capture, focus, parameter gestures); and runs a render
// task of its own that owns the GL context and draws frames on demand or at a steady rate,
// with the static labels cached in a 1024 x 512 texture (the labels layer).
//
// Threads. UI thread: construction, building, input, the listener callbacks (delivered on the
// run loop current at construction), NudgeGUI / RequestRedrawLabels, teardown. Render task:
// every GL call. The two share only the render event, the shutdown semaphore and single-word
// fields (mouse-over, editing and hovered state, control positions) that the UI thread writes
// and the render task reads at its next frame; those are relaxed atomics, there is no lock.
// The toolkit throws nothing of its own.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "gui/CAAUParameter.h"
#include "gui/Geometry.h"
#include "hostframework/AUParameterServices.h"
#include "hostframework/MPServices.h"

namespace TB {

class Effect;
class Font;
class Group;
class ManagerPlatformBridge;
class StaticText;
class Texture;
class UIElement;

// The three rendering switches of the preferences. The manager cannot read the preferences
// itself (they belong to a layer above it): the product installs a reader with
// Manager::SetSwitchReader, which fills in what is stored; without one the defaults stand.
struct ManagerSwitches {
    bool enableEyeCandy = true;        // "Enable eye candy"
    bool enableConstantRedraw = true;  // "Enable constant redraw"
    bool enableTooltip = false;        // "Enable floating tooltip"
};
typedef void (*ManagerSwitchReader)(ManagerSwitches* switches);

class Manager {
public:
    typedef void (*EditCallback)(SInt32 parameterID, void* refCon);
    typedef void (*CaptureCallback)(void* refCon);

    // Render event flag bits.
    enum : MPEventFlags {
        kEventQuit = 1,
        kEventPause = 4,
        kEventRedraw = 8,
        kEventResize = 16,
        kEventRedrawLabels = 32,
    };
    static constexpr int kLabelsWidth = 1024;
    static constexpr int kLabelsHeight = 512;
    static constexpr Duration kConstantRedrawWait = 33;  // ms after each frame
    static constexpr Duration kShutdownBound = 10000;    // ms
    static constexpr AudioUnitPropertyID kEffectDataProperty = 64001;

    // UI thread. Reads the switches, creates the parameter listener on the run loop current
    // now (1/30 s), builds the descriptors of ids 0..parameterCount-1, the root group and the
    // static text, and reads the unit's shared-data pointer (property 64001).
    Manager(AudioUnit unit, int parameterCount);
    // Stops the render task if it still runs, then deletes everything the manager owns. The
    // task calls the virtual hooks below, so a subclass that overrides any of them calls
    // DestroyRenderTask() in its own destructor (its overrides are gone once ~Manager runs).
    virtual ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // ----- class-wide switches (any thread) -----
    static std::atomic<bool> ms_enableEyeCandy;
    static std::atomic<bool> ms_enableConstantRedraw;
    static std::atomic<bool> ms_enableTooltip;
    static void SetSwitchReader(ManagerSwitchReader reader);
    // Off: the labels layer is drawn through the bridge's offscreen context even when the GL
    // has framebuffer objects (drivers that lack them take that path anyway).
    static std::atomic<bool> ms_allowFramebufferObjects;

    // ----- building (UI thread, before CreateRenderTask) -----
    void AddElement(UIElement* element) { m_elements.push_back(element); }
    void AddTexture(Texture* texture) { m_textures.push_back(texture); }
    void AddEffect(Effect* effect) { m_effects.push_back(effect); }
    void AddFont(Font* font) { m_fonts.push_back(font); }
    // A font without a glyph source is stored as null.
    void SetFonts(Font* mainFont, Font* labelFont, Font* textFont);
    void SetHelpStrings(const char* const* strings);
    int AddHelpString(const char* text);
    const std::string* HelpString(int id) const;
    // Clamped to 1..1024 x 1..512 (the labels layer's size).
    void SetWindowSize(int width, int height);
    // Once the layout is complete, with the view's origin: projection constants and the control
    // rectangle.
    void CreateControl(float x, float y);
    // Owned from now on; deleted by the destructor.
    void SetBridge(ManagerPlatformBridge* bridge);
    void SetEditCallbacks(EditCallback begin, EditCallback end, void* refCon);
    void SetCaptureCallbacks(CaptureCallback begin, CaptureCallback end, void* refCon);
    void SetSecondPass(bool on) { m_secondPass = on; }
    void SetLabelsClearColour(float r, float g, float b);
    void SetBannerY(float y) { m_bannerY = y; }
    void SetBannerVisible(bool v) { m_bannerVisible = v; }
    void SetReadoutStripColour(const Vec4& c) { m_readoutStripColour = c; }
    void SetBannerTextColour(const Vec4& c) { m_bannerTextColour = c; }
    // Deletes everything built so far (elements, textures, effects, fonts, help texts) and puts
    // the window size, colours and banner back as construction left them, so that another
    // layout can be built from scratch: the editor falls back to its own skin this way when a
    // user's skin fails half way. Does nothing once the render task has started. A subclass
    // that keeps pointers to built objects forgets them in its override.
    virtual void ResetBuild();

    // ----- render task control (UI thread) -----
    void CreateRenderTask();
    void DestroyRenderTask();
    bool TaskRunning() const { return m_taskRunning; }
    void NudgeGUI();             // one redraw
    void RequestRedrawLabels();  // one labels redraw
    void RaiseEvent(MPEventFlags flags);

    // ----- parameters (UI thread) -----
    void AddToListener(UIElement* element, const CAAUParameter& parameter);
    // What the listener does with one notification: offer it to HandleParameterListener, else
    // hand it to the element's ParameterChange and, unless constant redraw is on, ask for a frame.
    void DeliverParameterChange(UIElement* element, const AudioUnitParameter* parameter, float value);
    // The descriptor of an id (one built for the id when it is outside the table).
    CAAUParameter GetParameter(int id) const;
    // The table's descriptor of an id, null outside the table (no copy: for per-frame use).
    const CAAUParameter* FindParameter(int id) const {
        return id >= 0 && id < int(m_parameters.size()) ? &m_parameters[size_t(id)] : nullptr;
    }
    int ParameterCount() const { return int(m_parameters.size()); }
    AudioUnit GetAudioUnit() const { return m_audioUnit; }
    void* EffectData() const { return m_effectData; }

    // ----- read-out (any thread / render task) -----
    static constexpr size_t kValueTextSize = 128;
    static constexpr size_t kReadoutTextSize = 256;
    // Any thread: the descriptor's current value as text (value string, the unit's string for
    // the value, On/Off, or 4 significant digits) into `out` (kValueTextSize bytes).
    static void FormatParamValue(const CAAUParameter& p, char* out);
    // Render task: name, value and unit tag of parameter `id` with the value at x + 150; the
    // same text, space separated, into `out` (kReadoutTextSize bytes) when it is given.
    void DrawParamValue(Font* font, int id, float x, float y, char* out);
    // The read-out line's current text and the tooltip's state (render task; for tests after
    // the task stopped).
    const char* TooltipText() const { return m_tooltipText; }
    float TooltipAlpha() const { return m_tooltipAlpha; }
    float TooltipX() const { return m_tooltipX; }

    // ----- input (UI thread) -----
    void HandleMouseMove(CGPoint point);
    void HandleMouseNoLoopDown(CGPoint point, UInt32 modifiers);
    void HandleMouseNoLoopDragged(CGPoint point, UInt32 modifiers);
    void HandleMouseNoLoopUp(CGPoint point, UInt32 modifiers);
    bool HandleKeypress(unsigned char key);
    void HandleWindowFocusRelinquish();
    void SetKeyboardFocusElement(UIElement* element);
    void SetFocusToWindow();
    void SetEditingParam(int id);
    void UnsetEditingParam(int id);
    // id: a parameter id, a help id (<= -2) or -1; the element anchors the tooltip.
    void SetMouseOverParam(int id, UIElement* element);
    void ClearMouseOverParam() { m_mouseOverParam.store(-1, std::memory_order_relaxed); }

    // ----- state readers (any thread) -----
    int MouseOverParam() const { return m_mouseOverParam.load(std::memory_order_relaxed); }
    int EditingParam() const { return m_editingParam.load(std::memory_order_relaxed); }
    UIElement* HoveredElement() const { return m_hoveredElement.load(std::memory_order_relaxed); }
    UIElement* TooltipElement() const { return m_tooltipElement.load(std::memory_order_relaxed); }
    UIElement* KeyboardFocusElement() const { return m_keyboardFocus; }
    UIElement* CaptureElement() const { return m_captureElement; }
    bool IsHovered(UIElement* element) const { return m_hoverSet.count(element) != 0; }
    Group* RootGroup() const { return m_rootGroup; }
    const std::vector<UIElement*>& Elements() const { return m_elements; }
    const std::vector<Effect*>& Effects() const { return m_effects; }
    StaticText* GetStaticText() const { return m_staticText; }
    Font* MainFont() const { return m_mainFont; }
    Font* LabelFont() const { return m_labelFont; }
    Font* TextFont() const { return m_textFont; }
    ManagerPlatformBridge* Bridge() const { return m_bridge; }
    int Width() const { return m_width; }
    float BannerY() const { return m_bannerY; }
    const float* LabelsClearColour() const { return m_labelsClearColour; }
    int Height() const { return m_height; }
    float EyeDistance() const { return m_eyeDistance; }
    float FieldOfView() const { return m_fieldOfView; }
    void GetControlRect(SInt16& top, SInt16& left, SInt16& bottom, SInt16& right) const;
    float FrameRate() const { return m_frameRate.load(std::memory_order_relaxed); }
    float FrameTime() const { return m_frameTime.load(std::memory_order_relaxed); }
    double RunTime() const { return m_runTime.load(std::memory_order_relaxed); }
    // Frames drawn so far, and the time the last Draw took (seconds), for diagnostics.
    uint64_t FrameCount() const { return m_frameCount.load(std::memory_order_acquire); }
    double LastDrawSeconds() const { return m_lastDrawSeconds.load(std::memory_order_relaxed); }
    // True once the render task has a working GL context.
    bool GLReady() const { return m_glReady.load(std::memory_order_acquire); }
    unsigned int LabelsTexture() const { return m_labelsTexture; }
    unsigned int LabelsFramebuffer() const { return m_labelsFramebuffer; }
    // Render task: counts the labels layer's redraws (a cache of a picture made from it compares).
    uint64_t LabelsGeneration() const { return m_labelsGeneration; }

    // Frame clock step (render task): frame time from the nanoseconds since the previous
    // reading, at least 1 us; rate the mean of this and the previous instantaneous rate,
    // 0 when above 1e6. Returns this frame's instantaneous rate.
    float AdvanceFrameClock(UInt64 elapsedNanoseconds, float previousRate);

    // ----- overridable hooks -----
    // UI thread: true stops the notification from reaching the element.
    virtual bool HandleParameterListener(void* object, const AudioUnitParameter* parameter, float value);
    // Render task: after every element and effect was initialised / at GL shutdown.
    virtual void InitialiseRendering() {}
    virtual void ShutdownRendering() {}
    // Render task, normalised device coordinates: the picture behind the 2D pass.
    virtual void DrawBackground();
    // Render task: draw more after a read-out value (may move x and y, extend the text).
    virtual void ExtendParamValue(Font* font, int parameterID, float& x, float& y, char*& text);
    // Render task, window pixels: drawn into the labels layer before the labels.
    virtual void RenderBackground() {}

protected:
    // ----- render task only -----
    void RenderTaskBody();
    unsigned int InitGL();  // GLEW's status
    void Update();
    void Draw();
    void Draw3d();
    void Draw2d();
    void Render();
    void DrawReadout();
    void DrawTooltip();
    void RedrawLabels();
    void LoadTextures();
    void UnloadTextures();
    void FinalPositions();
    void ShutdownGL();

private:
    static OSStatus RenderTaskEntry(void* manager);
    void DeleteBuilt();
    static void ParameterListener(void* refCon, void* object, const AudioUnitParameter* parameter, float value);

    std::vector<UIElement*> m_elements;
    std::vector<Texture*> m_textures;
    std::vector<Effect*> m_effects;
    std::vector<Font*> m_fonts;
    Group* m_rootGroup = nullptr;
    bool m_secondPass = false;
    AUParameterListenerRef m_listener = nullptr;
    ManagerPlatformBridge* m_bridge = nullptr;
    EditCallback m_beginEdit = nullptr, m_endEdit = nullptr;
    void* m_editRefCon = nullptr;
    CaptureCallback m_beginCapture = nullptr, m_endCapture = nullptr;
    void* m_captureRefCon = nullptr;
    UIElement* m_captureElement = nullptr;
    UInt32 m_captureModifiers = 0;
    Font* m_mainFont = nullptr;
    Font* m_labelFont = nullptr;
    Font* m_textFont = nullptr;
    StaticText* m_staticText = nullptr;
    std::vector<CAAUParameter> m_parameters;
    unsigned int m_labelsTexture = 0;
    unsigned int m_labelsFramebuffer = 0;
    uint64_t m_labelsGeneration = 0;
    SInt16 m_controlTop = 0, m_controlLeft = 0, m_controlBottom = 0, m_controlRight = 0;
    std::map<UIElement*, Bounds> m_hoverSet;
    std::atomic<int> m_mouseOverParam{-1};
    std::atomic<int> m_editingParam{-1};
    std::atomic<UIElement*> m_hoveredElement{nullptr};
    std::atomic<UIElement*> m_tooltipElement{nullptr};
    UIElement* m_keyboardFocus = nullptr;
    float m_lightTarget[2] = {0.5f, 0.5f};
    float m_tooltipAlpha = 0, m_tooltipX = 0, m_tooltipY = 0, m_tooltipWidth = 0, m_tooltipHeight = 0;
    char m_tooltipText[kReadoutTextSize] = {};
    char m_readoutText[kReadoutTextSize] = {};  // render task: this frame's read-out text
    float m_readoutHalfLine = 0;
    std::map<int, std::string> m_helpStrings;
    int m_cachedHelpID = 0;
    const std::string* m_cachedHelpText = nullptr;
    Vec4 m_readoutStripColour = {0.9f, 0.9f, 0.9f, 0.1f};
    Vec4 m_bannerTextColour = {0.5f, 0.5f, 0.5f, 1.0f};
    float m_labelsClearColour[3] = {0, 0, 0};
    float m_bannerY = 0;
    bool m_bannerVisible = true;
    float m_aspect = 1, m_xScale = 2, m_yScale = 2, m_fieldOfView = 65, m_eyeDistance = 1, m_halfWidth = 0.5f,
          m_halfHeight = 0.5f;
    std::atomic<float> m_frameRate{0}, m_frameTime{0};
    std::atomic<double> m_runTime{0};
    int m_width = 1, m_height = 1;
    Vec4 m_lightPosition = {0, 0, 50, 1};
    void* m_effectData = nullptr;
    bool m_taskRunning = false;
    MPTaskID m_task = nullptr;
    MPEventID m_event = nullptr;
    MPSemaphoreID m_semaphore = nullptr;
    AudioUnit m_audioUnit;
    std::atomic<bool> m_glReady{false};
    std::atomic<uint64_t> m_frameCount{0};
    std::atomic<double> m_lastDrawSeconds{0};

    static std::atomic<ManagerSwitchReader> ms_switchReader;
};

}  // namespace TB
