// The LV2 UI entry points of the editor binary. Only lv2ui_descriptor leaves the binary, and no
// exception leaves an entry point. A handle the host already cleaned up (or never got) is
// refused: idle, port events and a second cleanup on it do nothing.
//
// Host UI thread only.
#include <lv2/ui/ui.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <vector>

#include "hostframework/Log.h"
#include "lv2/MarrowfinLV2Ports.h"
#include "lv2/VoskMarrowfinLV2UI.h"

namespace {

std::mutex g_liveLock;
std::vector<VoskMarrowfinLV2UI*>* g_live = nullptr;  // never destroyed: no static destructor at unload

VoskMarrowfinLV2UI* Live(LV2UI_Handle handle) {
    std::lock_guard<std::mutex> lock(g_liveLock);
    auto* ui = static_cast<VoskMarrowfinLV2UI*>(handle);
    return g_live && std::find(g_live->begin(), g_live->end(), ui) != g_live->end() ? ui : nullptr;
}

template <typename Result, typename Call>
Result Guarded(const char* what, Result failed, Call call) noexcept {
    try {
        return call();
    } catch (const std::exception& e) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 editor error: %s: %s\n", what, e.what());
    } catch (...) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 editor error: %s failed\n", what);
    }
    return failed;
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* pluginURI, const char* bundlePath, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    return Guarded("instantiate", LV2UI_Handle(nullptr), [&]() -> LV2UI_Handle {
        VoskMarrowfinLV2UI* ui = VoskMarrowfinLV2UI::Create(pluginURI, bundlePath, write, controller, widget, features);
        if (ui) {
            std::lock_guard<std::mutex> lock(g_liveLock);
            if (!g_live) g_live = new std::vector<VoskMarrowfinLV2UI*>;
            g_live->push_back(ui);
        }
        return ui;
    });
}

void Cleanup(LV2UI_Handle handle) {
    VoskMarrowfinLV2UI* ui = Live(handle);
    if (!ui) return;
    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        std::erase(*g_live, ui);
    }
    Guarded("cleanup", 0, [&] { return delete ui, 0; });
}

void PortEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    if (VoskMarrowfinLV2UI* ui = Live(handle))
        Guarded("port event", 0, [&] { return ui->PortEvent(port, size, format, buffer), 0; });
}

int Idle(LV2UI_Handle handle) {
    VoskMarrowfinLV2UI* ui = Live(handle);
    return ui ? Guarded("idle", 1, [&] { return ui->Idle(); }) : 1;
}

int Show(LV2UI_Handle handle) {
    VoskMarrowfinLV2UI* ui = Live(handle);
    return ui ? Guarded("show", 1, [&] { return ui->Show(); }) : 1;
}

int Hide(LV2UI_Handle handle) {
    VoskMarrowfinLV2UI* ui = Live(handle);
    return ui ? Guarded("hide", 1, [&] { return ui->Hide(); }) : 1;
}

const LV2UI_Idle_Interface kIdleInterface = {Idle};
const LV2UI_Show_Interface kShowInterface = {Show, Hide};

const void* ExtensionData(const char* uri) {
    if (uri && !std::strcmp(uri, LV2_UI__idleInterface)) return &kIdleInterface;
    if (uri && !std::strcmp(uri, LV2_UI__showInterface)) return &kShowInterface;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {MarrowfinLV2::kUIURI, Instantiate, Cleanup, PortEvent, ExtensionData};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
