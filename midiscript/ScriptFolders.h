// The application-support folders and what lives in them: MIDI scripts and skin bundles.
//
// user domain:  $XDG_DATA_HOME (default ~/.local/share)
// local domain: the first entry of $XDG_DATA_DIRS (default /usr/local/share)
// Scripts are in <folder>/Tallow Bright/Marrowfin/Scripts, skins in .../Skins. Any thread.
#pragma once

#include <string>
#include <vector>

#include "hostframework/CFLite.h"

namespace TB {

// File-system domains (the platform's numbers).
enum : short {
    kSystemDomain = -32766,
    kLocalDomain = -32764,
    kUserDomain = -32763,
};

// The folder of the domain as a path of at most 255 bytes, not created; empty when the domain
// is unknown, no folder can be found or the path is longer.
std::string GetApplicationSupportFolder(short domain);

// <domain folder>/Tallow Bright/Marrowfin/Scripts, or empty when the domain has no folder.
std::string GetScriptsFolder(short domain);

// Where `require` looks (see SetScriptModulePaths): the scripts folders, then the system's Lua 5.1
// module folders.
std::string ScriptModulePath();
std::string ScriptNativeModulePath();

// Appends the readable "*.lua" files of the user's script folder, then those of the local one,
// each folder in directory order.
void GetScripts(std::vector<std::string>& scripts);

// A skin bundle named `name` (or `name` + ".bundle") in the domain's skin folder, or null. The
// one-argument form tries the user domain, then the local one. The caller releases the bundle.
CFBundleRef LocateSkinBundle(const std::string& name, short domain);
CFBundleRef LocateSkinBundle(const std::string& name);

}  // namespace TB
