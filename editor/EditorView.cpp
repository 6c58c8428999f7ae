#include "editor/EditorView.h"

#include "gui/Manager.h"
#include "gui/ManagerPlatformBridge.h"
#include "hostframework/AUParameterServices.h"
#include "luagui/PluginLuaGui.h"

ComVoskTestMarfcocoaAUEditor::ComVoskTestMarfcocoaAUEditor(float x, float y, float width, float height) {
    m_frame.x = x, m_frame.y = y, m_frame.width = width, m_frame.height = height;
}

ComVoskTestMarfcocoaAUEditor::~ComVoskTestMarfcocoaAUEditor() { LeaveWindow(); }

void ComVoskTestMarfcocoaAUEditor::CreateUI() {
    m_luaGui = new TB::PluginLuaGui(m_AU, &AboutButtonProc, this);  // locates the skin
    createManager();
    if (m_pManager == nullptr) return;
    m_luaGui->CreateUI(m_pManager);
    FinaliseUI(m_frame);
}

void ComVoskTestMarfcocoaAUEditor::FinaliseUI(const ViewFrame& frame) {
    m_pManager->CreateControl(frame.x, frame.y);
    SInt16 top, left, bottom, right;
    m_pManager->GetControlRect(top, left, bottom, right);
    m_frame.width = float(right - left);
    m_frame.height = float(bottom - top);
    m_input.SetManager(m_pManager);
    if (m_bridgeFactory) m_pManager->SetBridge(m_bridgeFactory(*m_pManager, m_input, kWindowTitle));
    m_pManager->SetEditCallbacks(&BeginEditCallback, &EndEditCallback, this);
    m_pManager->SetCaptureCallbacks(&BeginCaptureCallback, &EndCaptureCallback, this);
    m_pManager->CreateRenderTask();
}

void ComVoskTestMarfcocoaAUEditor::LeaveWindow() {
    m_input.SetManager(nullptr);
    delete m_luaGui;
    m_luaGui = nullptr;
    delete m_pManager;
    m_pManager = nullptr;
}

bool ComVoskTestMarfcocoaAUEditor::WindowCloseRequested() const {
    return m_pManager && m_pManager->Bridge() && m_pManager->Bridge()->WindowCloseRequested();
}

void ComVoskTestMarfcocoaAUEditor::SendGesture(UInt32 eventType, SInt32 parameterID) const {
    if (m_pManager == nullptr) return;
    AudioUnitEvent event{};
    event.mEventType = AudioUnitEventType(eventType);
    const TB::CAAUParameter parameter = m_pManager->GetParameter(parameterID);
    event.mArgument.mParameter.mAudioUnit = m_AU;
    event.mArgument.mParameter.mParameterID = parameter.mParameterID;
    event.mArgument.mParameter.mScope = parameter.mScope;
    event.mArgument.mParameter.mElement = parameter.mElement;
    AUEventListenerNotify(nullptr, nullptr, &event);
}

void ComVoskTestMarfcocoaAUEditor::BeginEditCallback(SInt32 parameterID, void* refCon) {
    static_cast<ComVoskTestMarfcocoaAUEditor*>(refCon)->SendGesture(kAudioUnitEvent_BeginParameterChangeGesture,
                                                                     parameterID);
}

void ComVoskTestMarfcocoaAUEditor::EndEditCallback(SInt32 parameterID, void* refCon) {
    static_cast<ComVoskTestMarfcocoaAUEditor*>(refCon)->SendGesture(kAudioUnitEvent_EndParameterChangeGesture,
                                                                     parameterID);
}

void ComVoskTestMarfcocoaAUEditor::AboutButtonProc(TB::Button* button, void* refCon) {
    static_cast<ComVoskTestMarfcocoaAUEditor*>(refCon)->aboutButtonProc(button);
}
