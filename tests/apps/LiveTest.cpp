// `marrowfin live` on a JACK server of the test's own (dummy driver, 48 kHz, 256 frames): audio
// through JACK matches an offline render sample for sample, JACK learns the unit's latency, a
// period-size change keeps it playing, MIDI reaches the built-in script, and it ends with one
// clear line when there is no server or the server goes away.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cstdlib>

#include "apps/UnitHost.h"
#include "effect/MarrowfinParameters.h"
#include "tests/apps/AppTestSupport.h"
#include "tests/osc/OSCRemoteSupport.h"
#include "tests/support/AllocationCounter.h"

using namespace apptest;

namespace {

constexpr int kRate = 48000, kPeriod = 256;

void Quiet(const char*) {}

// One JACK client of the test's own: "source" plays a looped signal and MIDI, "sink" records.
class TestClient {
public:
    TestClient(const char* name, int audioOuts, int audioIns, bool midiOut) {
        m_client = jack_client_open(name, JackNoStartServer, nullptr);
        if (!m_client) return;
        for (int c = 0; c < audioOuts; ++c) m_outs.push_back(Register("out_" + std::to_string(c + 1), JackPortIsOutput));
        for (int c = 0; c < audioIns; ++c) m_ins.push_back(Register("in_" + std::to_string(c + 1), JackPortIsInput));
        if (midiOut)
            m_midiOut = jack_port_register(m_client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        m_recorded.assign(m_ins.size(), std::vector<float>(size_t(kRate) * 2));
        jack_set_process_callback(m_client, [](jack_nframes_t n, void* self) { return static_cast<TestClient*>(self)->Process(n); }, this);
        jack_set_xrun_callback(m_client, [](void* self) { return ++static_cast<TestClient*>(self)->m_xruns, 0; }, this);
        jack_activate(m_client);
    }
    ~TestClient() {
        if (m_client) jack_client_close(m_client);
    }
    bool Ok() const { return m_client != nullptr; }
    int Xruns() const { return m_xruns; }
    jack_client_t* Client() const { return m_client; }
    std::string Port(const std::string& shortName) const { return std::string(jack_get_client_name(m_client)) + ":" + shortName; }

    // Interleaved, one channel per output; looped from the next period on.
    void Play(std::vector<float> signal) {
        m_signal = std::move(signal);
        m_playing = true;
    }
    // Records `frames` of every input from the next period on.
    void Record(size_t frames) {
        m_recordFrames = frames;
        m_recordedFrames = 0;
        m_recording = true;
    }
    bool Recorded() const { return !m_recording && m_recordedFrames >= m_recordFrames; }
    // What the last Record took from input `c`.
    std::vector<float> Input(int c) const {
        return std::vector<float>(m_recorded[size_t(c)].begin(), m_recorded[size_t(c)].begin() + long(m_recordedFrames));
    }
    void SendMidi(uint8_t status, uint8_t data1, uint8_t data2) {
        m_midi = 0x1000000u | uint32_t(status) << 16 | uint32_t(data1) << 8 | data2;
        WaitUntil([&] { return m_midi.load() == 0; });
    }

private:
    jack_port_t* Register(const std::string& name, unsigned long flags) {
        return jack_port_register(m_client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
    }
    int Process(jack_nframes_t n) {
        const size_t channels = m_outs.size();
        for (size_t c = 0; c < channels; ++c) {
            float* out = static_cast<float*>(jack_port_get_buffer(m_outs[c], n));
            for (jack_nframes_t i = 0; i < n; ++i)
                out[i] = m_playing ? m_signal[((m_position + i) * channels + c) % m_signal.size()] : 0.0f;
        }
        if (m_playing) m_position = (m_position + n) % (m_signal.size() / std::max<size_t>(channels, 1));
        if (m_midiOut) {
            void* buffer = jack_port_get_buffer(m_midiOut, n);
            jack_midi_clear_buffer(buffer);
            if (const uint32_t m = m_midi.load()) {
                const jack_midi_data_t bytes[3] = {jack_midi_data_t(m >> 16), jack_midi_data_t(m >> 8), jack_midi_data_t(m)};
                jack_midi_event_write(buffer, n / 2, bytes, 3);
                m_midi = 0;
            }
        }
        if (m_recording) {
            const size_t take = std::min<size_t>(n, m_recordFrames - m_recordedFrames);
            for (size_t c = 0; c < m_ins.size(); ++c) {
                const float* in = static_cast<const float*>(jack_port_get_buffer(m_ins[c], n));
                std::copy(in, in + take, m_recorded[c].begin() + long(m_recordedFrames));
            }
            m_recordedFrames += take;
            if (m_recordedFrames >= m_recordFrames) m_recording = false;
        }
        return 0;
    }

    jack_client_t* m_client = nullptr;
    std::vector<jack_port_t*> m_outs, m_ins;
    jack_port_t* m_midiOut = nullptr;
    std::vector<float> m_signal;
    size_t m_position = 0;
    std::atomic<bool> m_playing{false}, m_recording{false};
    std::atomic<uint32_t> m_midi{0};
    std::atomic<int> m_xruns{0};
    std::vector<std::vector<float>> m_recorded;
    size_t m_recordFrames = 0;
    std::atomic<size_t> m_recordedFrames{0};
};

// A JACK server of this test's own. Its name is fixed per build tree: JACK keeps an entry for
// every server name in a registry of eight, and frees a dead server's entry only when a server of
// the same name starts, so a name per run would fill the registry with the entries of crashed
// runs. Its table of 32 ports needs about 39 MB of /dev/shm where the default 2048 take 107, more
// than a container's usual 64 MB (the server dies of a bus error there).
class LiveTest : public testing::Test {
protected:
    void SetUp() override {
        if (RunProgram({"jackd", "--version"}).status == 127) GTEST_SKIP() << "jackd is not installed";
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
        const std::string server = "marrowfin-apptest-" + std::to_string(std::hash<std::string>{}(MARROWFIN_APP_PATH) % 10000);
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        // Real-time scheduling, as JACK normally runs (it falls back to none where the system
        // refuses it): far fewer xruns on a busy machine.
        const std::string log = m_dir / "jackd.out";
        m_jackd = std::make_unique<ChildProcess>(
            std::vector<std::string>{"jackd", "-R", "--port-max", "32", "-d", "dummy", "-r", std::to_string(kRate), "-p",
                                     std::to_string(kPeriod)},
            Environment{}, log, log);
        ASSERT_TRUE(WaitUntil([&] {
            if (!m_jackd->Running()) return true;
            jack_client_t* probe = jack_client_open("probe", JackNoStartServer, nullptr);
            if (probe) jack_client_close(probe);
            return probe != nullptr;
        }, 10)) << ReadTextFile(log);
        if (!m_jackd->Running()) {
            const int status = m_jackd->Stop(0);
            FAIL() << "jackd ended with status " << status
                   << (status == 128 + SIGBUS ? " (a bus error: too little room in /dev/shm)" : "") << ":\n"
                   << ReadTextFile(log);
        }
    }
    void TearDown() override {
        // SIGTERM, not the SIGKILL of ~ChildProcess: a killed jackd leaves its entry in JACK's
        // shared registry of servers, and after a few of those no server starts on the machine.
        if (m_jackd) m_jackd->Stop(SIGTERM);
        // Clients still attached when the server went leave their semaphores behind.
        const std::string server = std::string("_") + getenv("JACK_DEFAULT_SERVER") + "_";
        std::error_code ignored;
        for (const auto& e : fs::directory_iterator("/dev/shm", ignored))
            if (e.path().filename().string().rfind("jack_sem.", 0) == 0 && e.path().filename().string().find(server) != std::string::npos)
                fs::remove(e.path(), ignored);
        unsetenv("JACK_DEFAULT_SERVER");
    }
    // Runs `marrowfin live ARGS` while `body` drives it, from the moment "Marrowfin:midi_in"
    // exists; then stops it with SIGTERM unless `body` made it end by itself.
    RunResult RunLive(std::vector<std::string> args, const std::function<void()>& body, bool endsByItself = false) {
        args.insert(args.begin(), {MARROWFIN_APP_PATH, "live", "--no-editor"});
        return RunProgram(args, {}, [&](pid_t pid) {
            {
                TestClient probe("watch", 0, 0, false);
                if (WaitUntil([&] { return jack_port_by_name(probe.Client(), "Marrowfin:midi_in") != nullptr; }, 10))
                    body();
            }
            if (!endsByItself) kill(pid, SIGTERM);
        });
    }
    static void Connect(const TestClient& client, const std::string& from, const std::string& to) {
        ASSERT_EQ(jack_connect(client.Client(), from.c_str(), to.c_str()), 0) << from << " -> " << to;
    }

    ScopedTestFolders m_dir{"marrowfin-live"};
    std::unique_ptr<ChildProcess> m_jackd;
};

// The unit's own answers, rendered offline through UnitHost in blocks of one period.
std::vector<std::vector<float>> RenderOffline(const std::vector<std::vector<float>>& input, size_t leadingSilence,
                                              double* latencySeconds) {
    MarrowfinApp::UnitHost host;
    host.Configure(kRate, UInt32(input.size()));
    host.Initialize();
    const size_t channels = input.size(), frames = input[0].size();
    std::vector<std::vector<float>> out(channels, std::vector<float>(frames));
    std::vector<float> zeros(kPeriod), scratch(kPeriod * channels);
    for (size_t b = 0; b < leadingSilence; ++b) {
        const float* in[2] = {zeros.data(), zeros.data()};
        float* o[2] = {scratch.data(), scratch.data() + kPeriod};
        host.Render(in, o, kPeriod);
    }
    *latencySeconds = host.LatencySeconds();
    for (size_t at = 0; at + kPeriod <= frames; at += kPeriod) {
        const float* in[2] = {input[0].data() + at, input[channels - 1].data() + at};
        float* o[2] = {out[0].data() + at, out[channels - 1].data() + at};
        host.Render(in, o, kPeriod);
    }
    return out;
}

}  // namespace

// Live output against the offline render of the input the unit received, in blocks of one
// period. JACK runs the unit after the source and before the sink within each period, so the
// two line up with no offset. After an xrun the recording may hold a stale period, and
// everything after it differs: then only a first stretch has to match.
void ExpectSameAsOffline(const std::vector<std::vector<float>>& in, const std::vector<std::vector<float>>& live,
                         bool xruns) {
    // Before the signal the unit heard only silence, for however long; a few periods of it
    // leave it in the same state.
    double latency = 0;
    const auto offline = RenderOffline(in, 8, &latency);
    for (size_t c = 0; c < in.size(); ++c) {
        size_t differs = 0;
        double energy = 0;
        while (differs < offline[c].size() && std::fabs(offline[c][differs] - live[c][differs]) <= 1e-6f) ++differs;
        for (float v : offline[c]) energy += double(v) * v;
        EXPECT_GE(differs, xruns ? size_t(kRate) / 10 : offline[c].size())
            << "channel " << c + 1 << " differs from frame " << differs << " on" << (xruns ? " (after xruns)" : "");
        EXPECT_GT(energy, 1.0) << "channel " << c + 1;
    }
}

TEST_F(LiveTest, PlaysLikeAnOfflineRenderReportsItsLatencyAndSurvivesAPeriodChange) {
    const std::vector<float> signal = MakeSignal(kRate, 2, 1.0).samples;
    // An xrun during the recording can leave a stale period in it: then the run is tried again
    // (on a machine that keeps missing deadlines, the last run is compared as far as it can be).
    for (int attempt = 1; attempt <= 3; ++attempt) {
        bool disturbed = false;
        std::vector<std::vector<float>> in(2), live(2);
        RunResult r = RunLive({"--channels", "2", "--osc-offset", "0"}, [&] {
            // Source -> Marrowfin -> sink, and the source straight into the sink as the reference.
            TestClient source("source", 2, 0, false), sink("sink", 0, 4, false);
            ASSERT_TRUE(source.Ok() && sink.Ok());
            for (int c = 1; c <= 2; ++c) {
                const std::string n = std::to_string(c);
                Connect(source, source.Port("out_" + n), "Marrowfin:in_" + n);
                Connect(source, source.Port("out_" + n), sink.Port("in_" + n));
                Connect(source, "Marrowfin:out_" + n, sink.Port("in_" + std::to_string(c + 2)));
            }
            double unitLatency = 0;
            RenderOffline({std::vector<float>(kPeriod)}, 1, &unitLatency);
            const jack_nframes_t expected = jack_nframes_t(std::lround(unitLatency * kRate));
            EXPECT_EQ(expected, 960u);
            auto latency = [&](const char* port, jack_latency_callback_mode_t mode) {
                jack_latency_range_t range{};
                jack_port_get_latency_range(jack_port_by_name(source.Client(), port), mode, &range);
                return range.min == range.max ? range.min : ~0u;
            };
            EXPECT_TRUE(WaitUntil([&] {
                return latency("Marrowfin:out_2", JackCaptureLatency) == expected &&
                       latency("Marrowfin:in_1", JackPlaybackLatency) == expected;
            })) << latency("Marrowfin:out_2", JackCaptureLatency) << " " << latency("Marrowfin:in_1", JackPlaybackLatency);

            // Recording starts before the source plays, both on period boundaries.
            const int xruns = sink.Xruns();
            sink.Record(size_t(kRate));
            source.Play(signal);
            ASSERT_TRUE(WaitUntil([&] { return sink.Recorded(); }, 10));
            disturbed = sink.Xruns() != xruns;
            size_t start = 0;
            const std::vector<float> reference = sink.Input(0);
            while (start < reference.size() && reference[start] == 0.0f) ++start;
            ASSERT_EQ(start % kPeriod, 0u);
            const size_t frames = (reference.size() - start) / kPeriod * kPeriod;
            for (int c = 0; c < 2; ++c) {
                const std::vector<float> a = sink.Input(c), b = sink.Input(c + 2);
                in[c].assign(a.begin() + long(start), a.begin() + long(start + frames));
                live[c].assign(b.begin() + long(start), b.begin() + long(start + frames));
            }

            // A new period size: the unit keeps processing what comes in.
            ASSERT_EQ(jack_set_buffer_size(source.Client(), 128), 0);
            ASSERT_TRUE(WaitUntil([&] { return jack_get_buffer_size(source.Client()) == 128; }));
            sink.Record(size_t(kRate) / 2);
            ASSERT_TRUE(WaitUntil([&] { return sink.Recorded(); }, 10));
            double energy = 0;
            for (float v : sink.Input(2)) energy += double(v) * v;
            EXPECT_GT(energy, 1.0);
            jack_set_buffer_size(source.Client(), kPeriod);  // as the next attempt expects it
            WaitUntil([&] { return jack_get_buffer_size(source.Client()) == kPeriod; });
        });
        if (HasFatalFailure()) return;
        if (disturbed && attempt < 3) continue;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("live on JACK as \"Marrowfin\" (in_1, in_2, out_1, out_2, midi_in) at 48000 Hz, 256 frames"),
                  std::string::npos) << r.out;
        EXPECT_NE(r.out.find("xruns\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
        ExpectSameAsOffline(in, live, disturbed);
        return;
    }
}

TEST_F(LiveTest, ConnectsMidiReachesTheScriptAndAServerShutdownSavesTheStateAndFails) {
    osctest::Receiver replies(47600);
    const int base = FreePortRun(47700, 2);
    ASSERT_GT(base, 0);
    ASSERT_GT(replies.Port(), 0);
    const std::string state = m_dir / "state.aupreset";
    RunResult r = RunLive({"--osc-base-port", std::to_string(base), "--save-state", state, "--connect"}, [&] {
        TestClient source("keys", 0, 0, true);
        ASSERT_TRUE(source.Ok());
        Connect(source, source.Port("midi_out"), "Marrowfin:midi_in");
        auto oscPitch = [&] {
            replies.Drain(0.0);
            SendTo(base + 1, osctest::Packet("/get", {osc::int32(kParam_OscPitch), replies.Target(), std::string("/val")}));
            const auto reply = replies.Next(1.0);
            return reply && reply->numbers.size() == 2 ? reply->numbers[1] : -1.0;
        };
        ASSERT_TRUE(WaitUntil([&] { return oscPitch() == 0.0; }, 10)) << "no OSC answer";
        // A period that JACK drops (an xrun on a busy machine) loses its MIDI: each message is
        // sent until it shows; sending one again changes nothing in the script.
        auto play = [&](uint8_t status, uint8_t note, double expected) {
            return WaitUntil([&] {
                source.SendMidi(status, note, 100);
                return oscPitch() == expected;
            });
        };
        EXPECT_TRUE(play(0x90, 45, 45.0));
        EXPECT_TRUE(play(0x80, 45, 0.0));
        EXPECT_TRUE(play(0x91, 52, 52.0));
        m_jackd->Stop(SIGTERM);
    }, true);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("marrowfin: the JACK server shut down", 0), 0u) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    // Mono: the first capture port in, the output to both speakers.
    EXPECT_NE(r.out.find("connected system:capture_1 -> Marrowfin:in_1, Marrowfin:out_1 -> system:playback_1, "
                         "Marrowfin:out_1 -> system:playback_2\n"), std::string::npos) << r.out;
    MarrowfinApp::UnitHost host;
    host.LoadState(state);
    EXPECT_EQ(host.GetParameter(kParam_OscPitch), 52.0f);
}

TEST(Live, WithoutAJackServerFailsAtOnceWithOneLine) {
    setenv("JACK_DEFAULT_SERVER", ("marrowfin-none-" + std::to_string(getpid())).c_str(), 1);
    RunResult r = RunApp({"live", "--seconds", "5", "--osc-offset", "0"});
    unsetenv("JACK_DEFAULT_SERVER");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "marrowfin: no JACK server is running (start one with jackd, or run under pw-jack)\n");
    EXPECT_LT(r.seconds, 2.0);
}

// What JACK's process callback calls, on the real-time thread: from the first period on, for
// any period size, no allocation.
TEST(Live, TheRenderOfTheProcessCallbackAllocatesNothing) {
    if (!TB::AllocationCountingEnabled()) GTEST_SKIP() << "allocation counting is off under the sanitizers";
    const std::vector<float> signal = MakeSignal(kRate, 1, 0.2).samples;
    std::vector<float> out(MarrowfinApp::kMaxFramesPerSlice * 2);
    MarrowfinApp::UnitHost host;
    host.Configure(kRate, 2);
    host.Initialize();
    const long before = TB::ThreadAllocationCount();
    for (UInt32 frames : {64u, 256u, 1u, MarrowfinApp::kMaxFramesPerSlice}) {
        const float* in[2] = {signal.data(), signal.data() + 1};
        float* o[2] = {out.data(), out.data() + MarrowfinApp::kMaxFramesPerSlice};
        ASSERT_EQ(host.Render(in, o, frames), noErr);
    }
    EXPECT_EQ(TB::ThreadAllocationCount(), before);
}
