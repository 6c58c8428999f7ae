#include "apps/Live.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>

#include "apps/AppError.h"
#include "apps/LiveFrontEnd.h"
#include "apps/LiveJack.h"
#include "apps/LiveMidi.h"
#include "apps/Signals.h"
#include "apps/UnitHost.h"
#include "effect/MarrowfinConstants.h"
#include "hostframework/Log.h"

namespace MarrowfinApp {

namespace {

constexpr const char* kClientName = "Marrowfin";

// The unit's latency in frames: its analysis window, which it reports (in seconds) once it has
// rendered a block at this rate.
uint32_t LatencyFrames(double sampleRate) { return uint32_t(MarrowfinAnalysisWindow(float(sampleRate))); }

// SIGINT and SIGTERM blocked on the calling thread while it lives, so the threads started
// meanwhile (JACK's, MIDI delivery) inherit the mask and the main thread alone takes them.
class ScopedStopSignalsBlocked {
public:
    ScopedStopSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, &m_saved);
    }
    ~ScopedStopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }

private:
    sigset_t m_saved;
};

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

}  // namespace

void Live(const LiveOptions& options) {
    if (options.channels < 1 || options.channels > 2) throw UsageError("--channels must be 1 or 2");
    CheckOSCOptions(options.osc);
    InstallStopSignals();

    UnitHost host;
    ApplyEffectOptions(host, options.effect);
    LiveMidiQueue midiQueue;
    LiveMidiDelivery midiDelivery(host, midiQueue);
    std::unique_ptr<LiveJackClient> jack;
    {
        ScopedStopSignalsBlocked blocked;
        jack = std::make_unique<LiveJackClient>(kClientName, uint32_t(options.channels));
        host.Configure(jack->SampleRate(), UInt32(options.channels));
        host.Initialize();
        StartOSC(host, options.osc);
        midiDelivery.Start();
        jack->Activate(host, midiQueue, LatencyFrames(jack->SampleRate()));
    }
    TB::LogFormat(TB::LogLevel::kNote, "live on JACK as \"%s\" (%s) at %d Hz, %u frames per period\n",
                  jack->Name().c_str(), Join(jack->PortNames()).c_str(), int(jack->SampleRate()), jack->BufferSize());
    if (options.connect) jack->ConnectPhysicalPorts();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastReport = start;
    uint64_t reportedXruns = 0;
    // Main thread, between slices of the front end's loop.
    auto keepRunning = [&] {
        const auto now = Clock::now();
        const uint64_t xruns = jack->Xruns();
        if (xruns > reportedXruns && now - lastReport >= std::chrono::seconds(1)) {
            TB::LogFormat(TB::LogLevel::kNote, "xruns: %llu in the last %.1f s, %llu in all\n",
                          static_cast<unsigned long long>(xruns - reportedXruns),
                          std::chrono::duration<double>(now - lastReport).count(),
                          static_cast<unsigned long long>(xruns));
            reportedXruns = xruns;
            lastReport = now;
        }
        double rate = 0.0;
        if (jack->TakeSampleRateChange(rate)) {
            // The process callback plays silence from the announcement until Resume.
            jack->Park();
            host.Uninitialize();
            host.Configure(rate, UInt32(options.channels));
            host.Initialize();
            StartOSC(host, options.osc, true);  // the OSC task restarts with the unit
            jack->Resume(rate, LatencyFrames(rate));
            TB::LogFormat(TB::LogLevel::kNote, "JACK runs at %d Hz now: the unit was re-initialised\n", int(rate));
        }
        if (StopRequested() || jack->ServerGone()) return false;
        return !(options.seconds > 0.0 && now - start >= std::chrono::duration<double>(options.seconds));
    };
    RunLiveFrontEnd(host, options.editor, keepRunning);

    const bool serverGone = jack->ServerGone();
    const std::string reason = jack->ShutdownReason();
    jack->Close();
    midiDelivery.Stop();  // what was queued still reaches the scripts before the state is saved

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    TB::LogFormat(TB::LogLevel::kNote, "played %.1f s live: %llu xruns\n", seconds,
                  static_cast<unsigned long long>(jack->Xruns()));
    if (jack->RenderErrors() > 0)
        TB::LogFormat(TB::LogLevel::kError, "marrowfin: the unit failed to render %llu periods (played as silence)\n",
                      static_cast<unsigned long long>(jack->RenderErrors()));
    if (midiQueue.Dropped() > 0)
        TB::LogFormat(TB::LogLevel::kError, "marrowfin: %llu MIDI messages came faster than the scripts took them and were dropped\n",
                      static_cast<unsigned long long>(midiQueue.Dropped()));

    if (!options.effect.saveStateFile.empty()) host.SaveState(options.effect.saveStateFile);
    if (serverGone)
        throw Failure("the JACK server shut down" + (reason.empty() ? std::string() : " (" + reason + ")"));
    // The unit is uninitialised (OSC tasks ended) and closed by ~UnitHost.
}

}  // namespace MarrowfinApp
