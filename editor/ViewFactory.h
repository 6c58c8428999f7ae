// The editor's factory, under the class name the unit announces for its editor: it makes the
// product's view for a unit at a preferred size and builds it. The window system comes from the
// bridge factory (by default a top-level window of the platform layer).
//
// UI thread only.
#pragma once

#include "editor/MarrowfinView.h"

class ComVoskTestMarfCocoaViewFactory {
public:
    static unsigned interfaceVersion() { return 0; }
    static const char* description() { return "Tallow Bright: Marrowfin Cocoa View"; }

    // A built view (owned by the caller), or null when none can be made. Without a window
    // system the view exists but has no manager: it stays blank and ignores events.
    static ComVoskTestMarfCocoaView* uiViewForAudioUnit(AudioUnit unit, float width, float height,
                                                        const ComVoskTestMarfcocoaAUEditor::BridgeFactory& bridges);
};

// Top-level GLFW windows as the view's window system; hidden ones draw all the same (screenshots,
// tests).
ComVoskTestMarfcocoaAUEditor::BridgeFactory MakeWindowBridgeFactory(bool visible);
