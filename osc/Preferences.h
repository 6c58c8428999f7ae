// The per-user preferences store, shared by every instance on the machine: a property-list
// dictionary in $XDG_CONFIG_HOME/com.tallowbright.Marrowfin.plist (default ~/.config/).
//
// No cache and no class: every get reads the file afresh, every set is a read-modify-write that
// reaches the disk (temporary file, fsync, rename) before it returns. A missing, unreadable or
// corrupt file reads as nothing stored and is never rewritten by a read.
// Any thread except the render thread (they do file I/O).
#pragma once

#include <atomic>
#include <string>

#include "effect/MarrowfinConstants.h"
#include "hostframework/AUTypes.h"

// Keys the system uses.
constexpr const char* kPrefOSCBasePort = "OSC Base Port";
constexpr const char* kPrefEnableEyeCandy = "Enable eye candy";
constexpr const char* kPrefEnableConstantRedraw = "Enable constant redraw";
constexpr const char* kPrefEnableFloatingTooltip = "Enable floating tooltip";
constexpr const char* kPrefSkin = "Skin";

// The OSC base port of every instance in the process (kDefaultOSCBasePort at start). Refreshed
// from "OSC Base Port" at each unit's Initialize, and set through SetOSCBasePort by whatever
// chooses a port for the whole process (the preferences panel, `marrowfin serve`); a unit moves
// to a new base when its "OSC Port Offset" is applied again. Any thread.
extern std::atomic<SInt32> g_OSCBasePort;
inline void SetOSCBasePort(SInt32 port) { g_OSCBasePort.store(port, std::memory_order_relaxed); }
inline SInt32 GetOSCBasePort() { return g_OSCBasePort.load(std::memory_order_relaxed); }

// The stored number under `key` (an integer, or a real truncated toward zero), or
// `defaultValue` when nothing is stored, the value has another type or lies outside 32 bits.
SInt32 GetPrefInt(const char* key, SInt32 defaultValue);

// Stores `value` as an integer under `key`, persisted before returning. A corrupt existing file
// is kept beside as "<name>.corrupt" (reported on standard error) and a fresh one written.
void SetPrefInt(const char* key, SInt32 value);

// Assigns the stored string under `key` (at most 1023 bytes) to `result`; leaves `result`
// untouched when nothing is stored or the value is not a string.
void GetPrefString(const char* key, std::string& result);

// The file the store uses, resolved from the environment at each call.
std::string GetPrefsFilePath();
