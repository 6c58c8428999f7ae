// Where the plug-in's own bundle (its resources folder) is, found from the loaded binary.
#pragma once

#include <string>

// The folder of the binary that contains this code (dladdr): when that folder ends in ".lv2",
// the folder itself; else <folder>/../share/marrowfin when it exists; else the build tree's
// resources folder. Empty when none exists. Any non-render thread.
std::string TBLocateOwnBundleFolder();

// The identifier under which the plug-in finds its own bundle unless one was registered.
extern const char* const kTBOwnBundleIdentifier;
