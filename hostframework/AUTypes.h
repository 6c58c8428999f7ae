// Plain types, numeric constants and records of the Audio Unit component interface.
// The numbers are the platform's public values: stored states, scripts and OSC clients see them.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t OSStatus;
typedef int32_t ComponentResult;
typedef uint8_t UInt8;
typedef int16_t SInt16;
typedef uint16_t UInt16;
typedef int32_t SInt32;
typedef uint32_t UInt32;
typedef int64_t SInt64;
typedef uint64_t UInt64;
typedef float Float32;
typedef double Float64;
typedef unsigned char Boolean;
typedef uint32_t OSType;
typedef uint32_t FourCharCode;

typedef UInt32 AudioUnitPropertyID;
typedef UInt32 AudioUnitScope;
typedef UInt32 AudioUnitElement;
typedef UInt32 AudioUnitParameterID;
typedef Float32 AudioUnitParameterValue;
typedef UInt32 AudioUnitRenderActionFlags;
typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

// ---------------------------------------------------------------------------------------------
// Result codes

enum : OSStatus {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    fnfErr = -43,
    badComponentInstance = (OSStatus)0x80008001,
    badComponentSelector = (OSStatus)0x80008002,

    kAudioUnitErr_InvalidProperty = -10879,
    kAudioUnitErr_InvalidParameter = -10878,
    kAudioUnitErr_InvalidElement = -10877,
    kAudioUnitErr_NoConnection = -10876,
    kAudioUnitErr_FailedInitialization = -10875,
    kAudioUnitErr_TooManyFramesToProcess = -10874,
    kAudioUnitErr_InvalidFile = -10871,
    kAudioUnitErr_FormatNotSupported = -10868,
    kAudioUnitErr_Uninitialized = -10867,
    kAudioUnitErr_InvalidScope = -10866,
    kAudioUnitErr_PropertyNotWritable = -10865,
    kAudioUnitErr_CannotDoInCurrentContext = -10863,
    kAudioUnitErr_InvalidPropertyValue = -10851,
    kAudioUnitErr_PropertyNotInUse = -10850,
    kAudioUnitErr_Initialized = -10849,
    kAudioUnitErr_InvalidOfflineRender = -10848,
    kAudioUnitErr_Unauthorized = -10847,
};

// ---------------------------------------------------------------------------------------------
// Scopes

enum : AudioUnitScope {
    kAudioUnitScope_Global = 0,
    kAudioUnitScope_Input = 1,
    kAudioUnitScope_Output = 2,
    kAudioUnitScope_Group = 3,
    kAudioUnitScope_Part = 4,
};

// ---------------------------------------------------------------------------------------------
// Properties

enum : AudioUnitPropertyID {
    kAudioUnitProperty_ClassInfo = 0,
    kAudioUnitProperty_MakeConnection = 1,
    kAudioUnitProperty_SampleRate = 2,
    kAudioUnitProperty_ParameterList = 3,
    kAudioUnitProperty_ParameterInfo = 4,
    kAudioUnitProperty_StreamFormat = 8,
    kAudioUnitProperty_ElementCount = 11,
    kAudioUnitProperty_Latency = 12,
    kAudioUnitProperty_SupportedNumChannels = 13,
    kAudioUnitProperty_MaximumFramesPerSlice = 14,
    kAudioUnitProperty_ParameterValueStrings = 16,
    kAudioUnitProperty_GetUIComponentList = 18,
    kAudioUnitProperty_TailTime = 20,
    kAudioUnitProperty_BypassEffect = 21,
    kAudioUnitProperty_LastRenderError = 22,
    kAudioUnitProperty_SetRenderCallback = 23,
    kAudioUnitProperty_FactoryPresets = 24,
    kAudioUnitProperty_RenderQuality = 26,
    kAudioUnitProperty_InPlaceProcessing = 29,
    kAudioUnitProperty_ElementName = 30,
    kAudioUnitProperty_CocoaUI = 31,
    kAudioUnitProperty_SupportedChannelLayoutTags = 32,
    kAudioUnitProperty_ParameterStringFromValue = 33,
    kAudioUnitProperty_PresentPreset = 36,
    kAudioUnitProperty_OfflineRender = 37,
    kAudioUnitProperty_ParameterValueFromString = 38,
    kAudioUnitProperty_ShouldAllocateBuffer = 51,
    kAudioUnitProperty_CPULoad = 6,
    kMusicDeviceProperty_MIDIXMLNames = 1006,
};

// ---------------------------------------------------------------------------------------------
// Parameter units and flags

typedef UInt32 AudioUnitParameterUnit;
enum : AudioUnitParameterUnit {
    kAudioUnitParameterUnit_Generic = 0,
    kAudioUnitParameterUnit_Indexed = 1,
    kAudioUnitParameterUnit_Boolean = 2,
    kAudioUnitParameterUnit_Percent = 3,
    kAudioUnitParameterUnit_Seconds = 4,
    kAudioUnitParameterUnit_SampleFrames = 5,
    kAudioUnitParameterUnit_Phase = 6,
    kAudioUnitParameterUnit_Rate = 7,
    kAudioUnitParameterUnit_Hertz = 8,
    kAudioUnitParameterUnit_Cents = 9,
    kAudioUnitParameterUnit_RelativeSemiTones = 10,
    kAudioUnitParameterUnit_MIDINoteNumber = 11,
    kAudioUnitParameterUnit_MIDIController = 12,
    kAudioUnitParameterUnit_Decibels = 13,
    kAudioUnitParameterUnit_LinearGain = 14,
    kAudioUnitParameterUnit_Degrees = 15,
    kAudioUnitParameterUnit_EqualPowerCrossfade = 16,
    kAudioUnitParameterUnit_MixerFaderCurve1 = 17,
    kAudioUnitParameterUnit_Pan = 18,
    kAudioUnitParameterUnit_Meters = 19,
    kAudioUnitParameterUnit_AbsoluteCents = 20,
    kAudioUnitParameterUnit_Octaves = 21,
    kAudioUnitParameterUnit_BPM = 22,
    kAudioUnitParameterUnit_Beats = 23,
    kAudioUnitParameterUnit_Milliseconds = 24,
    kAudioUnitParameterUnit_Ratio = 25,
    kAudioUnitParameterUnit_CustomUnit = 26,
};

typedef UInt32 AudioUnitParameterOptions;
enum : AudioUnitParameterOptions {
    kAudioUnitParameterFlag_Global = (1u << 0),  // legacy global-scope bit
    kAudioUnitParameterFlag_Input = (1u << 1),
    kAudioUnitParameterFlag_Output = (1u << 2),
    kAudioUnitParameterFlag_CFNameRelease = (1u << 4),
    kAudioUnitParameterFlag_PlotHistory = (1u << 14),
    kAudioUnitParameterFlag_MeterReadOnly = (1u << 15),
    kAudioUnitParameterFlag_DisplayMask = (7u << 16) | (1u << 22),
    kAudioUnitParameterFlag_IsHighResolution = (1u << 23),
    kAudioUnitParameterFlag_NonRealTime = (1u << 24),
    kAudioUnitParameterFlag_CanRamp = (1u << 25),
    kAudioUnitParameterFlag_ExpertMode = (1u << 26),
    kAudioUnitParameterFlag_HasCFNameString = (1u << 27),
    kAudioUnitParameterFlag_IsGlobalMeta = (1u << 28),
    kAudioUnitParameterFlag_IsElementMeta = (1u << 29),
    kAudioUnitParameterFlag_IsReadable = (1u << 30),
    kAudioUnitParameterFlag_IsWritable = (1u << 31),
    kAudioUnitParameterFlag_ValuesHaveStrings = (1u << 21),
};

// ---------------------------------------------------------------------------------------------
// Stream formats

enum : AudioFormatID { kAudioFormatLinearPCM = 0x6C70636D /* 'lpcm' */ };

enum : AudioFormatFlags {
    kAudioFormatFlagIsFloat = (1u << 0),
    kAudioFormatFlagIsBigEndian = (1u << 1),
    kAudioFormatFlagIsSignedInteger = (1u << 2),
    kAudioFormatFlagIsPacked = (1u << 3),
    kAudioFormatFlagIsAlignedHigh = (1u << 4),
    kAudioFormatFlagIsNonInterleaved = (1u << 5),
    kAudioFormatFlagIsNonMixable = (1u << 6),
    kAudioFormatFlagsNativeFloatPacked = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
    kAudioFormatFlagsCanonical = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
    kAudioFormatFlagsAudioUnitCanonical =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved,
};

struct AudioStreamBasicDescription {
    Float64 mSampleRate;
    AudioFormatID mFormatID;
    AudioFormatFlags mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};

// 32-bit float linear PCM: the canonical non-interleaved layout (one buffer per channel), or
// interleaved in one buffer. Hosts and elements build their formats with it.
inline AudioStreamBasicDescription CanonicalStreamFormat(Float64 sampleRate, UInt32 channels, bool interleaved = false) {
    AudioStreamBasicDescription f{};
    f.mSampleRate = sampleRate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = interleaved ? kAudioFormatFlagsNativeFloatPacked : kAudioFormatFlagsAudioUnitCanonical;
    f.mBytesPerFrame = f.mBytesPerPacket = interleaved ? 4 * channels : 4;
    f.mFramesPerPacket = 1;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    return f;
}

struct AudioBuffer {
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

struct AudioBufferList {
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];  // variable length: mNumberBuffers entries
};

inline size_t AudioBufferListSize(UInt32 numberBuffers) {
    return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * (numberBuffers ? numberBuffers : 1);
}

// ---------------------------------------------------------------------------------------------
// Time stamps and render

struct SMPTETime {
    SInt16 mSubframes, mSubframeDivisor;
    UInt32 mCounter, mType, mFlags;
    SInt16 mHours, mMinutes, mSeconds, mFrames;
};

enum : UInt32 {
    kAudioTimeStampSampleTimeValid = (1u << 0),
    kAudioTimeStampHostTimeValid = (1u << 1),
    kAudioTimeStampRateScalarValid = (1u << 2),
};

struct AudioTimeStamp {
    Float64 mSampleTime;
    UInt64 mHostTime;
    Float64 mRateScalar;
    UInt64 mWordClockTime;
    SMPTETime mSMPTETime;
    UInt32 mFlags;
    UInt32 mReserved;
};

enum : AudioUnitRenderActionFlags {
    kAudioUnitRenderAction_PreRender = (1u << 2),
    kAudioUnitRenderAction_PostRender = (1u << 3),
    kAudioUnitRenderAction_OutputIsSilence = (1u << 4),
    kAudioOfflineUnitRenderAction_Preflight = (1u << 5),
    kAudioOfflineUnitRenderAction_Render = (1u << 6),
    kAudioOfflineUnitRenderAction_Complete = (1u << 7),
    kAudioUnitRenderAction_PostRenderError = (1u << 8),
    kAudioUnitRenderAction_DoNotCheckRenderArgs = (1u << 9),
};

typedef OSStatus (*AURenderCallback)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                     const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                                     UInt32 inNumberFrames, AudioBufferList* ioData);

struct AURenderCallbackStruct {
    AURenderCallback inputProc;
    void* inputProcRefCon;
};

// ---------------------------------------------------------------------------------------------
// Component description and instances

struct AudioComponentDescription {
    OSType componentType;
    OSType componentSubType;
    OSType componentManufacturer;
    UInt32 componentFlags;
    UInt32 componentFlagsMask;
};

struct ComponentInstanceRecord;
typedef ComponentInstanceRecord* ComponentInstance;
typedef ComponentInstance AudioComponentInstance;
typedef ComponentInstance AudioUnit;

struct AudioUnitConnection {
    AudioUnit sourceAudioUnit;
    UInt32 sourceOutputNumber;
    UInt32 destInputNumber;
};

// ---------------------------------------------------------------------------------------------
// Parameters

struct AudioUnitParameter {
    AudioUnit mAudioUnit;
    AudioUnitParameterID mParameterID;
    AudioUnitScope mScope;
    AudioUnitElement mElement;
};

struct __CFString;
typedef const __CFString* CFStringRef;
struct __CFArray;
typedef const __CFArray* CFArrayRef;
typedef __CFArray* CFMutableArrayRef;
struct __CFURL;
typedef const __CFURL* CFURLRef;

struct AudioUnitParameterInfo {
    char name[52];
    CFStringRef unitName;
    UInt32 clumpID;
    CFStringRef cfNameString;
    AudioUnitParameterUnit unit;
    AudioUnitParameterValue minValue;
    AudioUnitParameterValue maxValue;
    AudioUnitParameterValue defaultValue;
    AudioUnitParameterOptions flags;
};

struct AudioUnitParameterStringFromValue {
    AudioUnitParameterID inParamID;
    const AudioUnitParameterValue* inValue;
    CFStringRef outString;
};

struct AudioUnitCocoaViewInfo {
    CFURLRef mCocoaAUViewBundleLocation;
    CFStringRef mCocoaAUViewClass[1];
};

struct AUPreset {
    SInt32 presetNumber;
    CFStringRef presetName;
};

enum AUParameterEventType : UInt32 { kParameterEvent_Immediate = 1, kParameterEvent_Ramped = 2 };

struct AudioUnitParameterEvent {
    AudioUnitScope scope;
    AudioUnitElement element;
    AudioUnitParameterID parameter;
    AUParameterEventType eventType;
    union {
        struct {
            SInt32 startBufferOffset;
            UInt32 durationInFrames;
            AudioUnitParameterValue startValue;
            AudioUnitParameterValue endValue;
        } ramp;
        struct {
            UInt32 bufferOffset;
            AudioUnitParameterValue value;
        } immediate;
    } eventValues;
};

typedef void (*AudioUnitPropertyListenerProc)(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                                              AudioUnitScope inScope, AudioUnitElement inElement);

// ---------------------------------------------------------------------------------------------
// Component types, four-character codes

constexpr OSType FourCC(const char (&s)[5]) {
    return (OSType(UInt8(s[0])) << 24) | (OSType(UInt8(s[1])) << 16) | (OSType(UInt8(s[2])) << 8) | OSType(UInt8(s[3]));
}

enum : OSType {
    kAudioUnitType_Effect = FourCC("aufx"),
    kAudioUnitType_MusicEffect = FourCC("aumf"),
};
