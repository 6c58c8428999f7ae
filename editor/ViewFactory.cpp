#include "editor/ViewFactory.h"

#include <new>

#include "editor/EditorHooks.h"
#include "gui/platform/ManagerGLFWBridge.h"

ComVoskTestMarfCocoaView* ComVoskTestMarfCocoaViewFactory::uiViewForAudioUnit(
    AudioUnit unit, float width, float height, const ComVoskTestMarfcocoaAUEditor::BridgeFactory& bridges) {
    InstallEditorHooks();
    auto* view = new (std::nothrow) ComVoskTestMarfCocoaView(0, 0, width, height);
    if (view == nullptr) return nullptr;
    view->setAU(unit);
    view->SetBridgeFactory(bridges);
    view->CreateUI();
    return view;
}

ComVoskTestMarfcocoaAUEditor::BridgeFactory MakeWindowBridgeFactory(bool visible) {
    return [visible](TB::Manager& manager, TB::ViewInput& input, const char* title) -> TB::ManagerPlatformBridge* {
        TB::ManagerGLFWBridge* bridge = TB::ManagerGLFWBridge::Create(&manager, title, visible);
        if (bridge) bridge->SetInput(&input);
        return bridge;
    };
}
