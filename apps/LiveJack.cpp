#include "apps/LiveJack.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "apps/AppError.h"
#include "apps/LiveMidi.h"
#include "apps/UnitHost.h"
#include "hostframework/Log.h"

namespace MarrowfinApp {

namespace {

// libjack prints its own lines on standard error (several for a missing server, more when the
// server goes away); we say what matters in one line of our own instead.
void Quiet(const char*) {}

std::string StatusText(jack_status_t status) {
    if (status & JackServerFailed) return "no JACK server is running (start one with jackd, or run under pw-jack)";
    if (status & JackVersionError) return "the JACK server speaks another protocol version than this client";
    if (status & JackShmFailure) return "cannot reach the JACK server's shared memory";
    if (status & JackInitFailure) return "the JACK client could not initialise";
    return "cannot open a JACK client (status 0x" + [&] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", unsigned(status));
        return std::string(hex);
    }() + ")";
}

// The list JACK returns, copied and freed.
std::vector<std::string> Ports(jack_client_t* client, const char* type, unsigned long flags) {
    std::vector<std::string> names;
    if (const char** list = jack_get_ports(client, nullptr, type, flags)) {
        for (const char** p = list; *p; ++p) names.emplace_back(*p);
        jack_free(list);
    }
    return names;
}

}  // namespace

LiveJackClient::LiveJackClient(const std::string& name, uint32_t channels) : m_channels(channels) {
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    jack_status_t status{};
    m_client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!m_client) throw Failure(StatusText(status));
    m_sampleRate = double(jack_get_sample_rate(m_client));
    m_unitRate.store(jack_get_sample_rate(m_client));
    try {
        RegisterPortsAndCallbacks();
    } catch (...) {
        Close();
        throw;
    }
}

void LiveJackClient::RegisterPortsAndCallbacks() {
    auto registerPort = [&](const std::string& portName, const char* type, unsigned long flags) {
        jack_port_t* port = jack_port_register(m_client, portName.c_str(), type, flags, 0);
        if (!port) throw Failure("JACK refuses the port " + portName);
        return port;
    };
    for (uint32_t c = 1; c <= m_channels; ++c)
        m_inputs.push_back(registerPort("in_" + std::to_string(c), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput));
    for (uint32_t c = 1; c <= m_channels; ++c)
        m_outputs.push_back(registerPort("out_" + std::to_string(c), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput));
    m_midiIn = registerPort("midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);

    if (jack_set_process_callback(m_client, &LiveJackClient::OnProcess, this) ||
        jack_set_latency_callback(m_client, &LiveJackClient::OnLatency, this) ||
        jack_set_sample_rate_callback(m_client, &LiveJackClient::OnSampleRate, this) ||
        jack_set_xrun_callback(m_client, &LiveJackClient::OnXrun, this))
        throw Failure("the JACK server refuses the client's callbacks");
    jack_on_info_shutdown(m_client, &LiveJackClient::OnShutdown, this);
}

std::string LiveJackClient::Name() const { return m_client ? jack_get_client_name(m_client) : std::string(); }

uint32_t LiveJackClient::BufferSize() const { return m_client ? jack_get_buffer_size(m_client) : 0; }

std::vector<std::string> LiveJackClient::PortNames() const {
    std::vector<std::string> names;
    for (const auto* list : {&m_inputs, &m_outputs})
        for (jack_port_t* port : *list) names.emplace_back(jack_port_short_name(port));
    names.emplace_back(jack_port_short_name(m_midiIn));
    return names;
}

void LiveJackClient::Activate(UnitHost& host, LiveMidiQueue& midi, uint32_t latencyFrames) {
    m_host = &host;
    m_midi = &midi;
    m_latencyFrames.store(latencyFrames);
    // After a rate change announced since the client opened, the main thread re-initialises
    // the unit first.
    if (!m_pendingRate.load()) m_rendering.store(true);
    if (jack_activate(m_client)) throw Failure("the JACK server refuses to activate the client");
    m_active = true;
}

void LiveJackClient::ConnectPhysicalPorts() {
    const auto captures = Ports(m_client, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    const auto playbacks = Ports(m_client, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    const auto midiSources = Ports(m_client, JACK_DEFAULT_MIDI_TYPE, JackPortIsPhysical | JackPortIsOutput);
    std::string done;
    auto connect = [&](const std::string& from, const std::string& to) {
        const int err = jack_connect(m_client, from.c_str(), to.c_str());
        if (err && err != EEXIST)
            TB::LogFormat(TB::LogLevel::kError, "marrowfin: cannot connect %s to %s\n", from.c_str(), to.c_str());
        else
            done += (done.empty() ? "" : ", ") + from + " -> " + to;
    };
    if (captures.empty()) TB::LogLine(TB::LogLevel::kError, "marrowfin: JACK has no physical capture ports\n");
    if (playbacks.empty()) TB::LogLine(TB::LogLevel::kError, "marrowfin: JACK has no physical playback ports\n");
    for (size_t c = 0; c < m_inputs.size() && !captures.empty(); ++c)
        connect(captures[std::min(c, captures.size() - 1)], jack_port_name(m_inputs[c]));
    for (size_t p = 0; p < playbacks.size() && p < std::max<size_t>(2, m_outputs.size()); ++p)
        connect(jack_port_name(m_outputs[std::min(p, m_outputs.size() - 1)]), playbacks[p]);
    for (const std::string& source : midiSources) connect(source, jack_port_name(m_midiIn));
    if (!done.empty()) TB::LogFormat(TB::LogLevel::kNote, "connected %s\n", done.c_str());
}

void LiveJackClient::Close() {
    if (!m_client) return;
    // After a server shutdown the client is a zombie: closing it only frees what is left.
    if (m_active && !ServerGone()) jack_deactivate(m_client);
    m_active = false;
    jack_client_close(m_client);
    m_client = nullptr;
}

bool LiveJackClient::TakeSampleRateChange(double& rate) {
    const uint32_t pending = m_pendingRate.exchange(0);
    if (!pending) return false;
    m_unitRate.store(pending);
    rate = double(pending);
    return true;
}

void LiveJackClient::Park() {
    m_rendering.store(false);
    while (m_inUnit.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void LiveJackClient::Resume(double rate, uint32_t latencyFrames) {
    m_sampleRate = rate;
    m_unitRate.store(uint32_t(rate));
    m_latencyFrames.store(latencyFrames);
    m_rendering.store(true);
    if (m_client && !ServerGone()) jack_recompute_total_latencies(m_client);
}

std::string LiveJackClient::ShutdownReason() const {
    return ServerGone() ? std::string(m_shutdownReason, strnlen(m_shutdownReason, sizeof m_shutdownReason))
                        : std::string();
}

// ---------------------------------------------------------------------------------------------
// Callbacks

int LiveJackClient::OnProcess(jack_nframes_t frames, void* arg) {
    static_cast<LiveJackClient*>(arg)->Process(frames);
    return 0;
}

void LiveJackClient::Silence(jack_nframes_t frames) {
    for (jack_port_t* port : m_outputs)
        if (void* out = jack_port_get_buffer(port, frames)) std::memset(out, 0, frames * sizeof(float));
}

// JACK's real-time thread: only port buffers, the unit's render and lock-free queues.
void LiveJackClient::Process(jack_nframes_t frames) {
    if (void* midiBuffer = jack_port_get_buffer(m_midiIn, frames)) {
        const uint32_t count = jack_midi_get_event_count(midiBuffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            LiveMidiMessage message;
            if (jack_midi_event_get(&event, midiBuffer, i) == 0 &&
                LiveMidiFromBytes(event.buffer, event.size, event.time, message))
                m_midi->Push(message);
        }
    }

    m_inUnit.store(true);
    if (!m_rendering.load()) {
        m_inUnit.store(false);
        Silence(frames);
        return;
    }
    const float* in[2] = {nullptr, nullptr};
    float* out[2] = {nullptr, nullptr};
    const uint32_t channels = std::min<uint32_t>(m_channels, 2);
    for (uint32_t c = 0; c < channels; ++c) {
        in[c] = static_cast<const float*>(jack_port_get_buffer(m_inputs[c], frames));
        out[c] = static_cast<float*>(jack_port_get_buffer(m_outputs[c], frames));
    }
    // Periods longer than the unit takes in one call render in slices.
    for (jack_nframes_t done = 0; done < frames;) {
        const jack_nframes_t slice = std::min<jack_nframes_t>(frames - done, kMaxFramesPerSlice);
        const float* sliceIn[2] = {in[0] + done, channels > 1 ? in[1] + done : nullptr};
        float* sliceOut[2] = {out[0] + done, channels > 1 ? out[1] + done : nullptr};
        if (m_host->Render(sliceIn, sliceOut, slice) != noErr) {
            m_renderErrors.fetch_add(1, std::memory_order_relaxed);
            for (uint32_t c = 0; c < channels; ++c) std::memset(sliceOut[c], 0, slice * sizeof(float));
        }
        done += slice;
    }
    m_inUnit.store(false);
}

// Notification thread: the unit delays every path from an input to the output of its channel
// (and from "midi_in" to every output) by its latency.
void LiveJackClient::OnLatency(jack_latency_callback_mode_t mode, void* arg) {
    auto* self = static_cast<LiveJackClient*>(arg);
    const jack_nframes_t latency = self->m_latencyFrames.load();
    jack_latency_range_t range;
    if (mode == JackCaptureLatency) {
        for (size_t c = 0; c < self->m_outputs.size(); ++c) {
            jack_port_get_latency_range(self->m_inputs[c], JackCaptureLatency, &range);
            range.min += latency;
            range.max += latency;
            jack_port_set_latency_range(self->m_outputs[c], JackCaptureLatency, &range);
        }
    } else {
        jack_latency_range_t all{~jack_nframes_t(0), 0};
        for (size_t c = 0; c < self->m_inputs.size(); ++c) {
            jack_port_get_latency_range(self->m_outputs[c], JackPlaybackLatency, &range);
            all.min = std::min(all.min, range.min);
            all.max = std::max(all.max, range.max);
            range.min += latency;
            range.max += latency;
            jack_port_set_latency_range(self->m_inputs[c], JackPlaybackLatency, &range);
        }
        all.min += latency;
        all.max += latency;
        jack_port_set_latency_range(self->m_midiIn, JackPlaybackLatency, &all);
    }
}

// Notification thread (JACK calls it once at registration too). A new rate stops rendering at
// once; the main thread re-initialises the unit and resumes.
int LiveJackClient::OnSampleRate(jack_nframes_t rate, void* arg) {
    auto* self = static_cast<LiveJackClient*>(arg);
    if (rate == self->m_unitRate.load()) return 0;
    self->m_rendering.store(false);
    self->m_pendingRate.store(rate);
    return 0;
}

int LiveJackClient::OnXrun(void* arg) {
    static_cast<LiveJackClient*>(arg)->m_xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// Runs like a signal handler, on a thread of JACK's: copy the reason, raise the flag.
void LiveJackClient::OnShutdown(jack_status_t, const char* reason, void* arg) {
    auto* self = static_cast<LiveJackClient*>(arg);
    size_t n = 0;
    for (; reason && reason[n] && n + 1 < sizeof self->m_shutdownReason; ++n) self->m_shutdownReason[n] = reason[n];
    self->m_shutdownReason[n] = 0;
    self->m_serverGone.store(true, std::memory_order_release);
}

}  // namespace MarrowfinApp
