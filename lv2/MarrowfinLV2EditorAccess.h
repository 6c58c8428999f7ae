// What the plug-in offers its own editor when the host lets the editor reach the instance
// (instance-access and data-access): the unit's parameters through the host parameter services
// of the plug-in's binary, so OSC subscribers, scripts and the host stay in step, and the unit's
// live display record. The editor's binary has its own copy of the framework, so it reaches the
// unit only through these plain functions, asked for by URI through the plug-in's
// extension_data.
//
// The functions are called on the host's UI thread; none of them blocks on the audio thread.
#pragma once

#include <lv2/core/lv2.h>

#include <cstdint>

class DataToGui;

namespace MarrowfinLV2 {

constexpr const char* kEditorAccessURI = "https://tallowbright.example/plugins/marrowfin#editorAccess";

struct EditorAccess {
    // Grows only at the end; the editor checks the version before using later members.
    uint32_t version;
    float (*getParameter)(LV2_Handle instance, uint32_t id);
    // Sets the parameter as a host's parameter service does (listeners and OSC learn of it).
    void (*setParameter)(LV2_Handle instance, uint32_t id, float value);
    // The unit's display record (meters, frequencies, GUI bool values), valid while the
    // instance exists.
    DataToGui* (*dataToGui)(LV2_Handle instance);
};

constexpr uint32_t kEditorAccessVersion = 1;

}  // namespace MarrowfinLV2
