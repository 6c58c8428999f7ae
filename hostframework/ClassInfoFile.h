// Class-info states as XML property-list files (the ".aupreset" format), so presets can be
// exchanged with other hosts. Non-render threads only.
#pragma once

#include <plist/plist.h>

#include <string>

#include "hostframework/AUTypes.h"

// Writes `state` (a dictionary) as an XML property list: to a temporary file in the same folder,
// then renamed over `path`, so a failure never leaves a half-written file. On failure returns
// kAudioUnitErr_InvalidFile (or -50 for a state that is not a dictionary) with *err set.
OSStatus WriteClassInfoFile(plist_t state, const std::string& path, std::string* err);

// Reads a dictionary from an XML (or binary) property-list file; the caller frees it. Null with
// *err set when the file is missing, unreadable, not a property list or not a dictionary.
plist_t ReadClassInfoFile(const std::string& path, std::string* err);
