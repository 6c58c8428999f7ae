// One LV2 plug-in instance: the Marrowfin effect unit behind LV2 ports.
//
// The instance drives the unit only through the component interface, like any host: it opens
// it with OpenMarrowfin, sets the stream formats, the maximum slice and an input callback that
// hands over the host's input buffers, and renders with a running sample time. Control ports
// reach the unit only when their value changed since the last run(), so values set by OSC or
// by a MIDI script stay until the host really moves the control.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <memory>
#include <vector>

#include "hostframework/AudioUnitAPI.h"
#include "hostframework/Log.h"
#include "lv2/MarrowfinLV2Ports.h"
#include "lv2/MarrowfinLV2Util.h"
#include "lv2/VoskMarrowfinLV2Worker.h"

class DataToGui;

class VoskMarrowfinLV2 {
public:
    // Instantiation thread. Null (and one logged line) when the rate is unusable or the unit
    // cannot be opened or set up.
    static VoskMarrowfinLV2* Create(uint32_t channels, double sampleRate, const char* bundlePath,
                                    const LV2_Feature* const* features);
    ~VoskMarrowfinLV2();
    VoskMarrowfinLV2(const VoskMarrowfinLV2&) = delete;
    VoskMarrowfinLV2& operator=(const VoskMarrowfinLV2&) = delete;

    // Audio thread (any time): remembers the host's buffer.
    void ConnectPort(uint32_t port, void* data);
    // Instantiation thread: initialise / uninitialise the unit, start / stop the worker.
    void Activate();
    void Deactivate();
    // Audio thread: no allocation, no lock, no system call.
    void Run(uint32_t frames);
    // Worker extension: the host's worker thread hands back what run() scheduled.
    LV2_Worker_Status Work(uint32_t size, const void* data);

    // State extension. Save may run beside run(); Restore runs on the instantiation thread.
    LV2_State_Status Save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status Restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

    uint32_t Channels() const { return m_channels; }
    AudioUnit Unit() const { return m_unit; }

private:
    VoskMarrowfinLV2(uint32_t channels, double sampleRate);
    bool SetUp(const char* bundlePath, const LV2_Feature* const* features);
    void ReadFeatures(const LV2_Feature* const* features);
    void ApplyControls();
    void RestorePortValues(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);
    void QueueMidi();
    void PostJob(const VoskMarrowfinLV2Job& job);
    void ScheduleBatch();
    void ReapplyOSCPortOffset();
    static void LogToHost(void* context, TB::LogLevel level, const char* line);
    static void QuiesceAtExit();
    void RenderSlice(uint32_t offset, uint32_t frames);
    void WriteDisplay(uint32_t frames);
    static OSStatus InputCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                                  UInt32 bus, UInt32 frames, AudioBufferList* ioData);

    const uint32_t m_channels;
    const double m_sampleRate;
    uint32_t m_maxFrames = MarrowfinLV2::kDefaultMaxFrames;
    const uint32_t m_latencyFrames;

    AudioUnit m_unit = nullptr;
    bool m_holdsMainLoop = false;
    bool m_active = false;
    // Without the host's work:schedule, this thread delivers what run() queues.
    std::unique_ptr<VoskMarrowfinLV2Worker> m_worker;
    bool m_postedThisRun = false;
    // With it, run() hands the items of one call to the host in as few messages as fit.
    static constexpr uint32_t kBatchJobs = 64;
    VoskMarrowfinLV2Job m_batch[kBatchJobs];
    uint32_t m_batchCount = 0;

    // Ports.
    const float* m_controls[kNumParams] = {};
    // run()'s own quick look for a change: each connected port's bits as run() last saw them, and
    // where to read each port's bits now (the port, or the entry itself while it is unconnected).
    uint32_t m_seenBits[kNumParams] = {};
    const void* m_watch[kNumParams] = {};
    // The value each control port had when it last reached the unit; NaN until it first did.
    // Written by run(), read by Save (which may run beside it).
    std::atomic<float> m_lastControl[kNumParams];
    // Counts restored states: parameter values queued by run() before a restore are stale.
    std::atomic<uint32_t> m_stateGeneration{0};
    float* m_latencyPort = nullptr;
    const LV2_Atom_Sequence* m_midiPort = nullptr;
    const float* m_in[2] = {};
    float* m_out[2] = {};
    LV2_Atom_Sequence* m_displayPort = nullptr;
    // The unit's display record, and the frames until the display output sends it again.
    DataToGui* m_unitData = nullptr;
    int64_t m_framesToDisplay = 0;

    // Render: the slice being rendered and the running sample time (never reset, so the unit
    // never sees the same time stamp twice, which it would take for a repeated render).
    uint32_t m_sliceOffset = 0;
    Float64 m_sampleTime = 0;
    std::vector<float> m_silence;     // input of an unconnected audio input
    std::vector<float> m_discard[2];  // output of an unconnected audio output
    std::vector<unsigned char> m_outListStorage;
    AudioBufferList* m_outList = nullptr;

    // Host features (all optional).
    LV2_URID_Map* m_map = nullptr;
    const LV2_Worker_Schedule* m_schedule = nullptr;
    // The host's log (needs urid:map for its entry types) and the sink that feeds it.
    const LV2_Log_Log* m_hostLog = nullptr;
    LV2_URID m_uridLogNote = 0;
    LV2_URID m_uridLogError = 0;
    int m_logSinkToken = 0;
    LV2_URID m_uridMidiEvent = 0;
    LV2_URID m_uridSequence = 0;
    LV2_URID m_uridAtomString = 0;
    LV2_URID m_uridClassInfo = 0;
    LV2_URID m_uridPortValues = 0;
    LV2_URID m_uridVector = 0;
    LV2_URID m_uridFloat = 0;
};
