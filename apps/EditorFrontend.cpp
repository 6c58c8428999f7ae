#include "apps/EditorFrontend.h"

#include <stb_image_write.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apps/AppError.h"
#include "apps/UnitHost.h"
#include "editor/EditorHooks.h"
#include "editor/ViewFactory.h"
#include "gui/Manager.h"
#include "gui/platform/ManagerGLFWBridge.h"

namespace MarrowfinApp {

EditorFrontend::EditorFrontend(const EditorOptions& options) : m_options(options) {}
EditorFrontend::~EditorFrontend() { Close(); }

void EditorFrontend::Open(UnitHost& host) {
    const bool screenshot = !m_options.screenshotFile.empty();
    std::string why;
    if (!TB::ManagerGLFWBridge::WindowSystemAvailable(&why)) {
        if (screenshot) throw Failure("cannot take a picture of the editor: no window system (" + why + ")");
        std::fprintf(stderr, "marrowfin: the editor cannot open: no window system (%s); the effect keeps running\n",
                     why.c_str());
        return;
    }
    m_view.reset(ComVoskTestMarfCocoaViewFactory::uiViewForAudioUnit(host.Unit(), 0, 0,
                                                                      MakeWindowBridgeFactory(!screenshot)));
    if (m_view && m_view->GetManager() && m_view->GetManager()->Bridge()) return;
    // The window system is there but the editor could not be built (its reason was logged).
    m_view.reset();
    if (screenshot) throw Failure("cannot take a picture of the editor");
}

bool EditorFrontend::Run(double seconds) {
    RunEditorEvents(seconds);
    if (!m_view) return true;
    m_view->Idle();
    if (m_view->WindowCloseRequested()) return false;
    if (!m_options.screenshotFile.empty()) {
        const TB::Manager* manager = m_view->GetManager();
        if (manager->FrameCount() < uint64_t(m_options.frames)) {
            if (!TB::Manager::ms_enableConstantRedraw) m_view->GetManager()->NudgeGUI();
            return true;
        }
        if (!TakeScreenshot()) throw Failure("the editor drew no picture to save (no GL?)");
        return false;
    }
    return true;
}

bool EditorFrontend::TakeScreenshot() {
    auto* bridge = dynamic_cast<TB::ManagerGLFWBridge*>(m_view->GetManager()->Bridge());
    std::vector<unsigned char> rgba;
    if (bridge == nullptr || !bridge->CaptureNextFrame(rgba, 5000)) return false;
    const int width = m_view->GetManager()->Width(), height = m_view->GetManager()->Height();
    // GL gives the bottom row first.
    stbi_flip_vertically_on_write(1);
    if (!stbi_write_png(m_options.screenshotFile.c_str(), width, height, 4, rgba.data(), width * 4))
        throw Failure("cannot write '" + m_options.screenshotFile + "'");
    std::printf("wrote %s (%d x %d)\n", m_options.screenshotFile.c_str(), width, height);
    return true;
}

void EditorFrontend::Close() { m_view.reset(); }

}  // namespace MarrowfinApp
