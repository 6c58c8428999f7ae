// Scopes and elements: where a unit keeps its parameters, stream formats and buffers.
//
// An AUElement stores parameters, either indexed (ids 0 to n - 1, after UseIndexedParameters)
// or in a map keyed by id. Each parameter is one event record whose fields are single atomic
// words: any thread may set a value while the render thread reads it, without a lock.
// An AUIOElement adds a stream format and buffers; an AUInputElement the source of its input
// (a render callback or another unit's output).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "hostframework/AUBufferList.h"
#include "hostframework/AUTypes.h"

class AUBase;

// One parameter's event record: immediate (start = end = value) or a ramp.
struct AUParameterRecord {
    std::atomic<UInt32> eventType{kParameterEvent_Immediate};
    std::atomic<SInt32> bufferOffset{0};
    std::atomic<UInt32> durationInFrames{0};
    std::atomic<AudioUnitParameterValue> startValue{0.f};
    std::atomic<AudioUnitParameterValue> endValue{0.f};

    void SetImmediate(AudioUnitParameterValue value, SInt32 offset = 0);
    void SetRamp(SInt32 offset, UInt32 duration, AudioUnitParameterValue start, AudioUnitParameterValue end);
};

class AUElement {
public:
    explicit AUElement(AUBase* inAudioUnit);
    virtual ~AUElement();
    AUElement(const AUElement&) = delete;
    AUElement& operator=(const AUElement&) = delete;

    AUBase* GetAudioUnit() const { return m_audioUnit; }

    // Parameters. Non-render threads for the store's shape; any thread for values.
    // Switches to an indexed store of `numberOfParameters` ids (0 to n - 1), all 0.
    void UseIndexedParameters(int numberOfParameters);
    bool UsesIndexedParameters() const { return m_useIndexedParameters; }
    UInt32 GetNumberOfParameters() const;
    void GetParameterList(AudioUnitParameterID* outList) const;  // room for GetNumberOfParameters ids
    bool HasParameterID(AudioUnitParameterID paramID) const;
    // The start value of the parameter's record; throws -10878 for an id the element does not hold.
    AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) const;
    // Values of ids 0 to count - 1 into out, each read once (as GetParameter would, throwing for
    // an id the element does not hold); one pass for indexed parameters. Any thread.
    void GetParameters(UInt32 count, AudioUnitParameterValue* out) const;
    // Records an immediate value. An id the indexed store does not hold throws -10878; a map store
    // adds a new id only while the unit is uninitialised (or when okWhenInitialized), else -10878.
    void SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value, bool okWhenInitialized = false);
    // Render thread: records a scheduled event (immediate or ramp) whose slice starts at
    // `sliceOffsetInBuffer`. The id must exist (checked when the event was scheduled).
    void SetScheduledEvent(const AudioUnitParameterEvent& event, UInt32 sliceOffsetInBuffer);
    // The record of an id, or null. Never throws; render-safe.
    AUParameterRecord* FindParameter(AudioUnitParameterID paramID);
    const AUParameterRecord* FindParameter(AudioUnitParameterID paramID) const;

    // Name (property 30). The element keeps its own reference.
    CFStringRef GetName() const { return m_elementName; }
    void SetName(CFStringRef name);
    bool HasName() const { return m_elementName != nullptr; }

private:
    AUBase* m_audioUnit;
    bool m_useIndexedParameters = false;
    std::unique_ptr<AUParameterRecord[]> m_indexedParameters;
    UInt32 m_numIndexedParameters = 0;
    std::map<AudioUnitParameterID, AUParameterRecord> m_parameters;
    CFStringRef m_elementName = nullptr;
};

class AUIOElement : public AUElement {
public:
    explicit AUIOElement(AUBase* inAudioUnit);

    // Default: 44100 Hz, two channels, 32-bit float non-interleaved.
    const AudioStreamBasicDescription& GetStreamFormat() const { return m_streamFormat; }
    // Validates and stores a format: linear PCM, native-endian packed 32-bit float, interleaved or
    // not, a finite positive rate, 1 to kMaxChannels channels. Returns -10868 and changes nothing
    // otherwise.
    virtual OSStatus SetStreamFormat(const AudioStreamBasicDescription& format);
    static OSStatus ValidateFormat(const AudioStreamBasicDescription& format);
    static AudioStreamBasicDescription CanonicalFormat(Float64 sampleRate, UInt32 channels, bool interleaved = false);

    UInt32 NumberChannels() const { return m_streamFormat.mChannelsPerFrame; }
    bool IsInterleaved() const { return (m_streamFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0; }

    // Non-render thread: memory for the maximum frames per slice.
    void AllocateBuffer(UInt32 maxFrames);
    void DeallocateBuffer();
    // Render thread.
    AudioBufferList& PrepareBuffer(UInt32 nFrames) { return m_ioBuffer.PrepareBuffer(m_streamFormat, nFrames); }
    AudioBufferList& PrepareNullBuffer(UInt32 nFrames) { return m_ioBuffer.PrepareNullBuffer(m_streamFormat, nFrames); }
    bool SetBufferList(const AudioBufferList& abl) { return m_ioBuffer.SetBufferList(abl); }
    AudioBufferList& GetBufferList() { return m_ioBuffer.GetBufferList(); }
    AUBufferList& GetBuffers() { return m_ioBuffer; }
    // Samples of one channel's buffer (non-interleaved) or of the one interleaved buffer.
    Float32* GetChannelData(UInt32 buffer);

    static constexpr UInt32 kMaxChannels = 64;

protected:
    AudioStreamBasicDescription m_streamFormat;
    AUBufferList m_ioBuffer;
};

class AUInputElement : public AUIOElement {
public:
    explicit AUInputElement(AUBase* inAudioUnit);

    // Non-render threads (property 1 and 23). A callback with a null procedure, or a connection
    // with a null source, removes that source.
    void SetConnection(const AudioUnitConnection& connection);
    void SetInputCallback(AURenderCallback proc, void* refCon);
    const AudioUnitConnection& GetConnection() const { return m_connection; }
    AURenderCallbackStruct GetInputCallback() const { return {m_inputProc, m_inputProcRefCon}; }
    bool HasConnection() const { return m_connection.sourceAudioUnit != nullptr; }
    bool IsActive() const { return HasConnection() || m_inputProc != nullptr; }

    // Render thread: fills the element's buffer list with `nFrames` of input from the callback or
    // the connected unit. -10876 without a source; a source's error is returned as is; a source
    // that leaves a buffer without data, too small or of the wrong count gives -50.
    OSStatus PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                       AudioUnitElement inElement, UInt32 nFrames);

private:
    AudioUnitConnection m_connection{nullptr, 0, 0};
    AURenderCallback m_inputProc = nullptr;
    void* m_inputProcRefCon = nullptr;
};

class AUOutputElement : public AUIOElement {
public:
    explicit AUOutputElement(AUBase* inAudioUnit);
};

class AUScope {
public:
    AUScope() = default;
    void Initialize(AUBase* unit, AudioUnitScope scope) { m_unit = unit; m_scope = scope; }
    AudioUnitScope GetScope() const { return m_scope; }

    UInt32 GetNumberOfElements() const { return (UInt32)m_elements.size(); }
    // Null when the element does not exist.
    AUElement* GetElement(AudioUnitElement element) const {
        return element < m_elements.size() ? m_elements[element].get() : nullptr;
    }
    // Throws -10877 when the element does not exist.
    AUElement* SafeGetElement(AudioUnitElement element) const;
    AUIOElement* GetIOElement(AudioUnitElement element) const;

    // Non-render thread, at element creation.
    void AddElement(std::unique_ptr<AUElement> element) { m_elements.push_back(std::move(element)); }

private:
    AUBase* m_unit = nullptr;
    AudioUnitScope m_scope = kAudioUnitScope_Global;
    std::vector<std::unique_ptr<AUElement>> m_elements;
};
