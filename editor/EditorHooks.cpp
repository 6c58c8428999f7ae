#include "editor/EditorHooks.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "gui/Manager.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "hostframework/RunLoop.h"
#include "luagui/LuaGui.h"
#include "midiscript/LuaMIDIHelper.h"
#include "osc/Preferences.h"

namespace {

void ReadSkinName(std::string* name) { GetPrefString(kPrefSkin, *name); }

void ReadSwitches(TB::ManagerSwitches* switches) {
    switches->enableEyeCandy = GetPrefInt(kPrefEnableEyeCandy, switches->enableEyeCandy) != 0;
    switches->enableConstantRedraw = GetPrefInt(kPrefEnableConstantRedraw, switches->enableConstantRedraw) != 0;
    switches->enableTooltip = GetPrefInt(kPrefEnableFloatingTooltip, switches->enableTooltip) != 0;
}

}  // namespace

void InstallEditorHooks() {
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        TB::LuaGui::SetSkinNameReader(&ReadSkinName);
        TB::Manager::SetSwitchReader(&ReadSwitches);
        TB::LuaGui::SetSendOSCFunction(TB::LuaMIDIHelper::SendOSCScriptFunction());
        TB::RunLoop::Main().SetWakeHandler(&TB::ManagerGLFWBridge::WakeEventWait);
    });
}

void RunEditorEvents(double maxSeconds) {
    TB::RunLoop& loop = TB::RunLoop::Main();
    loop.RunOnce();
    const auto limit = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(std::max(0.0, maxSeconds)));
    const double wait = std::chrono::duration<double>(loop.TimeUntilDue(limit)).count();
    const bool windows = wait > 0 ? TB::ManagerGLFWBridge::WaitEvents(wait) : TB::ManagerGLFWBridge::PollEvents();
    if (windows) loop.RunOnce();
    else loop.RunFor(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(wait)));
}
