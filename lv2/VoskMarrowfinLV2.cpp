// One LV2 plug-in instance around the Marrowfin effect unit.
#include "lv2/VoskMarrowfinLV2.h"

#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "effect/DataToGui.h"
#include "effect/MarrowfinConstants.h"
#include "effect/VoskMarrowfinEntry.h"
#include "hostframework/CFLite.h"
#include "hostframework/PropertyListParse.h"
#include "lv2/VoskMarrowfinLV2MainLoop.h"

using namespace MarrowfinLV2;

namespace {

// Host sample rates we accept; anything else is refused at instantiation.
constexpr double kMinSampleRate = 1000.0;
constexpr double kMaxSampleRate = 1536000.0;

std::string WithoutTrailingSlash(const char* path) {
    std::string folder = path ? path : "";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// The instances alive in this process, for a host that exits without freeing them. Allocated
// once and never destroyed, so no static destructor runs over it while the exit handler reads it.
std::mutex g_liveLock;
std::vector<VoskMarrowfinLV2*>* g_live = nullptr;
bool g_exitHandlerRegistered = false;

}  // namespace

VoskMarrowfinLV2::VoskMarrowfinLV2(uint32_t channels, double sampleRate)
    : m_channels(channels),
      m_sampleRate(sampleRate),
      m_latencyFrames(uint32_t(MarrowfinAnalysisWindow(float(sampleRate)))) {
    for (auto& value : m_lastControl) value.store(std::numeric_limits<float>::quiet_NaN(), std::memory_order_relaxed);
    for (AudioUnitParameterID id = 0; id < kNumParams; ++id) m_watch[id] = &m_seenBits[id];
}

VoskMarrowfinLV2* VoskMarrowfinLV2::Create(uint32_t channels, double sampleRate, const char* bundlePath,
                                           const LV2_Feature* const* features) {
    if (channels < 1 || channels > 2) return nullptr;
    VoskMarrowfinLV2* self = nullptr;
    try {
        self = new VoskMarrowfinLV2(channels, sampleRate);
        if (self->SetUp(bundlePath, features)) return self;
    } catch (const std::exception& e) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: %s\n", e.what());
    } catch (...) {
        TB::LogLine(TB::LogLevel::kError, "marrowfin.lv2 error: instantiation failed\n");
    }
    delete self;
    return nullptr;
}

void VoskMarrowfinLV2::ReadFeatures(const LV2_Feature* const* features) {
    const LV2_Log_Log* log = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (int i = 0; features && features[i]; ++i) {
        const LV2_Feature* f = features[i];
        if (!f->URI) continue;
        if (!std::strcmp(f->URI, LV2_URID__map)) m_map = static_cast<LV2_URID_Map*>(f->data);
        else if (!std::strcmp(f->URI, LV2_LOG__log)) log = static_cast<const LV2_Log_Log*>(f->data);
        else if (!std::strcmp(f->URI, LV2_OPTIONS__options)) options = static_cast<const LV2_Options_Option*>(f->data);
        else if (!std::strcmp(f->URI, LV2_WORKER__schedule))
            m_schedule = static_cast<const LV2_Worker_Schedule*>(f->data);
    }
    if (m_map && !m_map->map) m_map = nullptr;
    if (m_schedule && !m_schedule->schedule_work) m_schedule = nullptr;
    if (!m_map) return;

    // From here on every diagnostic line of the process goes to the host's log, until cleanup.
    if (log && log->printf) {
        m_hostLog = log;
        m_uridLogNote = m_map->map(m_map->handle, LV2_LOG__Note);
        m_uridLogError = m_map->map(m_map->handle, LV2_LOG__Error);
        m_logSinkToken = TB::AddLogSink(&VoskMarrowfinLV2::LogToHost, this);
    }

    m_uridMidiEvent = m_map->map(m_map->handle, LV2_MIDI__MidiEvent);
    m_uridSequence = m_map->map(m_map->handle, LV2_ATOM__Sequence);
    m_uridAtomString = m_map->map(m_map->handle, LV2_ATOM__String);
    m_uridClassInfo = m_map->map(m_map->handle, kStateClassInfoURI);
    m_uridPortValues = m_map->map(m_map->handle, kStatePortValuesURI);
    m_uridVector = m_map->map(m_map->handle, LV2_ATOM__Vector);
    m_uridFloat = m_map->map(m_map->handle, LV2_ATOM__Float);

    // The host's largest block sets the slice size; run() cuts longer blocks anyway.
    const LV2_URID maxBlock = m_map->map(m_map->handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID atomInt = m_map->map(m_map->handle, LV2_ATOM__Int);
    for (int i = 0; options && options[i].key; ++i) {
        const LV2_Options_Option& o = options[i];
        if (o.key == maxBlock && o.type == atomInt && o.size == sizeof(int32_t) && o.value) {
            const int32_t value = *static_cast<const int32_t*>(o.value);
            if (value > 0) m_maxFrames = std::min<uint32_t>(uint32_t(value), kLargestMaxFrames);
        }
    }
}

bool VoskMarrowfinLV2::SetUp(const char* bundlePath, const LV2_Feature* const* features) {
    ReadFeatures(features);
    if (!(m_sampleRate >= kMinSampleRate && m_sampleRate <= kMaxSampleRate)) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: unsupported sample rate %g\n", m_sampleRate);
        return false;
    }

    m_silence.assign(m_maxFrames, 0.f);
    for (uint32_t c = 0; c < m_channels; ++c) m_discard[c].assign(m_maxFrames, 0.f);
    m_outListStorage.assign(AudioBufferListSize(m_channels), 0);
    m_outList = reinterpret_cast<AudioBufferList*>(m_outListStorage.data());
    m_outList->mNumberBuffers = m_channels;

    // The unit finds midi.lua and its other resources in the plug-in's own bundle folder.
    const std::string folder = WithoutTrailingSlash(bundlePath);
    if (!folder.empty()) TBRegisterBundleIdentifier(kMarrowfinBundleIdentifier, folder);

    VoskMarrowfinLV2AcquireMainLoop();
    m_holdsMainLoop = true;

    OSStatus err = noErr;
    m_unit = OpenMarrowfin(&err);
    if (!m_unit) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: cannot open the effect unit (%d)\n", int(err));
        return false;
    }

    const AudioStreamBasicDescription format = CanonicalStreamFormat(m_sampleRate, m_channels);
    const UInt32 maxFrames = m_maxFrames;
    AURenderCallbackStruct input{&VoskMarrowfinLV2::InputCallback, this};
    const struct {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        const void* data;
        UInt32 size;
        const char* what;
    } setup[] = {
        {kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, &format, sizeof format, "input format"},
        {kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, &format, sizeof format, "output format"},
        {kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, &maxFrames, sizeof maxFrames, "slice size"},
        {kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, &input, sizeof input, "input callback"},
    };
    for (const auto& s : setup) {
        err = AudioUnitSetProperty(m_unit, s.id, s.scope, 0, s.data, s.size);
        if (err != noErr) {
            TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: the unit refused the %s (%d)\n", s.what,
                          int(err));
            return false;
        }
    }
    m_worker = std::make_unique<VoskMarrowfinLV2Worker>(m_unit, m_stateGeneration);
    UInt32 dataSize = sizeof m_unitData;
    if (AudioUnitGetProperty(m_unit, kMarrowfinProperty_DataToGui, kAudioUnitScope_Global, 0, &m_unitData, &dataSize) !=
        noErr)
        m_unitData = nullptr;

    std::lock_guard<std::mutex> lock(g_liveLock);
    if (!g_live) g_live = new std::vector<VoskMarrowfinLV2*>;
    g_live->push_back(this);
    // Registered after the unit's own static objects exist, so it runs before they are destroyed.
    if (!g_exitHandlerRegistered) g_exitHandlerRegistered = std::atexit(&VoskMarrowfinLV2::QuiesceAtExit) == 0;
    return true;
}

VoskMarrowfinLV2::~VoskMarrowfinLV2() {
    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        if (g_live) std::erase(*g_live, this);
    }
    Deactivate();
    m_worker.reset();
    if (m_unit) CloseComponent(m_unit);
    if (m_holdsMainLoop) VoskMarrowfinLV2ReleaseMainLoop();
    if (m_logSinkToken) TB::RemoveLogSink(m_logSinkToken);
}

void VoskMarrowfinLV2::QuiesceAtExit() {
    // The process is exiting (or the binary is being unloaded) with instances the host never
    // freed. Their threads must end before the static objects they use are destroyed: stop
    // each worker and the unit's OSC tasks, and the run loop thread. The instances themselves
    // stay allocated, in case a host thread still holds one.
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (g_live) {
        for (VoskMarrowfinLV2* instance : *g_live) {
            try {
                instance->Deactivate();
            } catch (...) {
            }
            if (instance->m_logSinkToken) TB::RemoveLogSink(instance->m_logSinkToken);
            instance->m_logSinkToken = 0;
        }
    }
    VoskMarrowfinLV2StopMainLoopAtExit();
}

void VoskMarrowfinLV2::LogToHost(void* context, TB::LogLevel level, const char* line) {
    const auto* self = static_cast<const VoskMarrowfinLV2*>(context);
    const LV2_URID type = level == TB::LogLevel::kError ? self->m_uridLogError : self->m_uridLogNote;
    self->m_hostLog->printf(self->m_hostLog->handle, type, "%s", line);
}

void VoskMarrowfinLV2::ConnectPort(uint32_t port, void* data) {
    if (port < kNumParams) {
        m_controls[port] = static_cast<const float*>(data);
        // A port connected anew is looked at in the next run.
        m_watch[port] = data ? data : &m_seenBits[port];
        m_seenBits[port] = ~uint32_t(0) >> 1;
    } else if (port == kPortLatency) {
        m_latencyPort = static_cast<float*>(data);
    } else if (port == kPortControl) {
        m_midiPort = static_cast<const LV2_Atom_Sequence*>(data);
    } else if (port >= AudioInPort(0) && port < AudioInPort(m_channels)) {
        m_in[port - AudioInPort(0)] = static_cast<const float*>(data);
    } else if (port >= AudioOutPort(m_channels, 0) && port < AudioOutPort(m_channels, m_channels)) {
        m_out[port - AudioOutPort(m_channels, 0)] = static_cast<float*>(data);
    } else if (port == DisplayPort(m_channels)) {
        m_displayPort = static_cast<LV2_Atom_Sequence*>(data);
    }
}

void VoskMarrowfinLV2::Activate() {
    if (m_active) return;
    const OSStatus err = AudioUnitInitialize(m_unit);
    if (err != noErr) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: the unit did not initialise (%d)\n", int(err));
    }
    AudioUnitReset(m_unit, kAudioUnitScope_Global, 0);
    ReapplyOSCPortOffset();
    m_active = true;
    if (!m_schedule) m_worker->Start();
}

void VoskMarrowfinLV2::ReapplyOSCPortOffset() {
    // The unit's OSC service takes up a port only when asked while the unit is initialised. A
    // host may restore a state (or the offset may have been set) before activation, or between
    // a deactivation and the next activation: ask again now, with the offset the unit holds.
    // This only hands the port to the OSC task, which binds it.
    AudioUnitParameterValue offset = 0;
    if (AudioUnitGetParameter(m_unit, kParam_OSCPortOffset, kAudioUnitScope_Global, 0, &offset) == noErr)
        AudioUnitSetParameter(m_unit, kParam_OSCPortOffset, kAudioUnitScope_Global, 0, offset, 0);
}

void VoskMarrowfinLV2::Deactivate() {
    if (!m_active) return;
    m_worker->Stop();  // delivers what run() queued while the unit can still take MIDI
    AudioUnitUninitialize(m_unit);
    m_active = false;
}

void VoskMarrowfinLV2::PostJob(const VoskMarrowfinLV2Job& job) {
    // A full queue (ours or the host's) drops the items: run() never waits.
    if (m_schedule) {
        m_batch[m_batchCount++] = job;
        if (m_batchCount == kBatchJobs) ScheduleBatch();
    } else if (m_worker->Post(job)) {
        m_postedThisRun = true;
    }
}

void VoskMarrowfinLV2::ScheduleBatch() {
    if (m_batchCount == 0) return;
    m_schedule->schedule_work(m_schedule->handle, m_batchCount * uint32_t(sizeof(VoskMarrowfinLV2Job)), m_batch);
    m_batchCount = 0;
}

LV2_Worker_Status VoskMarrowfinLV2::Work(uint32_t size, const void* data) {
    constexpr uint32_t kJobSize = sizeof(VoskMarrowfinLV2Job);
    if (!data || size == 0 || size % kJobSize != 0) return LV2_WORKER_ERR_UNKNOWN;
    const uint32_t generation = m_stateGeneration.load(std::memory_order_acquire);
    for (uint32_t at = 0; at < size; at += kJobSize) {
        VoskMarrowfinLV2Job job;
        std::memcpy(&job, static_cast<const unsigned char*>(data) + at, kJobSize);
        VoskMarrowfinLV2Worker::Deliver(m_unit, job, generation);
    }
    return LV2_WORKER_SUCCESS;
}

void VoskMarrowfinLV2::ApplyControls() {
    // Most runs change no control: first compare every port's bits with those this function saw
    // in it last, without a branch per port, and walk the ports only on a difference. The walk
    // decides against the values last taken, so a restored state or a NaN port is handled there.
    uint32_t differ = 0;
#pragma GCC unroll 8
    for (AudioUnitParameterID id = 0; id < kNumParams; ++id) {
        uint32_t bits;
        std::memcpy(&bits, m_watch[id], sizeof bits);
        differ |= bits ^ m_seenBits[id];
    }
    if (differ == 0) return;
    for (AudioUnitParameterID id = 0; id < kNumParams; ++id) {
        const float* port = m_controls[id];
        if (!port) continue;
        float value = *port;
        m_seenBits[id] = std::bit_cast<uint32_t>(value);
        if (value == m_lastControl[id].load(std::memory_order_relaxed) || std::isnan(value)) continue;
        m_lastControl[id].store(value, std::memory_order_relaxed);
        value = std::clamp(value, astParamInfos[id].minValue, astParamInfos[id].maxValue);
        if (id == kParam_OSCPortOffset) {
            // Moving the OSC port binds a socket: the worker does that, not the audio thread.
            VoskMarrowfinLV2Job job;
            job.kind = VoskMarrowfinLV2Job::kParameter;
            job.paramID = id;
            job.value = value;
            job.generation = m_stateGeneration.load(std::memory_order_relaxed);
            PostJob(job);
        } else {
            AudioUnitSetParameter(m_unit, id, kAudioUnitScope_Global, 0, value, 0);
        }
    }
}

void VoskMarrowfinLV2::QueueMidi() {
    // Without urid:map the event types are unknown: the port is ignored. lv2apply hands an
    // empty atom of size 0 with an unmapped type.
    const LV2_Atom_Sequence* seq = m_midiPort;
    if (!seq || !m_map || seq->atom.size < sizeof(LV2_Atom_Sequence_Body) || seq->atom.type != m_uridSequence) return;
    LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
        if (ev->body.type != m_uridMidiEvent) continue;
        VoskMarrowfinLV2Job job;
        const int64_t frame = ev->time.frames;
        if (MidiJobFromBytes(static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&ev->body)), ev->body.size,
                             frame > 0 ? uint32_t(std::min<int64_t>(frame, INT32_MAX)) : 0, job)) {
            PostJob(job);
        }
    }
}

OSStatus VoskMarrowfinLV2::InputCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                                         UInt32 frames, AudioBufferList* ioData) {
    auto* self = static_cast<VoskMarrowfinLV2*>(refCon);
    if (!ioData || frames > self->m_maxFrames) return paramErr;
    // The unit gets the host's input itself instead of a copy: it only reads its input (it
    // renders into the output buffers RenderSlice hands it, never in place), and it prepares its
    // own buffer list again before the next pull.
    const UInt32 buffers = std::min<UInt32>(ioData->mNumberBuffers, self->m_channels);
    for (UInt32 c = 0; c < buffers; ++c) {
        const float* source = self->m_in[c] ? self->m_in[c] + self->m_sliceOffset : self->m_silence.data();
        AudioBuffer& buffer = ioData->mBuffers[c];
        buffer.mData = const_cast<float*>(source);
        buffer.mDataByteSize = frames * sizeof(float);
    }
    return noErr;
}

void VoskMarrowfinLV2::RenderSlice(uint32_t offset, uint32_t frames) {
    float* targets[2];
    for (uint32_t c = 0; c < m_channels; ++c) {
        targets[c] = m_out[c] ? m_out[c] + offset : m_discard[c].data();
        AudioBuffer& buffer = m_outList->mBuffers[c];
        buffer.mNumberChannels = 1;
        buffer.mDataByteSize = frames * sizeof(float);
        buffer.mData = targets[c];
    }
    m_sliceOffset = offset;
    AudioTimeStamp timeStamp{};
    timeStamp.mSampleTime = m_sampleTime;
    timeStamp.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus err = AudioUnitRender(m_unit, &flags, &timeStamp, 0, frames, m_outList);
    m_sampleTime += frames;
    for (uint32_t c = 0; c < m_channels; ++c) {
        const AudioBuffer& buffer = m_outList->mBuffers[c];
        if (err != noErr || !buffer.mData) {
            std::memset(targets[c], 0, frames * sizeof(float));
        } else if (buffer.mData != targets[c]) {
            std::memcpy(targets[c], buffer.mData, frames * sizeof(float));
        }
    }
}

void VoskMarrowfinLV2::Run(uint32_t frames) {
    if (m_latencyPort) *m_latencyPort = float(m_latencyFrames);
    m_postedThisRun = false;
    ApplyControls();
    QueueMidi();
    if (m_schedule) ScheduleBatch();
    if (m_postedThisRun) m_worker->Wake();
    WriteDisplay(frames);
    if (!m_active) {
        // A host must activate before run(); output silence rather than render uninitialised.
        for (uint32_t c = 0; c < m_channels; ++c)
            if (m_out[c]) std::memset(m_out[c], 0, frames * sizeof(float));
        return;
    }
    for (uint32_t offset = 0; offset < frames;) {
        const uint32_t slice = std::min(frames - offset, m_maxFrames);
        RenderSlice(offset, slice);
        offset += slice;
    }
}

void VoskMarrowfinLV2::WriteDisplay(uint32_t frames) {
    // The host gives the buffer's capacity in the sequence's size and reads back what we wrote:
    // an empty sequence, or one event with the display values at the editor's frame rate.
    // (What the unit published in the previous run: the values are a frame behind at most.)
    LV2_Atom_Sequence* seq = m_displayPort;
    if (!seq || !m_map || seq->atom.size < sizeof(LV2_Atom_Sequence_Body)) return;
    const uint32_t capacity = seq->atom.size;
    seq->atom.type = m_uridSequence;
    seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
    seq->body.unit = 0;
    seq->body.pad = 0;
    // Frames carry over from message to message, so the rate holds whatever the block size.
    m_framesToDisplay -= int64_t(frames);
    if (m_framesToDisplay > 0) return;
    m_framesToDisplay += std::max<int64_t>(1, int64_t(m_sampleRate / kDisplayRate));
    if (m_framesToDisplay <= 0) m_framesToDisplay = 1;  // blocks longer than the interval
    const uint32_t bodySize = uint32_t(sizeof(LV2_Atom_Vector_Body) + kDisplayValues * sizeof(float));
    const uint32_t eventSize = lv2_atom_pad_size(uint32_t(sizeof(LV2_Atom_Event)) + bodySize);
    if (!m_unitData || capacity < sizeof(LV2_Atom_Sequence_Body) + eventSize) return;
    auto* event = reinterpret_cast<LV2_Atom_Event*>(LV2_ATOM_CONTENTS(LV2_Atom_Sequence, seq));
    event->time.frames = 0;
    event->body.type = m_uridVector;
    event->body.size = bodySize;
    auto* vector = reinterpret_cast<LV2_Atom_Vector_Body*>(&event->body + 1);
    vector->child_size = sizeof(float);
    vector->child_type = m_uridFloat;
    float* values = reinterpret_cast<float*>(vector + 1);
    const DataToGuiAnalysis analysis = m_unitData->Analysis();
    for (int ch = 0; ch < 2; ++ch) {
        values[0 + ch] = analysis.frequency[ch];
        values[2 + ch] = analysis.peak[ch];
        values[4 + ch] = analysis.envelope[ch];
        values[6 + ch] = analysis.noLock[ch] ? 1.f : 0.f;
    }
    for (int i = 0; i < kNumGUIBools; ++i) values[8 + i] = m_unitData->GetGUIBool(i) ? 1.f : 0.f;
    seq->atom.size += eventSize;
}

LV2_State_Status VoskMarrowfinLV2::Save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    if (!m_map || !store) return LV2_STATE_ERR_NO_FEATURE;
    plist_t info = nullptr;
    UInt32 size = sizeof(info);
    OSStatus err = AudioUnitGetProperty(m_unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &info, &size);
    if (err != noErr || !info) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: cannot read the unit's state (%d)\n", int(err));
        return LV2_STATE_ERR_UNKNOWN;
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(info, &xml, &length);
    plist_free(info);
    if (!xml) return LV2_STATE_ERR_UNKNOWN;
    // An atom:String value includes its terminating zero.
    LV2_State_Status status = store(handle, m_uridClassInfo, xml, size_t(length) + 1, m_uridAtomString,
                                    LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    plist_to_xml_free(xml);
    if (status != LV2_STATE_SUCCESS) return status;

    struct {
        LV2_Atom_Vector_Body header;
        float values[kNumParams];
    } ports;
    ports.header.child_size = sizeof(float);
    ports.header.child_type = m_uridFloat;
    for (AudioUnitParameterID id = 0; id < kNumParams; ++id)
        ports.values[id] = m_lastControl[id].load(std::memory_order_relaxed);
    return store(handle, m_uridPortValues, &ports, sizeof ports, m_uridVector, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

void VoskMarrowfinLV2::RestorePortValues(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    // A port counts as moved by the host when it differs from the value it had when the state
    // was saved. States without that record: from the value it holds now (or, unconnected, the
    // restored value), so the restored values stand until the host moves a control.
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* value = retrieve(handle, m_uridPortValues, &size, &type, &flags);
    const auto* header = static_cast<const LV2_Atom_Vector_Body*>(value);
    if (value && type == m_uridVector && size == sizeof(LV2_Atom_Vector_Body) + kNumParams * sizeof(float) &&
        header->child_size == sizeof(float) && header->child_type == m_uridFloat) {
        const auto* saved = reinterpret_cast<const unsigned char*>(header + 1);
        for (AudioUnitParameterID id = 0; id < kNumParams; ++id) {
            float v;
            std::memcpy(&v, saved + id * sizeof(float), sizeof v);
            m_lastControl[id].store(v, std::memory_order_relaxed);
        }
        return;
    }
    for (AudioUnitParameterID id = 0; id < kNumParams; ++id) {
        AudioUnitParameterValue restored = 0;
        if (m_controls[id]) {
            m_lastControl[id].store(*m_controls[id], std::memory_order_relaxed);
        } else if (AudioUnitGetParameter(m_unit, id, kAudioUnitScope_Global, 0, &restored) == noErr) {
            m_lastControl[id].store(restored, std::memory_order_relaxed);
        }
    }
}

LV2_State_Status VoskMarrowfinLV2::Restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    if (!m_map || !retrieve) return LV2_STATE_ERR_NO_FEATURE;
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* value = retrieve(handle, m_uridClassInfo, &size, &type, &flags);
    // Factory presets carry only port values: hosts restore them through this call too, and the
    // port values they set afterwards reach the unit at the next run().
    if (!value) return LV2_STATE_SUCCESS;
    if (type != m_uridAtomString || size == 0 || size > UINT32_MAX) {
        TB::LogLine(TB::LogLevel::kError, "marrowfin.lv2 error: the saved unit state is not text\n");
        return LV2_STATE_ERR_BAD_TYPE;
    }
    // The text may or may not carry its terminating zero.
    const char* text = static_cast<const char*>(value);
    uint32_t length = uint32_t(size);
    if (text[length - 1] == '\0') length = uint32_t(std::strlen(text));
    plist_t info = nullptr;
    if (length > 0) info = ParsePropertyList(text, length, nullptr);
    if (!info || plist_get_node_type(info) != PLIST_DICT) {
        if (info) plist_free(info);
        TB::LogLine(TB::LogLevel::kError, "marrowfin.lv2 error: the saved unit state is not a property list\n");
        return LV2_STATE_ERR_UNKNOWN;
    }
    // Values that run() queued for the worker before now must not land on top of the state.
    m_stateGeneration.fetch_add(1, std::memory_order_acq_rel);
    const OSStatus err =
        AudioUnitSetProperty(m_unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &info, sizeof(info));
    plist_free(info);
    if (err != noErr) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: the unit refused the saved state (%d)\n", int(err));
        return LV2_STATE_ERR_UNKNOWN;
    }
    RestorePortValues(retrieve, handle);
    return LV2_STATE_SUCCESS;
}
