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

    AUBase* GetAudioUnit() const { return mAudioUnit; }

    // Parameters. Non-render threads for the store's shape; any thread for values.
    // Switches to an indexed store of `numberOfParameters` ids (0 to n - 1), all 0.
    void UseIndexedParameters(int numberOfParameters);
    bool UsesIndexedParameters() const { return mUseIndexedParameters; }
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
    CFStringRef GetName() const { return mElementName; }
    void SetName(CFStringRef name);
    bool HasName() const { return mElementName != nullptr; }

private:
    AUBase* mAudioUnit;
    bool mUseIndexedParameters = false;
    std::unique_ptr<AUParameterRecord[]> mIndexedParameters;
    UInt32 mNumIndexedParameters = 0;
    std::map<AudioUnitParameterID, AUParameterRecord> mParameters;
    CFStringRef mElementName = nullptr;
};

class AUIOElement : public AUElement {
public:
    explicit AUIOElement(AUBase* inAudioUnit);

    // Default: 44100 Hz, two channels, 32-bit float non-interleaved.
    const AudioStreamBasicDescription& GetStreamFormat() const { return mStreamFormat; }
    // Validates and stores a format: linear PCM, native-endian packed 32-bit float, interleaved or
    // not, a finite positive rate, 1 to kMaxChannels channels. Returns -10868 and changes nothing
    // otherwise.
    virtual OSStatus SetStreamFormat(const AudioStreamBasicDescription& format);
    static OSStatus ValidateFormat(const AudioStreamBasicDescription& format);
    static AudioStreamBasicDescription CanonicalFormat(Float64 sampleRate, UInt32 channels, bool interleaved = false);

    UInt32 NumberChannels() const { return mStreamFormat.mChannelsPerFrame; }
    bool IsInterleaved() const { return (mStreamFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0; }

    // Non-render thread: memory for the maximum frames per slice.
    void AllocateBuffer(UInt32 maxFrames);
    void DeallocateBuffer();
    // Render thread.
    AudioBufferList& PrepareBuffer(UInt32 nFrames) { return mIOBuffer.PrepareBuffer(mStreamFormat, nFrames); }
    AudioBufferList& PrepareNullBuffer(UInt32 nFrames) { return mIOBuffer.PrepareNullBuffer(mStreamFormat, nFrames); }
    bool SetBufferList(const AudioBufferList& abl) { return mIOBuffer.SetBufferList(abl); }
    AudioBufferList& GetBufferList() { return mIOBuffer.GetBufferList(); }
    AUBufferList& GetBuffers() { return mIOBuffer; }
    // Samples of one channel's buffer (non-interleaved) or of the one interleaved buffer.
    Float32* GetChannelData(UInt32 buffer);

    static constexpr UInt32 kMaxChannels = 64;

protected:
    AudioStreamBasicDescription mStreamFormat;
    AUBufferList mIOBuffer;
};

class AUInputElement : public AUIOElement {
public:
    explicit AUInputElement(AUBase* inAudioUnit);

    // Non-render threads (property 1 and 23). A callback with a null procedure, or a connection
    // with a null source, removes that source.
    void SetConnection(const AudioUnitConnection& connection);
    void SetInputCallback(AURenderCallback proc, void* refCon);
    const AudioUnitConnection& GetConnection() const { return mConnection; }
    AURenderCallbackStruct GetInputCallback() const { return {mInputProc, mInputProcRefCon}; }
    bool HasConnection() const { return mConnection.sourceAudioUnit != nullptr; }
    bool IsActive() const { return HasConnection() || mInputProc != nullptr; }

    // Render thread: fills the element's buffer list with `nFrames` of input from the callback or
    // the connected unit. -10876 without a source; a source's error is returned as is; a source
    // that leaves a buffer without data, too small or of the wrong count gives -50.
    OSStatus PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                       AudioUnitElement inElement, UInt32 nFrames);

private:
    AudioUnitConnection mConnection{nullptr, 0, 0};
    AURenderCallback mInputProc = nullptr;
    void* mInputProcRefCon = nullptr;
};

class AUOutputElement : public AUIOElement {
public:
    explicit AUOutputElement(AUBase* inAudioUnit);
};

class AUScope {
public:
    AUScope() = default;
    void Initialize(AUBase* unit, AudioUnitScope scope) { mUnit = unit; mScope = scope; }
    AudioUnitScope GetScope() const { return mScope; }

    UInt32 GetNumberOfElements() const { return (UInt32)mElements.size(); }
    // Null when the element does not exist.
    AUElement* GetElement(AudioUnitElement element) const {
        return element < mElements.size() ? mElements[element].get() : nullptr;
    }
    // Throws -10877 when the element does not exist.
    AUElement* SafeGetElement(AudioUnitElement element) const;
    AUIOElement* GetIOElement(AudioUnitElement element) const;

    // Non-render thread, at element creation.
    void AddElement(std::unique_ptr<AUElement> element) { mElements.push_back(std::move(element)); }
    void ClearElements() { mElements.clear(); }

private:
    AUBase* mUnit = nullptr;
    AudioUnitScope mScope = kAudioUnitScope_Global;
    std::vector<std::unique_ptr<AUElement>> mElements;
};
