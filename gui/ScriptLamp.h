// A script lamp: a small round light showing one of the eight GUI bool values of the unit's
// DataToGui record, which MIDI scripts (and OSC) set with setGUIBoolValue. It reads the value
// every frame on the render task, so it follows the script while the unit plays. Hovering it
// shows its help text ("Script lamp 0" to "Script lamp 7", the script's index) in the
// read-out line; it takes no clicks.
#pragma once

#include "gui/Controls.h"

class DataToGui;

namespace TB {

class ScriptLamp : public ControlBase {
public:
    // `index` 0..kNumGUIBools-1 (the caller checks); `data` may be null (never lit).
    ScriptLamp(Manager* manager, const DataToGui* data, int index, float x, float y, float size);

    void Render() const override;
    void MouseEntered() override;
    void MouseExited() override;

    bool Lit() const;
    int Index() const { return m_index; }
    int HelpID() const { return m_helpID; }

private:
    const DataToGui* m_data;
    int m_index;
    int m_helpID;
};

}  // namespace TB
