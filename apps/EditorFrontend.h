// `marrowfin editor`: the editor opened on the running unit, in a window on the screen, or
// hidden to take a picture of it after a number of drawn frames.
#pragma once

#include <memory>
#include <string>

#include "apps/Serve.h"

class ComVoskTestMarfCocoaView;

namespace MarrowfinApp {

struct EditorOptions {
    std::string screenshotFile;  // empty: a window on the screen until it is closed
    int frames = 30;             // frames drawn before the picture is taken
};

class EditorFrontend : public ServeFrontend {
public:
    explicit EditorFrontend(const EditorOptions& options);
    ~EditorFrontend() override;

    void Open(UnitHost& host) override;
    bool Run(double seconds) override;
    void Close() override;

private:
    bool TakeScreenshot();

    EditorOptions m_options;
    std::unique_ptr<ComVoskTestMarfCocoaView> m_view;
    bool m_announcedMissingWindow = false;
};

}  // namespace MarrowfinApp
