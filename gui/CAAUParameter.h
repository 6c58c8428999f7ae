// A parameter descriptor: one parameter of a unit (unit, id, scope, element) with its info as
// the unit publishes it, the unit tag that a read-out prints after the value, and the list of
// value strings of an indexed parameter.
//
// Built on the UI thread (the manager builds one per parameter id and each control copies its
// own); afterwards read-only, so any thread may read it. GetValue asks the unit each time.
#pragma once

#include <string>
#include <vector>

#include "hostframework/AudioUnitAPI.h"

namespace TB {

class CAAUParameter : public AudioUnitParameter {
public:
    CAAUParameter();
    // Reads the parameter info; a unit that does not answer leaves a nameless 0..1 generic
    // parameter, so a control bound to it still works.
    CAAUParameter(AudioUnit unit, AudioUnitParameterID id, AudioUnitScope scope = kAudioUnitScope_Global,
                  AudioUnitElement element = 0);

    const AudioUnitParameterInfo& ParamInfo() const { return m_info; }
    const char* GetName() const { return m_info.name; }
    AudioUnitParameterUnit Unit() const { return m_info.unit; }
    Float32 MinValue() const { return m_info.minValue; }
    Float32 MaxValue() const { return m_info.maxValue; }
    Float32 DefaultValue() const { return m_info.defaultValue; }
    AudioUnitParameterOptions Flags() const { return m_info.flags; }
    // The unit's text after a value ("Hz", "dB", ...), null for none.
    const char* GetParamTag() const { return m_tag.empty() ? nullptr : m_tag.c_str(); }
    // Indexed: number of value strings (or max - min + 1 when the unit publishes none); MIDI
    // note and controller: max - min + 1; else 0.
    int GetNumIndexedParams() const { return m_numIndexed; }
    bool HasNamedParams() const { return !m_valueStrings.empty(); }
    const std::vector<std::string>& ValueStrings() const { return m_valueStrings; }

    // The current value read from the unit (0 when the unit does not answer).
    Float32 GetValue() const;
    // Clamps into [min, max] and sets it with the host's parameter service (no sending
    // listener, buffer offset 0), so every listener hears of it.
    void SetValue(Float32 value) const;

private:
    AudioUnitParameterInfo m_info;
    std::string m_tag;
    std::vector<std::string> m_valueStrings;
    int m_numIndexed = 0;
};

}  // namespace TB
