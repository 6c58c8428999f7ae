#include "gui/CAAUParameter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "hostframework/AUParameterServices.h"
#include "hostframework/CFLite.h"

namespace TB {

namespace {

std::string CFText(CFStringRef s) {
    if (s == nullptr) return {};
    char buffer[256];
    return CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8) ? std::string(buffer) : std::string();
}

const char* UnitTag(AudioUnitParameterUnit unit) {
    switch (unit) {
    case kAudioUnitParameterUnit_Boolean: return "T/F";
    case kAudioUnitParameterUnit_Percent:
    case kAudioUnitParameterUnit_EqualPowerCrossfade: return "%";
    case kAudioUnitParameterUnit_Seconds: return "Secs";
    case kAudioUnitParameterUnit_SampleFrames: return "Samps";
    case kAudioUnitParameterUnit_Phase:
    case kAudioUnitParameterUnit_Degrees: return "Degr.";
    case kAudioUnitParameterUnit_Hertz: return "Hz";
    case kAudioUnitParameterUnit_Cents:
    case kAudioUnitParameterUnit_AbsoluteCents: return "Cents";
    case kAudioUnitParameterUnit_RelativeSemiTones: return "S-T";
    case kAudioUnitParameterUnit_MIDINoteNumber:
    case kAudioUnitParameterUnit_MIDIController: return "MIDI";
    case kAudioUnitParameterUnit_Decibels: return "dB";
    case kAudioUnitParameterUnit_LinearGain:
    case kAudioUnitParameterUnit_MixerFaderCurve1: return "Gain";
    case kAudioUnitParameterUnit_Pan: return "L/R";
    case kAudioUnitParameterUnit_Meters: return "Mtrs";
    case kAudioUnitParameterUnit_Octaves: return "8ve";
    case kAudioUnitParameterUnit_BPM: return "BPM";
    case kAudioUnitParameterUnit_Beats: return "Beats";
    case kAudioUnitParameterUnit_Milliseconds: return "msecs";
    case kAudioUnitParameterUnit_Ratio: return "Ratio";
    default: return nullptr;
    }
}

}  // namespace

CAAUParameter::CAAUParameter() : AudioUnitParameter{nullptr, 0, kAudioUnitScope_Global, 0}, m_info{} {
    m_info.maxValue = 1;
}

CAAUParameter::CAAUParameter(AudioUnit unit, AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element)
    : AudioUnitParameter{unit, id, scope, element}, m_info{} {
    UInt32 size = sizeof m_info;
    if (unit == nullptr ||
        AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, scope, id, &m_info, &size) != noErr) {
        m_info = AudioUnitParameterInfo{};
        m_info.maxValue = 1;
        return;
    }
    m_info.name[sizeof m_info.name - 1] = 0;
    if (!(m_info.maxValue > m_info.minValue)) m_info.maxValue = m_info.minValue + 1;  // no empty range
    if (m_info.unit == kAudioUnitParameterUnit_CustomUnit) m_tag = CFText(m_info.unitName);
    else if (const char* tag = UnitTag(m_info.unit)) m_tag = tag;

    const int span = int(m_info.maxValue - m_info.minValue) + 1;
    if (m_info.unit == kAudioUnitParameterUnit_Indexed) {
        CFArrayRef strings = nullptr;
        size = sizeof strings;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterValueStrings, scope, id, &strings, &size) ==
                noErr &&
            strings != nullptr) {
            for (CFIndex i = 0; i < CFArrayGetCount(strings); ++i)
                m_valueStrings.push_back(CFText(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, i))));
            CFRelease(strings);
        }
        m_numIndexed = m_valueStrings.empty() ? span : int(m_valueStrings.size());
    } else if (m_info.unit == kAudioUnitParameterUnit_MIDINoteNumber ||
               m_info.unit == kAudioUnitParameterUnit_MIDIController) {
        m_numIndexed = span;
    }
}

Float32 CAAUParameter::GetValue() const {
    AudioUnitParameterValue value = 0;
    if (mAudioUnit == nullptr || AudioUnitGetParameter(mAudioUnit, mParameterID, mScope, mElement, &value) != noErr)
        return 0;
    return value;
}

void CAAUParameter::SetValue(Float32 value) const {
    if (std::isnan(value)) return;
    value = std::clamp(value, m_info.minValue, m_info.maxValue);
    AUParameterSet(nullptr, nullptr, this, value, 0);
}

}  // namespace TB
