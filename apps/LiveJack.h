// The JACK client of `marrowfin live`: audio ports "in_N" and "out_N" per channel (N from 1) and
// one MIDI input port "midi_in". The process callback renders the unit through UnitHost on
// JACK's real-time thread and queues incoming MIDI for the delivery thread; the latency
// callback adds the unit's latency to the paths through it, so JACK can compensate. Any period
// size works as it comes (periods longer than the unit's maximum render in slices), so a new
// period size needs nothing of the unit; a new sample rate re-initialises it (Park, Resume).
//
// Threads: construction, Activate, ConnectPhysicalPorts, Park, Resume, Close and the queries on
// the main thread; the process callback on JACK's real-time thread (no allocation, lock or
// system call); the other callbacks on JACK's notification thread.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "apps/LiveMidi.h"

namespace MarrowfinApp {

class UnitHost;

class LiveJackClient {
public:
    // Opens the client without starting a server, and registers its ports. Throws a failure
    // with one clear line when no server runs or the client cannot be made.
    LiveJackClient(const std::string& name, uint32_t channels);
    ~LiveJackClient() { Close(); }
    LiveJackClient(const LiveJackClient&) = delete;
    LiveJackClient& operator=(const LiveJackClient&) = delete;

    std::string Name() const;  // the name JACK gave the client
    double SampleRate() const { return m_sampleRate; }
    uint32_t BufferSize() const;
    std::vector<std::string> PortNames() const;  // short names, audio inputs, outputs, MIDI

    // `host` is initialised at SampleRate() for the client's channels; it renders from the first
    // period on. `latencyFrames` is the unit's latency.
    void Activate(UnitHost& host, LiveMidiQueue& midi, uint32_t latencyFrames);
    // The physical capture ports into the inputs (and physical MIDI sources into "midi_in"), the
    // outputs to the physical playback ports; a mono output feeds the first two. Logs what it
    // did and what failed; failures are not fatal.
    void ConnectPhysicalPorts();
    // Deactivates and closes; safe to call twice and after the server went away.
    void Close();

    // A new sample rate announced by JACK and not yet taken: the process callback already plays
    // silence. True once per change.
    bool TakeSampleRateChange(double& rate);
    // Stops rendering: returns once the process callback no longer uses the unit and plays
    // silence, so the main thread may re-initialise it.
    void Park();
    // Rendering again at `rate` with the unit's new latency; JACK recomputes its latencies.
    void Resume(double rate, uint32_t latencyFrames);

    bool ServerGone() const { return m_serverGone.load(std::memory_order_acquire); }
    std::string ShutdownReason() const;  // after ServerGone
    uint64_t Xruns() const { return m_xruns.load(std::memory_order_relaxed); }
    uint64_t RenderErrors() const { return m_renderErrors.load(std::memory_order_relaxed); }

private:
    void RegisterPortsAndCallbacks();

    static int OnProcess(jack_nframes_t frames, void* arg);
    static void OnLatency(jack_latency_callback_mode_t mode, void* arg);
    static int OnSampleRate(jack_nframes_t rate, void* arg);
    static int OnXrun(void* arg);
    static void OnShutdown(jack_status_t code, const char* reason, void* arg);

    void Process(jack_nframes_t frames);
    void Silence(jack_nframes_t frames);

    jack_client_t* m_client = nullptr;
    bool m_active = false;
    uint32_t m_channels;
    double m_sampleRate = 0.0;
    std::vector<jack_port_t*> m_inputs, m_outputs;
    jack_port_t* m_midiIn = nullptr;

    UnitHost* m_host = nullptr;
    LiveMidiQueue* m_midi = nullptr;

    // The process callback renders only while m_rendering; it raises m_inUnit around its look at
    // that flag and its use of the unit (both sequentially consistent, so Park sees it).
    std::atomic<bool> m_rendering{false};
    std::atomic<bool> m_inUnit{false};
    std::atomic<uint32_t> m_unitRate{0};  // the rate the unit runs at (or is being set to)
    std::atomic<uint32_t> m_pendingRate{0};
    std::atomic<uint32_t> m_latencyFrames{0};
    std::atomic<uint64_t> m_xruns{0};
    std::atomic<uint64_t> m_renderErrors{0};
    std::atomic<bool> m_serverGone{false};
    char m_shutdownReason[256] = {};
};

}  // namespace MarrowfinApp
