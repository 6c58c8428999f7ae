#include "apps/Serve.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "apps/AppError.h"
#include "apps/DemoSignal.h"
#include "apps/InputSource.h"
#include "apps/RemoteControl.h"
#include "apps/SampleRing.h"
#include "apps/Signals.h"
#include "apps/UnitHost.h"

namespace MarrowfinApp {

namespace {

// The whole input in memory, interleaved, so the render thread only copies.
std::unique_ptr<MemoryInput> LoadLoop(const std::string& path) {
    if (path.empty())
        return std::make_unique<MemoryInput>(MakeDemoBassLine(), kDemoSampleRate, 1, "demo bass line");
    AudioFileReader reader(path);
    std::vector<float> samples;
    std::vector<float> chunk(size_t(4096) * reader.Channels());
    while (int64_t got = reader.Read(chunk.data(), 4096))
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + got * reader.Channels());
    if (samples.empty()) throw Failure("cannot serve '" + path + "': it holds no audio");
    return std::make_unique<MemoryInput>(std::move(samples), reader.SampleRate(), reader.Channels(), path);
}

// Render thread: blocks paced to the sample rate, the input looped, the output handed to the
// main thread through a ring (no file writes on this thread).
class RealTimeRenderer {
public:
    RealTimeRenderer(UnitHost& host, const MemoryInput& input, SampleRing* output, int block)
        : m_host(host), m_input(input), m_output(output), m_block(size_t(block)) {
        const int channels = input.Channels();
        m_in.assign(channels, std::vector<float>(m_block));
        m_out.assign(channels, std::vector<float>(m_block));
        m_interleaved.assign(m_block * channels, 0.0f);
        for (int c = 0; c < channels; ++c) {
            m_inPtrs.push_back(m_in[c].data());
            m_outPtrs.push_back(m_out[c].data());
        }
    }

    void Start() { m_thread = std::thread([this] { Run(); }); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    bool Failed() const { return m_failed; }
    const std::string& Error() const { return m_error; }

private:
    void Run() {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(m_block) / m_input.SampleRate()));
        const int channels = m_input.Channels();
        const auto& samples = m_input.Samples();
        const int64_t loopFrames = m_input.Frames();
        auto next = Clock::now();
        try {
            while (!m_stop) {
                for (size_t i = 0; i < m_block; ++i) {
                    for (int c = 0; c < channels; ++c) m_in[c][i] = samples[size_t(m_position * channels + c)];
                    if (++m_position == loopFrames) m_position = 0;
                }
                OSStatus err = m_host.Render(m_inPtrs.data(), m_outPtrs.data(), UInt32(m_block));
                if (err != noErr) throw Failure("the unit failed to render (error " + std::to_string(err) + ")");
                if (m_output) {
                    for (size_t i = 0; i < m_block; ++i)
                        for (int c = 0; c < channels; ++c) m_interleaved[i * channels + c] = m_out[c][i];
                    m_output->Push(m_interleaved.data(), m_interleaved.size());
                }
                next += period;
                auto now = Clock::now();
                if (now - next > 8 * period) next = now;  // fell far behind (machine busy): do not burst
                std::this_thread::sleep_until(next);
            }
        } catch (const std::exception& e) {
            m_error = e.what();
            m_failed = true;
        }
    }

    UnitHost& m_host;
    const MemoryInput& m_input;
    SampleRing* m_output;
    size_t m_block;
    std::vector<std::vector<float>> m_in, m_out;
    std::vector<const float*> m_inPtrs;
    std::vector<float*> m_outPtrs;
    std::vector<float> m_interleaved;
    int64_t m_position = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::string m_error;
};

}  // namespace

void Serve(const ServeOptions& options) {
    if (options.effect.block < 1 || options.effect.block > int(kMaxFramesPerSlice))
        throw UsageError("--block must be 1 to " + std::to_string(kMaxFramesPerSlice));
    const OSCOptions osc{options.oscOffset, options.oscBasePort};
    CheckOSCOptions(osc);
    int format = 0;
    if (!options.outputFile.empty()) format = OutputFormatFor(options.outputFile, options.effect.sampleFormat);

    InstallStopSignals();
    UnitHost host;
    ApplyEffectOptions(host, options.effect);
    std::unique_ptr<MemoryInput> input = LoadLoop(options.inputFile);
    host.Configure(input->SampleRate(), UInt32(input->Channels()));
    host.Initialize();

    StartOSC(host, osc);

    std::unique_ptr<AudioFileWriter> writer;
    if (!options.outputFile.empty())
        writer = std::make_unique<AudioFileWriter>(options.outputFile, format, input->SampleRate(), input->Channels());

    // Two seconds of output in flight: the main thread drains it every 20 ms.
    const size_t channels = size_t(input->Channels());
    SampleRing ring(size_t(2.0 * input->SampleRate()) * channels + size_t(options.effect.block) * channels);
    std::vector<float> drain(size_t(4096) * channels);
    auto drainRing = [&] {
        if (!writer) return;
        while (size_t n = ring.Pop(drain.data(), drain.size())) writer->Write(drain.data(), int64_t(n / channels));
    };

    RealTimeRenderer renderer(host, *input, writer ? &ring : nullptr, options.effect.block);
    renderer.Start();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    try {
        if (options.frontend) options.frontend->Open(host);
        auto keepRunning = [&] {
            drainRing();
            if (StopRequested() || renderer.Failed()) return false;
            return !(options.seconds > 0.0 && Clock::now() - start >= std::chrono::duration<double>(options.seconds));
        };
        if (options.frontend) {
            // Waits end early on window events and posted work; the output ring wants draining
            // every 20 ms, and signals and the time limit are looked at every 100 ms.
            while (keepRunning() && options.frontend->Run(writer ? 0.02 : 0.1)) {
            }
        } else {
            RunMainLoopWhile(keepRunning);
        }
    } catch (...) {
        if (options.frontend) options.frontend->Close();
        renderer.Stop();
        throw;
    }
    if (options.frontend) options.frontend->Close();
    renderer.Stop();
    if (renderer.Failed()) throw Failure(renderer.Error());
    drainRing();
    if (ring.Dropped() > 0)
        std::fprintf(stderr, "marrowfin: the output file missed %llu frames (the disk was too slow)\n",
                     static_cast<unsigned long long>(ring.Dropped() / channels));

    if (!options.effect.saveStateFile.empty()) host.SaveState(options.effect.saveStateFile);
    if (writer) writer->Commit();
    // The unit is uninitialised (OSC tasks ended) and closed by ~UnitHost.
}

}  // namespace MarrowfinApp
