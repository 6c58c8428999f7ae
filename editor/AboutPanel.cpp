#include "editor/AboutPanel.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MarrowfinFacts.h"
#include "editor/PanelWidgets.h"
#include "gui/Font.h"
#include "gui/Manager.h"
#include "gui/ManagerPlatformBridge.h"
#include "hostframework/Log.h"
#include "osc/Preferences.h"

extern char** environ;

namespace {

TB::Font* PanelFont(int size) {
    return TB::Font::Create({{"truetype/dejavu/DejaVuSans.ttf", size},
                             {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", size}});
}

}  // namespace

MarrowfinAboutPanel::MarrowfinAboutPanel(AudioUnit unit,
                                         const ComVoskTestMarfcocoaAUEditor::BridgeFactory& bridgeFactory) {
    m_manager = new TB::Manager(unit, 0);
    Build();
    m_manager->CreateControl(0, 0);
    TB::ManagerPlatformBridge* bridge = bridgeFactory ? bridgeFactory(*m_manager, m_input, kWindowTitle) : nullptr;
    if (bridge == nullptr) {
        TB::LogLine(TB::LogLevel::kError, "the preferences window cannot open: no window system\n");
        delete m_manager;
        m_manager = nullptr;
        return;
    }
    m_manager->SetBridge(bridge);
    m_input.SetManager(m_manager);
    m_manager->CreateRenderTask();
}

MarrowfinAboutPanel::~MarrowfinAboutPanel() {
    m_input.SetManager(nullptr);
    delete m_manager;  // stops the render task and closes the window
}

void MarrowfinAboutPanel::Build() {
    using namespace TB;
    Manager* m = m_manager;
    m->SetFonts(PanelFont(13), PanelFont(12), PanelFont(13));
    m->SetWindowSize(kWidth, kHeight);
    m->SetBannerVisible(false);
    m->SetLabelsClearColour(0.09f, 0.1f, 0.11f);
    Group* root = m->RootGroup();

    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d", MARROWFIN_VERSION_MAJOR, MARROWFIN_VERSION_MINOR,
                  MARROWFIN_VERSION_PATCH);
    root->AddChild(new PanelText(m, "Marrowfin", 20, 218, 1.0f));
    root->AddChild(new PanelText(m, std::string("Version ") + version, 20, 198, 0.75f));
    root->AddChild(new PanelText(m, "Tallow Bright", 20, 180, 0.75f));

    root->AddChild(new PanelText(m, "OSC base port", 20, 148, 0.9f));
    m_portField = new PanelNumberField(m, 140, 142, 90, 24);
    m_portField->SetText(std::to_string(GetOSCBasePort()));
    root->AddChild(m_portField);
    root->AddChild(new PanelText(m, "1 to 65535, applied when this window closes", 20, 124, 0.55f));

    m_eyeCandy = new PanelCheckBox(m, "Eye candy (lit background)", &setEyeCandy, this, 20, 92);
    m_constantRedraw = new PanelCheckBox(m, "Constant redraw", &setConstantRedraw, this, 20, 68);
    m_floatingTooltip = new PanelCheckBox(m, "Floating tooltip", &setFloatingTooltip, this, 20, 44);
    m_eyeCandy->SetChecked(Manager::ms_enableEyeCandy);
    m_constantRedraw->SetChecked(Manager::ms_enableConstantRedraw);
    m_floatingTooltip->SetChecked(Manager::ms_enableTooltip);
    root->AddChild(m_eyeCandy);
    root->AddChild(m_constantRedraw);
    root->AddChild(m_floatingTooltip);

    root->AddChild(new PanelLink(m, kWebAddress, &visitWeb, this, 20, 10, 250, 20));
    root->AddChild(new PanelLink(m, "Close", &closeButton, this, kWidth - 60, 10, 40, 20));
}

bool MarrowfinAboutPanel::IsOpen() const { return m_manager != nullptr; }

bool MarrowfinAboutPanel::CloseRequested() const {
    return m_closeRequested || (m_manager && m_manager->Bridge() && m_manager->Bridge()->WindowCloseRequested());
}

void MarrowfinAboutPanel::closeButton(TB::Button*, void* panel) {
    static_cast<MarrowfinAboutPanel*>(panel)->m_closeRequested = true;
}

void MarrowfinAboutPanel::BringToFront() {
    if (m_manager && m_manager->Bridge()) m_manager->Bridge()->BringToFront();
}

long MarrowfinAboutPanel::PortValue() const { return m_portField ? m_portField->Value() : -1; }

// Each switch flips the flag (rather than reading the box), so flag, box and stored value agree
// while the panel is their only writer. The flags are class-wide: every open editor follows at
// its next frame; editors opened later read the stored value.
void MarrowfinAboutPanel::setEyeCandy(void* refCon) {
    auto* panel = static_cast<MarrowfinAboutPanel*>(refCon);
    const bool on = !TB::Manager::ms_enableEyeCandy.load();
    TB::Manager::ms_enableEyeCandy = on;
    panel->m_eyeCandy->SetChecked(on);
    SetPrefInt(kPrefEnableEyeCandy, on ? 1 : 0);
}

void MarrowfinAboutPanel::setConstantRedraw(void* refCon) {
    auto* panel = static_cast<MarrowfinAboutPanel*>(refCon);
    const bool on = !TB::Manager::ms_enableConstantRedraw.load();
    TB::Manager::ms_enableConstantRedraw = on;
    panel->m_constantRedraw->SetChecked(on);
    SetPrefInt(kPrefEnableConstantRedraw, on ? 1 : 0);
    if (on && panel->m_editorManager) panel->m_editorManager->NudgeGUI();
}

void MarrowfinAboutPanel::setFloatingTooltip(void* refCon) {
    auto* panel = static_cast<MarrowfinAboutPanel*>(refCon);
    const bool on = !TB::Manager::ms_enableTooltip.load();
    TB::Manager::ms_enableTooltip = on;
    panel->m_floatingTooltip->SetChecked(on);
    SetPrefInt(kPrefEnableFloatingTooltip, on ? 1 : 0);
}

void MarrowfinAboutPanel::visitWeb(TB::Button*, void*) { OpenWebAddress(kWebAddress); }

bool MarrowfinAboutPanel::OpenWebAddress(const std::string& address) {
    // A shell that starts xdg-open in the background and ends at once, so the wait below is
    // short and the browser is never our child.
    const char* argv[] = {"/bin/sh", "-c", "xdg-open \"$0\" >/dev/null 2>&1 &", address.c_str(), nullptr};
    pid_t pid = 0;
    const int status = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
    if (status != 0) {
        TB::LogFormat(TB::LogLevel::kError, "cannot open %s: %s\n", address.c_str(), std::strerror(status));
        return false;
    }
    int exitStatus = 0;
    while (waitpid(pid, &exitStatus, 0) < 0 && errno == EINTR) {
    }
    return true;
}
