#include "hostframework/AUBase.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "hostframework/DenormalMode.h"

namespace {

// Big-endian words of the class-info "data" block.
void PutWord(std::vector<UInt8>& out, UInt32 w) {
    out.push_back(UInt8(w >> 24));
    out.push_back(UInt8(w >> 16));
    out.push_back(UInt8(w >> 8));
    out.push_back(UInt8(w));
}
UInt32 GetWord(const UInt8* p) {
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

bool IsNumber(plist_t node) {
    plist_type t = plist_get_node_type(node);
    return t == PLIST_UINT || t == PLIST_REAL;
}
// A number node's value as an unsigned 32-bit word (negative integers stored through the
// unsigned type come back as their two's complement). False when it is no whole number.
bool NumberAsWord(plist_t node, UInt32& out) {
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        out = UInt32(v);
        return true;
    }
    if (plist_get_node_type(node) == PLIST_REAL) {
        double d = 0;
        plist_get_real_val(node, &d);
        if (!std::isfinite(d) || d != std::floor(d) || d < -2147483648.0 || d > 4294967295.0) return false;
        out = d < 0 ? UInt32(SInt32(d)) : UInt32(d);
        return true;
    }
    return false;
}
double NumberAsDouble(plist_t node) {
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return double(SInt64(v));
    }
    double d = 0;
    plist_get_real_val(node, &d);
    return d;
}

}  // namespace

// =============================================================================================
// Construction, elements

AUBase::AUBase(AudioComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements)
    : ComponentBase(inInstance), m_numInputElements(numInputElements), m_numOutputElements(numOutputElements) {
    m_globalScope.Initialize(this, kAudioUnitScope_Global);
    m_inputScope.Initialize(this, kAudioUnitScope_Input);
    m_outputScope.Initialize(this, kAudioUnitScope_Output);
    // The global element exists from construction on: a subclass's constructor may run code
    // (a MIDI script being loaded) that reads or sets parameters before CreateElements.
    m_globalScope.AddElement(std::make_unique<AUElement>(this));
}

AUBase::~AUBase() {
    if (m_currentPreset.presetName) CFRelease(m_currentPreset.presetName);
}

void AUBase::PostConstructor() { CreateElements(); }

void AUBase::CreateElements() {
    if (m_elementsCreated) return;
    for (UInt32 i = 0; i < m_numInputElements; ++i) m_inputScope.AddElement(std::make_unique<AUInputElement>(this));
    for (UInt32 i = 0; i < m_numOutputElements; ++i) m_outputScope.AddElement(std::make_unique<AUOutputElement>(this));
    m_elementsCreated = true;
}

AUScope& AUBase::GetScope(AudioUnitScope inScope) {
    switch (inScope) {
    case kAudioUnitScope_Global: return m_globalScope;
    case kAudioUnitScope_Input: return m_inputScope;
    case kAudioUnitScope_Output: return m_outputScope;
    default: throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
    }
}

AUElement* AUBase::GetElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    return GetScope(inScope).SafeGetElement(inElement);
}

AUIOElement* AUBase::GetIOElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    if (inScope == kAudioUnitScope_Input) return GetInput(inElement);
    if (inScope == kAudioUnitScope_Output) return GetOutput(inElement);
    throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
}

AUInputElement* AUBase::GetInput(AudioUnitElement inElement) {
    return static_cast<AUInputElement*>(m_inputScope.SafeGetElement(inElement));
}

AUOutputElement* AUBase::GetOutput(AudioUnitElement inElement) {
    return static_cast<AUOutputElement*>(m_outputScope.SafeGetElement(inElement));
}

// =============================================================================================
// Lifecycle

OSStatus AUBase::Initialize() { return noErr; }
void AUBase::Cleanup() {}
OSStatus AUBase::Reset(AudioUnitScope, AudioUnitElement) { return noErr; }

void AUBase::ReallocateBuffers() {
    for (UInt32 i = 0; i < m_inputScope.GetNumberOfElements(); ++i) GetInput(i)->AllocateBuffer(m_maxFramesPerSlice);
    for (UInt32 i = 0; i < m_outputScope.GetNumberOfElements(); ++i) GetOutput(i)->AllocateBuffer(m_maxFramesPerSlice);
}

OSStatus AUBase::DoInitialize() {
    if (IsInitialized()) return noErr;
    OSStatus result = Initialize();
    if (result != noErr) return result;
    try {
        ReallocateBuffers();
    } catch (...) {
        Cleanup();
        throw;
    }
    m_numScheduledEvents = 0;
    m_initialized.store(true, std::memory_order_release);
    return noErr;
}

void AUBase::DoCleanup() {
    if (IsInitialized()) Cleanup();
    m_initialized.store(false, std::memory_order_release);
}

OSStatus AUBase::SetMaxFramesPerSlice(UInt32 nFrames) {
    if (IsInitialized()) return kAudioUnitErr_Initialized;
    if (nFrames == 0 || nFrames > kMaxFramesPerSliceLimit) return kAudioUnitErr_InvalidPropertyValue;
    m_maxFramesPerSlice = nFrames;
    PropertyChanged(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0);
    return noErr;
}

// =============================================================================================
// Parameters

OSStatus AUBase::GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                              AudioUnitParameterValue& outValue) {
    try {
        outValue = GetElement(inScope, inElement)->GetParameter(inID);
        return noErr;
    } catch (OSStatus status) {
        return status;
    }
}

OSStatus AUBase::SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                              AudioUnitParameterValue inValue, UInt32) {
    try {
        GetElement(inScope, inElement)->SetParameter(inID, inValue);
        return noErr;
    } catch (OSStatus status) {
        return status;
    }
}

OSStatus AUBase::ScheduleParameter(const AudioUnitParameterEvent* events, UInt32 numEvents) {
    if (numEvents == 0) return noErr;
    if (events == nullptr) return paramErr;
    if (numEvents > kMaxScheduledEvents - m_numScheduledEvents) return kAudioUnitErr_CannotDoInCurrentContext;
    for (UInt32 i = 0; i < numEvents; ++i) {
        const AudioUnitParameterEvent& e = events[i];
        if (e.scope > kAudioUnitScope_Output) return kAudioUnitErr_InvalidScope;
        AUElement* element = GetScope(e.scope).GetElement(e.element);
        if (element == nullptr) return kAudioUnitErr_InvalidElement;
        if (!element->HasParameterID(e.parameter)) return kAudioUnitErr_InvalidParameter;
        if (e.eventType != kParameterEvent_Immediate && e.eventType != kParameterEvent_Ramped) return paramErr;
    }
    for (UInt32 i = 0; i < numEvents; ++i) m_scheduledEvents[m_numScheduledEvents++] = events[i];
    return noErr;
}

namespace {
SInt64 EventOffset(const AudioUnitParameterEvent& e) {
    if (e.eventType == kParameterEvent_Ramped) return e.eventValues.ramp.startBufferOffset < 0 ? 0 : e.eventValues.ramp.startBufferOffset;
    return e.eventValues.immediate.bufferOffset;
}
}  // namespace

void AUBase::SortScheduledEvents() {
    // Insertion sort: stable, in place, no allocation.
    for (UInt32 i = 1; i < m_numScheduledEvents; ++i) {
        AudioUnitParameterEvent e = m_scheduledEvents[i];
        UInt32 j = i;
        while (j > 0 && EventOffset(m_scheduledEvents[j - 1]) > EventOffset(e)) {
            m_scheduledEvents[j] = m_scheduledEvents[j - 1];
            --j;
        }
        m_scheduledEvents[j] = e;
    }
}

void AUBase::ApplyScheduledEvent(const AudioUnitParameterEvent& event, UInt32 sliceOffset) {
    if (event.scope > kAudioUnitScope_Output) return;
    AUElement* element = GetScope(event.scope).GetElement(event.element);
    if (element) element->SetScheduledEvent(event, sliceOffset);
}

UInt32 AUBase::ScheduledEventOffset(const AudioUnitParameterEvent& event) { return (UInt32)EventOffset(event); }

OSStatus AUBase::GetParameterInfo(AudioUnitScope, AudioUnitParameterID, AudioUnitParameterInfo&) {
    return kAudioUnitErr_InvalidParameter;
}

OSStatus AUBase::GetParameterValueStrings(AudioUnitScope, AudioUnitParameterID, CFArrayRef*) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetParameterList(AudioUnitScope scope, AudioUnitParameterID* outList, UInt32& outNumParams) {
    AUScope& s = GetScope(scope);
    AUElement* most = nullptr;
    for (UInt32 i = 0; i < s.GetNumberOfElements(); ++i) {
        AUElement* e = s.GetElement(i);
        if (most == nullptr || e->GetNumberOfParameters() > most->GetNumberOfParameters()) most = e;
    }
    outNumParams = most ? most->GetNumberOfParameters() : 0;
    if (most && outList) most->GetParameterList(outList);
    return noErr;
}

// =============================================================================================
// Host queries (defaults)

Float64 AUBase::GetLatency() { return 0.0; }
Float64 AUBase::GetTailTime() { return 0.0; }
bool AUBase::SupportsTail() { return false; }
int AUBase::GetNumCustomUIComponents() { return 0; }
void AUBase::GetUIComponentDescs(AudioComponentDescription*) {}
UInt32 AUBase::SupportedNumChannels(const AUChannelInfo** outInfo) {
    if (outInfo) *outInfo = nullptr;
    return 0;
}
bool AUBase::StreamFormatWritable(AudioUnitScope, AudioUnitElement) { return !IsInitialized(); }

OSStatus AUBase::ChangeStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                                    const AudioStreamBasicDescription& newFormat) {
    OSStatus result = GetIOElement(scope, element)->SetStreamFormat(newFormat);
    if (result == noErr) PropertyChanged(kAudioUnitProperty_StreamFormat, scope, element);
    return result;
}

// =============================================================================================
// Presets

OSStatus AUBase::GetPresets(CFArrayRef*) const { return kAudioUnitErr_InvalidProperty; }
OSStatus AUBase::NewFactoryPresetSet(const AUPreset&) { return kAudioUnitErr_InvalidProperty; }

bool AUBase::SetAFactoryPresetAsCurrent(const AUPreset& inPreset) {
    if (inPreset.presetNumber < 0 || inPreset.presetName == nullptr) return false;
    std::lock_guard<std::mutex> guard(m_presetLock);
    CFRetain(inPreset.presetName);
    if (m_currentPreset.presetName) CFRelease(m_currentPreset.presetName);
    m_currentPreset = inPreset;
    return true;
}

AUPreset AUBase::GetCurrentPreset() const {
    std::lock_guard<std::mutex> guard(m_presetLock);
    return m_currentPreset;
}

OSStatus AUBase::SetPresentPreset(const AUPreset& preset) {
    if (preset.presetNumber >= 0) {
        OSStatus result = NewFactoryPresetSet(preset);
        if (result == noErr) PropertyChanged(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);
        return result;
    }
    if (preset.presetName == nullptr) return kAudioUnitErr_InvalidPropertyValue;
    {
        std::lock_guard<std::mutex> guard(m_presetLock);
        CFRetain(preset.presetName);
        if (m_currentPreset.presetName) CFRelease(m_currentPreset.presetName);
        m_currentPreset = preset;
    }
    PropertyChanged(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);
    return noErr;
}

// =============================================================================================
// Class-info state

OSStatus AUBase::SaveState(plist_t* outData) {
    if (outData == nullptr) return paramErr;
    const AudioComponentDescription desc = GetComponentDescription();
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "version", plist_new_uint(0));
    plist_dict_set_item(dict, "type", plist_new_uint(desc.componentType));
    plist_dict_set_item(dict, "subtype", plist_new_uint(desc.componentSubType));
    plist_dict_set_item(dict, "manufacturer", plist_new_uint(desc.componentManufacturer));

    std::vector<UInt8> data;
    bool anyName = false;
    for (AudioUnitScope s = kAudioUnitScope_Global; s <= kAudioUnitScope_Output; ++s) {
        AUScope& scope = GetScope(s);
        for (UInt32 e = 0; e < scope.GetNumberOfElements(); ++e) {
            AUElement* element = scope.GetElement(e);
            if (element->HasName()) anyName = true;
            const UInt32 n = element->GetNumberOfParameters();
            if (n == 0) continue;
            std::vector<AudioUnitParameterID> ids(n);
            element->GetParameterList(ids.data());
            PutWord(data, s);
            PutWord(data, e);
            PutWord(data, n);
            for (AudioUnitParameterID id : ids) {
                Float32 value = element->GetParameter(id);
                UInt32 bits;
                std::memcpy(&bits, &value, 4);
                PutWord(data, id);
                PutWord(data, bits);
            }
        }
    }
    plist_dict_set_item(dict, "data", plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));

    const AUPreset preset = GetCurrentPreset();
    const char* name = preset.presetName ? CFStringGetCStringPtr(preset.presetName, kCFStringEncodingUTF8) : nullptr;
    plist_dict_set_item(dict, "name", plist_new_string(name ? name : "Untitled"));

    UInt32 size = 0;
    Boolean writable = false;
    if (GetPropertyInfo(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, size, writable) == noErr &&
        size == sizeof(UInt32)) {
        UInt32 quality = 0;
        if (GetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, &quality) == noErr)
            plist_dict_set_item(dict, "render-quality", plist_new_uint(quality));
    }
    if (GetPropertyInfo(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, size, writable) == noErr &&
        size == sizeof(Float32)) {
        Float32 load = 0;
        if (GetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &load) == noErr)
            plist_dict_set_item(dict, "cpu-load", plist_new_real(load));
    }
    if (anyName) {
        plist_t names = plist_new_dict();
        for (AudioUnitScope s = kAudioUnitScope_Global; s <= kAudioUnitScope_Output; ++s) {
            AUScope& scope = GetScope(s);
            plist_t scopeNames = nullptr;
            for (UInt32 e = 0; e < scope.GetNumberOfElements(); ++e) {
                AUElement* element = scope.GetElement(e);
                if (!element->HasName()) continue;
                const char* text = CFStringGetCStringPtr(element->GetName(), kCFStringEncodingUTF8);
                if (scopeNames == nullptr) scopeNames = plist_new_dict();
                plist_dict_set_item(scopeNames, std::to_string(e).c_str(), plist_new_string(text ? text : ""));
            }
            if (scopeNames) plist_dict_set_item(names, std::to_string(s).c_str(), scopeNames);
        }
        plist_dict_set_item(dict, "element-name", names);
    }
    *outData = dict;
    return noErr;
}

OSStatus AUBase::RestoreState(plist_t inData) {
    // Check everything first: a refused state changes nothing.
    if (inData == nullptr || plist_get_node_type(inData) != PLIST_DICT) return kAudioUnitErr_InvalidPropertyValue;
    if (plist_dict_get_item(inData, "part") != nullptr) return kAudioUnitErr_InvalidPropertyValue;
    plist_t version = plist_dict_get_item(inData, "version");
    plist_t subtype = plist_dict_get_item(inData, "subtype");
    plist_t manufacturer = plist_dict_get_item(inData, "manufacturer");
    plist_t type = plist_dict_get_item(inData, "type");
    plist_t data = plist_dict_get_item(inData, "data");
    plist_t name = plist_dict_get_item(inData, "name");
    plist_t quality = plist_dict_get_item(inData, "render-quality");
    plist_t load = plist_dict_get_item(inData, "cpu-load");
    plist_t names = plist_dict_get_item(inData, "element-name");
    UInt32 word = 0;
    if (!version || !NumberAsWord(version, word) || word != 0) return kAudioUnitErr_InvalidPropertyValue;
    const AudioComponentDescription desc = GetComponentDescription();
    if (!subtype || !NumberAsWord(subtype, word) || word != desc.componentSubType)
        return kAudioUnitErr_InvalidPropertyValue;
    if (!manufacturer || !NumberAsWord(manufacturer, word) || word != desc.componentManufacturer)
        return kAudioUnitErr_InvalidPropertyValue;
    if (type && !IsNumber(type)) return kAudioUnitErr_InvalidPropertyValue;
    if (data && plist_get_node_type(data) != PLIST_DATA) return kAudioUnitErr_InvalidPropertyValue;
    if (name && plist_get_node_type(name) != PLIST_STRING) return kAudioUnitErr_InvalidPropertyValue;
    if (quality && !IsNumber(quality)) return kAudioUnitErr_InvalidPropertyValue;
    if (load && !IsNumber(load)) return kAudioUnitErr_InvalidPropertyValue;
    if (names && plist_get_node_type(names) != PLIST_DICT) return kAudioUnitErr_InvalidPropertyValue;

    if (data) {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(data, &bytes, &length);
        const UInt8* p = reinterpret_cast<const UInt8*>(bytes);
        const UInt8* end = p ? p + length : p;
        // Records: scope, element, count, then (id, value) pairs. Only complete words are read;
        // a count that claims more pairs than remain restores the pairs that are there.
        while (p && end - p >= 12) {
            const UInt32 scopeID = GetWord(p), elementID = GetWord(p + 4), count = GetWord(p + 8);
            p += 12;
            if (scopeID > kAudioUnitScope_Output) break;
            AUElement* element = GetScope(scopeID).GetElement(elementID);
            if (element == nullptr) break;
            for (UInt32 i = 0; i < count && end - p >= 8; ++i, p += 8) {
                const AudioUnitParameterID id = GetWord(p);
                const UInt32 bits = GetWord(p + 4);
                Float32 value;
                std::memcpy(&value, &bits, 4);
                // Stored as saved, like any value a host sets: the engine takes care of values
                // it cannot use (non-finite, out of range) when it computes a block.
                if (AUParameterRecord* record = element->FindParameter(id)) {
                    record->SetImmediate(value);
                } else if (!element->UsesIndexedParameters() && !IsInitialized()) {
                    element->SetParameter(id, value);
                }
            }
        }
        std::free(bytes);
    }

    {
        char* text = nullptr;
        if (name) plist_get_string_val(name, &text);
        CFStringRef presetName = CFStringCreateWithCString(nullptr, text ? text : "Untitled", kCFStringEncodingUTF8);
        std::free(text);
        std::lock_guard<std::mutex> guard(m_presetLock);
        if (m_currentPreset.presetName) CFRelease(m_currentPreset.presetName);
        m_currentPreset = AUPreset{-1, presetName};  // the reference made above moves in
    }
    if (quality) {
        UInt32 q = UInt32(std::clamp(NumberAsDouble(quality), 0.0, 127.0));
        SetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, &q, sizeof q);
    }
    if (load) {
        Float32 l = Float32(std::clamp(NumberAsDouble(load), 0.0, 1.0));
        SetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &l, sizeof l);
    }
    if (names) RestoreElementNames(names);
    PropertyChanged(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);
    return noErr;
}

void AUBase::RestoreElementNames(plist_t names) {
    for (AudioUnitScope s = kAudioUnitScope_Global; s <= kAudioUnitScope_Output; ++s) {
        plist_t scopeNames = plist_dict_get_item(names, std::to_string(s).c_str());
        if (scopeNames == nullptr || plist_get_node_type(scopeNames) != PLIST_DICT) continue;
        AUScope& scope = GetScope(s);
        for (UInt32 e = 0; e < scope.GetNumberOfElements(); ++e) {
            plist_t node = plist_dict_get_item(scopeNames, std::to_string(e).c_str());
            if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) continue;
            char* text = nullptr;
            plist_get_string_val(node, &text);
            CFStringRef str = CFStringCreateWithCString(nullptr, text ? text : "", kCFStringEncodingUTF8);
            std::free(text);
            scope.GetElement(e)->SetName(str);
            CFRelease(str);
        }
    }
}

// =============================================================================================
// Properties

OSStatus AUBase::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                 UInt32& outDataSize, Boolean& outWritable) {
    outWritable = false;
    const bool global = inScope == kAudioUnitScope_Global;
    switch (inID) {
    case kAudioUnitProperty_ClassInfo:
        if (!global) return kAudioUnitErr_InvalidScope;
        outDataSize = sizeof(plist_t);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_MakeConnection:
        if (inScope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
        GetInput(inElement);
        outDataSize = sizeof(AudioUnitConnection);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_SetRenderCallback:
        if (inScope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
        GetInput(inElement);
        outDataSize = sizeof(AURenderCallbackStruct);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_SampleRate:
        GetIOElement(inScope, inElement);
        outDataSize = sizeof(Float64);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_StreamFormat:
        GetIOElement(inScope, inElement);
        outDataSize = sizeof(AudioStreamBasicDescription);
        outWritable = StreamFormatWritable(inScope, inElement);
        return noErr;
    case kAudioUnitProperty_ParameterList: {
        UInt32 n = 0;
        GetParameterList(inScope, nullptr, n);
        outDataSize = n * sizeof(AudioUnitParameterID);
        return noErr;
    }
    case kAudioUnitProperty_ParameterInfo:
        GetScope(inScope);
        outDataSize = sizeof(AudioUnitParameterInfo);
        return noErr;
    case kAudioUnitProperty_ParameterValueStrings: {
        OSStatus result = GetParameterValueStrings(inScope, inElement, nullptr);
        if (result != noErr) return result;
        outDataSize = sizeof(CFArrayRef);
        return noErr;
    }
    case kAudioUnitProperty_ElementCount:
        GetScope(inScope);
        outDataSize = sizeof(UInt32);
        return noErr;
    case kAudioUnitProperty_Latency:
        if (!global) return kAudioUnitErr_InvalidScope;
        outDataSize = sizeof(Float64);
        return noErr;
    case kAudioUnitProperty_TailTime:
        if (!global) return kAudioUnitErr_InvalidScope;
        if (!SupportsTail()) return kAudioUnitErr_InvalidProperty;
        outDataSize = sizeof(Float64);
        return noErr;
    case kAudioUnitProperty_SupportedNumChannels: {
        if (!global) return kAudioUnitErr_InvalidScope;
        UInt32 n = SupportedNumChannels(nullptr);
        if (n == 0) return kAudioUnitErr_InvalidProperty;
        outDataSize = n * sizeof(AUChannelInfo);
        return noErr;
    }
    case kAudioUnitProperty_MaximumFramesPerSlice:
        if (!global) return kAudioUnitErr_InvalidScope;
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_GetUIComponentList: {
        if (!global) return kAudioUnitErr_InvalidScope;
        int n = GetNumCustomUIComponents();
        if (n <= 0) return kAudioUnitErr_InvalidProperty;
        outDataSize = UInt32(n) * sizeof(AudioComponentDescription);
        return noErr;
    }
    case kAudioUnitProperty_LastRenderError:
        if (!global) return kAudioUnitErr_InvalidScope;
        outDataSize = sizeof(OSStatus);
        return noErr;
    case kAudioUnitProperty_FactoryPresets: {
        if (!global) return kAudioUnitErr_InvalidScope;
        OSStatus result = GetPresets(nullptr);
        if (result != noErr) return result;
        outDataSize = sizeof(CFArrayRef);
        return noErr;
    }
    case kAudioUnitProperty_PresentPreset:
        if (!global) return kAudioUnitErr_InvalidScope;
        outDataSize = sizeof(AUPreset);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_ElementName:
        GetElement(inScope, inElement);
        outDataSize = sizeof(CFStringRef);
        outWritable = true;
        return noErr;
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AUBase::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                             void* outData) {
    switch (inID) {
    case kAudioUnitProperty_ClassInfo:
        return SaveState(static_cast<plist_t*>(outData));
    case kAudioUnitProperty_MakeConnection:
        *static_cast<AudioUnitConnection*>(outData) = GetInput(inElement)->GetConnection();
        return noErr;
    case kAudioUnitProperty_SetRenderCallback:
        *static_cast<AURenderCallbackStruct*>(outData) = GetInput(inElement)->GetInputCallback();
        return noErr;
    case kAudioUnitProperty_SampleRate:
        *static_cast<Float64*>(outData) = GetIOElement(inScope, inElement)->GetStreamFormat().mSampleRate;
        return noErr;
    case kAudioUnitProperty_StreamFormat:
        *static_cast<AudioStreamBasicDescription*>(outData) = GetIOElement(inScope, inElement)->GetStreamFormat();
        return noErr;
    case kAudioUnitProperty_ParameterList: {
        UInt32 n = 0;
        return GetParameterList(inScope, static_cast<AudioUnitParameterID*>(outData), n);
    }
    case kAudioUnitProperty_ParameterInfo:
        return GetParameterInfo(inScope, inElement, *static_cast<AudioUnitParameterInfo*>(outData));
    case kAudioUnitProperty_ParameterValueStrings:
        return GetParameterValueStrings(inScope, inElement, static_cast<CFArrayRef*>(outData));
    case kAudioUnitProperty_ElementCount:
        *static_cast<UInt32*>(outData) = GetScope(inScope).GetNumberOfElements();
        return noErr;
    case kAudioUnitProperty_Latency:
        *static_cast<Float64*>(outData) = GetLatency();
        return noErr;
    case kAudioUnitProperty_TailTime:
        if (!SupportsTail()) return kAudioUnitErr_InvalidProperty;
        *static_cast<Float64*>(outData) = GetTailTime();
        return noErr;
    case kAudioUnitProperty_SupportedNumChannels: {
        const AUChannelInfo* info = nullptr;
        UInt32 n = SupportedNumChannels(&info);
        if (n == 0 || info == nullptr) return kAudioUnitErr_InvalidProperty;
        std::memcpy(outData, info, n * sizeof(AUChannelInfo));
        return noErr;
    }
    case kAudioUnitProperty_MaximumFramesPerSlice:
        *static_cast<UInt32*>(outData) = m_maxFramesPerSlice;
        return noErr;
    case kAudioUnitProperty_GetUIComponentList:
        GetUIComponentDescs(static_cast<AudioComponentDescription*>(outData));
        return noErr;
    case kAudioUnitProperty_LastRenderError:
        *static_cast<OSStatus*>(outData) = m_lastRenderError.exchange(noErr, std::memory_order_relaxed);
        return noErr;
    case kAudioUnitProperty_FactoryPresets:
        return GetPresets(static_cast<CFArrayRef*>(outData));
    case kAudioUnitProperty_PresentPreset: {
        // The name is retained for the caller, who releases it.
        std::lock_guard<std::mutex> guard(m_presetLock);
        AUPreset* out = static_cast<AUPreset*>(outData);
        *out = m_currentPreset;
        if (out->presetName) CFRetain(out->presetName);
        return noErr;
    }
    case kAudioUnitProperty_ElementName: {
        CFStringRef name = GetElement(inScope, inElement)->GetName();
        if (name == nullptr) return kAudioUnitErr_PropertyNotInUse;
        CFRetain(name);
        *static_cast<CFStringRef*>(outData) = name;
        return noErr;
    }
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AUBase::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                             const void* inData, UInt32 inDataSize) {
    switch (inID) {
    case kAudioUnitProperty_ClassInfo:
        if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        if (inDataSize != sizeof(plist_t)) return kAudioUnitErr_InvalidPropertyValue;
        return RestoreState(*static_cast<const plist_t*>(inData));
    case kAudioUnitProperty_MakeConnection: {
        if (inScope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
        if (inDataSize < sizeof(AudioUnitConnection)) return kAudioUnitErr_InvalidPropertyValue;
        AudioUnitConnection c = *static_cast<const AudioUnitConnection*>(inData);
        if (c.sourceAudioUnit == GetComponentInstance() && c.sourceAudioUnit != nullptr)
            return kAudioUnitErr_InvalidPropertyValue;
        GetInput(inElement)->SetConnection(c);
        PropertyChanged(inID, inScope, inElement);
        return noErr;
    }
    case kAudioUnitProperty_SetRenderCallback: {
        if (inScope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
        if (inDataSize < sizeof(AURenderCallbackStruct)) return kAudioUnitErr_InvalidPropertyValue;
        const AURenderCallbackStruct& cb = *static_cast<const AURenderCallbackStruct*>(inData);
        GetInput(inElement)->SetInputCallback(cb.inputProc, cb.inputProcRefCon);
        PropertyChanged(inID, inScope, inElement);
        return noErr;
    }
    case kAudioUnitProperty_SampleRate: {
        if (inDataSize < sizeof(Float64)) return kAudioUnitErr_InvalidPropertyValue;
        AUIOElement* element = GetIOElement(inScope, inElement);
        AudioStreamBasicDescription format = element->GetStreamFormat();
        format.mSampleRate = *static_cast<const Float64*>(inData);
        if (AUIOElement::ValidateFormat(format) != noErr) return kAudioUnitErr_FormatNotSupported;
        if (!StreamFormatWritable(inScope, inElement)) return kAudioUnitErr_PropertyNotWritable;
        return ChangeStreamFormat(inScope, inElement, format);
    }
    case kAudioUnitProperty_StreamFormat: {
        if (inDataSize < sizeof(AudioStreamBasicDescription)) return kAudioUnitErr_InvalidPropertyValue;
        GetIOElement(inScope, inElement);
        const AudioStreamBasicDescription& format = *static_cast<const AudioStreamBasicDescription*>(inData);
        if (AUIOElement::ValidateFormat(format) != noErr) return kAudioUnitErr_FormatNotSupported;
        if (!StreamFormatWritable(inScope, inElement)) return kAudioUnitErr_PropertyNotWritable;
        return ChangeStreamFormat(inScope, inElement, format);
    }
    case kAudioUnitProperty_MaximumFramesPerSlice:
        if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        if (inDataSize < sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
        return SetMaxFramesPerSlice(*static_cast<const UInt32*>(inData));
    case kAudioUnitProperty_PresentPreset:
        if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        if (inDataSize != sizeof(AUPreset)) return kAudioUnitErr_InvalidPropertyValue;
        return SetPresentPreset(*static_cast<const AUPreset*>(inData));
    case kAudioUnitProperty_ElementName: {
        if (inDataSize < sizeof(CFStringRef)) return kAudioUnitErr_InvalidPropertyValue;
        GetElement(inScope, inElement)->SetName(*static_cast<const CFStringRef*>(inData));
        PropertyChanged(inID, inScope, inElement);
        return noErr;
    }
    default: {
        UInt32 size = 0;
        Boolean writable = false;
        if (GetPropertyInfo(inID, inScope, inElement, size, writable) == noErr && !writable)
            return kAudioUnitErr_PropertyNotWritable;
        return kAudioUnitErr_InvalidProperty;
    }
    }
}

void AUBase::PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement) {
    std::vector<PropertyListener> matching;
    {
        std::lock_guard<std::mutex> guard(m_propertyListenerLock);
        for (const auto& l : m_propertyListeners)
            if (l.propID == inID) matching.push_back(l);
    }
    for (const auto& l : matching) l.proc(l.refCon, GetComponentInstance(), inID, inScope, inElement);
}

OSStatus AUBase::AddPropertyListener(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc proc, void* refCon) {
    if (proc == nullptr) return paramErr;
    std::lock_guard<std::mutex> guard(m_propertyListenerLock);
    m_propertyListeners.push_back({inID, proc, refCon});
    return noErr;
}

OSStatus AUBase::RemovePropertyListener(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc proc, void* refCon,
                                        bool matchRefCon) {
    std::lock_guard<std::mutex> guard(m_propertyListenerLock);
    std::erase_if(m_propertyListeners, [&](const PropertyListener& l) {
        return l.propID == inID && l.proc == proc && (!matchRefCon || l.refCon == refCon);
    });
    return noErr;
}

OSStatus AUBase::DispatchGetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                     void* outData, UInt32* ioDataSize) {
    if (ioDataSize == nullptr) return paramErr;
    UInt32 size = 0;
    Boolean writable = false;
    OSStatus result = GetPropertyInfo(id, scope, element, size, writable);
    if (result != noErr) return result;
    if (outData == nullptr) {
        *ioDataSize = size;
        return noErr;
    }
    // A buffer too small for the whole value is refused: a cut-off copy of a list or an object
    // reference would be garbage for the caller.
    if (*ioDataSize < size) return kAudioUnitErr_InvalidPropertyValue;
    if (size == 0) {
        *ioDataSize = 0;
        return GetProperty(id, scope, element, outData);
    }
    result = GetProperty(id, scope, element, outData);
    if (result == noErr) *ioDataSize = size;
    return result;
}

// =============================================================================================
// Render

OSStatus AUBase::AddRenderNotify(AURenderCallback proc, void* refCon) {
    if (proc == nullptr) return paramErr;
    for (UInt32 i = 0; i < kMaxRenderNotifications; ++i) {
        RenderNotify& slot = m_renderNotify[i];
        if (slot.proc.load() == nullptr) {
            slot.refCon.store(refCon);
            slot.proc.store(proc);
            UInt32 used = m_renderNotifyUsed.load();
            while (used < i + 1 && !m_renderNotifyUsed.compare_exchange_weak(used, i + 1)) {
            }
            return noErr;
        }
    }
    return kAudioUnitErr_CannotDoInCurrentContext;
}

OSStatus AUBase::RemoveRenderNotify(AURenderCallback proc, void* refCon) {
    for (auto& slot : m_renderNotify) {
        if (slot.proc.load() == proc && slot.refCon.load() == refCon) {
            slot.proc.store(nullptr);
            slot.refCon.store(nullptr);
        }
    }
    return noErr;
}

OSStatus AUBase::RenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                           UInt32 inBusNumber, UInt32 inNumberFrames) {
    if (inBusNumber != 0) return kAudioUnitErr_InvalidElement;
    return Render(ioActionFlags, inTimeStamp, inNumberFrames);
}

OSStatus AUBase::Render(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32) { return noErr; }

OSStatus AUBase::DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                          UInt32 inBusNumber, UInt32 inNumberFrames, AudioBufferList& ioData) {
    if (!IsInitialized()) return kAudioUnitErr_Uninitialized;
    if (inNumberFrames > m_maxFramesPerSlice) return kAudioUnitErr_TooManyFramesToProcess;
    AUOutputElement* output = static_cast<AUOutputElement*>(m_outputScope.GetElement(inBusNumber));
    if (output == nullptr) return kAudioUnitErr_InvalidElement;
    const AudioStreamBasicDescription& format = output->GetStreamFormat();
    const UInt32 bytes = inNumberFrames * AUBufferList::BytesPerBufferFrame(format);
    if (ioData.mNumberBuffers != AUBufferList::NumberOfBuffers(format)) return paramErr;
    bool hostBuffers = true;
    for (UInt32 i = 0; i < ioData.mNumberBuffers; ++i) {
        if (ioData.mBuffers[i].mData == nullptr) hostBuffers = false;
        else if (ioData.mBuffers[i].mDataByteSize < bytes) return paramErr;
    }

    ScopedDenormalsOff denormalsOff;
    // Only the slots ever filled can hold a notification (usually none).
    const UInt32 notifySlots = m_renderNotifyUsed.load(std::memory_order_acquire);
    for (UInt32 i = 0; i < notifySlots; ++i) {
        const RenderNotify& slot = m_renderNotify[i];
        AURenderCallback proc = slot.proc.load(std::memory_order_acquire);
        if (proc == nullptr) continue;
        AudioUnitRenderActionFlags flags = ioActionFlags | kAudioUnitRenderAction_PreRender;
        proc(slot.refCon.load(std::memory_order_relaxed), &flags, &inTimeStamp, inBusNumber, inNumberFrames, &ioData);
    }

    if (hostBuffers) {
        output->SetBufferList(ioData);
        AudioBufferList& abl = output->GetBufferList();
        for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) abl.mBuffers[i].mDataByteSize = bytes;
    } else {
        output->PrepareBuffer(inNumberFrames);
    }

    OSStatus result = RenderBus(ioActionFlags, inTimeStamp, inBusNumber, inNumberFrames);
    m_numScheduledEvents = 0;

    if (result == noErr) {
        const AudioBufferList& rendered = output->GetBufferList();
        for (UInt32 i = 0; i < ioData.mNumberBuffers && i < rendered.mNumberBuffers; ++i) {
            AudioBuffer& dest = ioData.mBuffers[i];
            if (dest.mData == nullptr) dest.mData = rendered.mBuffers[i].mData;
            else if (dest.mData != rendered.mBuffers[i].mData)
                std::memcpy(dest.mData, rendered.mBuffers[i].mData, bytes);
            dest.mDataByteSize = bytes;
            dest.mNumberChannels = rendered.mBuffers[i].mNumberChannels;
        }
    } else {
        m_lastRenderError.store(result, std::memory_order_relaxed);
    }

    for (UInt32 i = 0; i < notifySlots; ++i) {
        const RenderNotify& slot = m_renderNotify[i];
        AURenderCallback proc = slot.proc.load(std::memory_order_acquire);
        if (proc == nullptr) continue;
        AudioUnitRenderActionFlags flags = ioActionFlags | kAudioUnitRenderAction_PostRender;
        if (result != noErr) flags |= kAudioUnitRenderAction_PostRenderError;
        proc(slot.refCon.load(std::memory_order_relaxed), &flags, &inTimeStamp, inBusNumber, inNumberFrames, &ioData);
    }
    return result;
}

// =============================================================================================
// Dispatch

namespace {
template <class T>
T Arg(const ComponentParameters* p, int i) {
    return (T)p->params[i];
}
}  // namespace

OSStatus AUBase::ComponentEntryDispatch(ComponentParameters* params, AUBase* This) {
    if (params == nullptr) return paramErr;
    if (This == nullptr) return paramErr;
    try {
        switch (params->what) {
        case kComponentCloseSelect:
            return ComponentBase::Close(This);
        case kComponentVersionSelect:
            return This->Version();
        case kComponentCanDoSelect:
            switch ((SInt16)Arg<intptr_t>(params, 0)) {
            case kComponentOpenSelect: case kComponentCloseSelect: case kComponentCanDoSelect:
            case kComponentVersionSelect: case kAudioUnitInitializeSelect: case kAudioUnitUninitializeSelect:
            case kAudioUnitGetPropertyInfoSelect: case kAudioUnitGetPropertySelect: case kAudioUnitSetPropertySelect:
            case kAudioUnitGetParameterSelect: case kAudioUnitSetParameterSelect: case kAudioUnitResetSelect:
            case kAudioUnitAddPropertyListenerSelect: case kAudioUnitRemovePropertyListenerSelect:
            case kAudioUnitRemovePropertyListenerWithUserDataSelect: case kAudioUnitRenderSelect:
            case kAudioUnitAddRenderNotifySelect: case kAudioUnitRemoveRenderNotifySelect:
            case kAudioUnitScheduleParametersSelect:
                return 1;
            default:
                return 0;
            }
        case kAudioUnitInitializeSelect:
            return This->DoInitialize();
        case kAudioUnitUninitializeSelect:
            This->DoCleanup();
            return noErr;
        case kAudioUnitGetPropertyInfoSelect: {
            UInt32 size = 0;
            Boolean writable = false;
            OSStatus result = This->GetPropertyInfo(Arg<AudioUnitPropertyID>(params, 0), Arg<AudioUnitScope>(params, 1),
                                                    Arg<AudioUnitElement>(params, 2), size, writable);
            if (result != noErr) return result;
            if (UInt32* outSize = Arg<UInt32*>(params, 3)) *outSize = size;
            if (Boolean* outWritable = Arg<Boolean*>(params, 4)) *outWritable = writable;
            return noErr;
        }
        case kAudioUnitGetPropertySelect:
            return This->DispatchGetProperty(Arg<AudioUnitPropertyID>(params, 0), Arg<AudioUnitScope>(params, 1),
                                             Arg<AudioUnitElement>(params, 2), Arg<void*>(params, 3),
                                             Arg<UInt32*>(params, 4));
        case kAudioUnitSetPropertySelect: {
            const void* data = Arg<const void*>(params, 3);
            if (data == nullptr) return paramErr;  // removing a property value is not supported
            return This->SetProperty(Arg<AudioUnitPropertyID>(params, 0), Arg<AudioUnitScope>(params, 1),
                                     Arg<AudioUnitElement>(params, 2), data, Arg<UInt32>(params, 4));
        }
        case kAudioUnitAddPropertyListenerSelect:
            return This->AddPropertyListener(Arg<AudioUnitPropertyID>(params, 0),
                                             Arg<AudioUnitPropertyListenerProc>(params, 1), Arg<void*>(params, 2));
        case kAudioUnitRemovePropertyListenerSelect:
            return This->RemovePropertyListener(Arg<AudioUnitPropertyID>(params, 0),
                                                Arg<AudioUnitPropertyListenerProc>(params, 1), nullptr, false);
        case kAudioUnitRemovePropertyListenerWithUserDataSelect:
            return This->RemovePropertyListener(Arg<AudioUnitPropertyID>(params, 0),
                                                Arg<AudioUnitPropertyListenerProc>(params, 1), Arg<void*>(params, 2),
                                                true);
        case kAudioUnitAddRenderNotifySelect:
            return This->AddRenderNotify(Arg<AURenderCallback>(params, 0), Arg<void*>(params, 1));
        case kAudioUnitRemoveRenderNotifySelect:
            return This->RemoveRenderNotify(Arg<AURenderCallback>(params, 0), Arg<void*>(params, 1));
        case kAudioUnitGetParameterSelect: {
            AudioUnitParameterValue* out = Arg<AudioUnitParameterValue*>(params, 3);
            if (out == nullptr) return paramErr;
            return This->GetParameter(Arg<AudioUnitParameterID>(params, 0), Arg<AudioUnitScope>(params, 1),
                                      Arg<AudioUnitElement>(params, 2), *out);
        }
        case kAudioUnitSetParameterSelect:
            return This->SetParameter(Arg<AudioUnitParameterID>(params, 0), Arg<AudioUnitScope>(params, 1),
                                      Arg<AudioUnitElement>(params, 2), params->fp[0], Arg<UInt32>(params, 3));
        case kAudioUnitScheduleParametersSelect:
            return This->ScheduleParameter(Arg<const AudioUnitParameterEvent*>(params, 0), Arg<UInt32>(params, 1));
        case kAudioUnitRenderSelect: {
            AudioUnitRenderActionFlags* flags = Arg<AudioUnitRenderActionFlags*>(params, 0);
            const AudioTimeStamp* ts = Arg<const AudioTimeStamp*>(params, 1);
            AudioBufferList* ioData = Arg<AudioBufferList*>(params, 4);
            if (flags == nullptr || ts == nullptr || ioData == nullptr) return paramErr;
            return This->DoRender(*flags, *ts, Arg<UInt32>(params, 2), Arg<UInt32>(params, 3), *ioData);
        }
        case kAudioUnitResetSelect:
            return This->Reset(Arg<AudioUnitScope>(params, 0), Arg<AudioUnitElement>(params, 1));
        default:
            return badComponentSelector;
        }
    } catch (...) {
        return ComponentBase::ResultFromCurrentException();
    }
}
