#include "apps/OfflineRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "apps/AppError.h"
#include "apps/DemoSignal.h"
#include "apps/MidiFileEvents.h"
#include "apps/Progress.h"
#include "apps/Signals.h"
#include "apps/UnitHost.h"
#include "hostframework/RunLoop.h"

namespace MarrowfinApp {

int64_t MemoryInput::Read(float* interleaved, int64_t frames) {
    const int64_t n = std::clamp<int64_t>(Frames() - m_position, 0, frames);
    std::memcpy(interleaved, m_samples.data() + m_position * m_channels, size_t(n * m_channels) * sizeof(float));
    m_position += n;
    return n;
}

namespace {

// Delivers the MIDI events due in the block [start, start + frames) with their offsets inside it.
class MidiPlayer {
public:
    MidiPlayer(UnitHost& host, std::vector<MidiFileEvent> events) : m_host(host), m_events(std::move(events)) {}

    void DeliverBlock(int64_t start, UInt32 frames) {
        while (m_next < m_events.size() && m_events[m_next].frame < start + int64_t(frames)) {
            const MidiFileEvent& e = m_events[m_next++];
            const UInt32 offset = UInt32(std::max<int64_t>(0, e.frame - start));
            if (e.bytes[0] == 0xF0) {
                m_host.SysEx(e.bytes.data(), UInt32(e.bytes.size()));
            } else {
                m_host.MIDIEvent(e.bytes[0], e.bytes.size() > 1 ? e.bytes[1] : 0, e.bytes.size() > 2 ? e.bytes[2] : 0,
                                 offset);
            }
        }
    }

private:
    UnitHost& m_host;
    std::vector<MidiFileEvent> m_events;
    size_t m_next = 0;
};

}  // namespace

void RenderOffline(const InputOpener& openInput, const std::string& outputPath, const EffectOptions& options) {
    // Usage errors first, then the files in the order they are needed.
    if (options.block < 1 || options.block > int(kMaxFramesPerSlice))
        throw UsageError("--block must be 1 to " + std::to_string(kMaxFramesPerSlice));
    const int format = OutputFormatFor(outputPath, options.sampleFormat);
    UnitHost host;
    ApplyEffectOptions(host, options);

    std::unique_ptr<InputSource> inputHolder = openInput();
    InputSource& input = *inputHolder;
    const int channels = input.Channels();
    const double sampleRate = input.SampleRate();
    std::vector<MidiFileEvent> events;
    if (!options.midiFile.empty()) events = ReadMidiFile(options.midiFile, sampleRate);
    host.Configure(sampleRate, UInt32(channels));
    host.Initialize();

    AudioFileWriter writer(outputPath, format, sampleRate, channels);
    MidiPlayer midi(host, std::move(events));

    const size_t block = size_t(options.block);
    std::vector<float> interleavedIn(block * channels), interleavedOut(block * channels);
    std::vector<std::vector<float>> in(channels, std::vector<float>(block)), out(channels, std::vector<float>(block));
    std::vector<const float*> inPtrs(channels);
    std::vector<float*> outPtrs(channels);
    for (int c = 0; c < channels; ++c) {
        inPtrs[c] = in[c].data();
        outPtrs[c] = out[c].data();
    }

    int64_t inputFrames = input.Frames();  // corrected if the file turns out shorter
    bool inputEnded = false;
    int64_t fed = 0;          // frames given to the unit so far (input, then zeros)
    int64_t toDrop = 0;       // output frames still to discard for latency compensation
    int64_t feedTarget = inputFrames;
    bool latencyKnown = false;
    Progress progress(inputFrames, !options.quiet);
    TB::RunLoop& runLoop = TB::RunLoop::Main();

    while (fed < feedTarget) {
        if (StopRequested()) throw AppError(kExitInterrupted, "interrupted; no output written");
        runLoop.RunOnce();

        const UInt32 n = UInt32(std::min<int64_t>(int64_t(block), feedTarget - fed));
        int64_t got = 0;
        if (!inputEnded) {
            got = input.Read(interleavedIn.data(), n);
            if (got < n) {
                // The file ended early (a short or damaged file): render what there is.
                inputEnded = true;
                if (fed + got < inputFrames) {
                    feedTarget -= inputFrames - (fed + got);
                    inputFrames = fed + got;
                }
            }
        }
        std::fill(interleavedIn.begin() + got * channels, interleavedIn.begin() + n * channels, 0.0f);
        for (int c = 0; c < channels; ++c)
            for (UInt32 i = 0; i < n; ++i) in[c][i] = interleavedIn[i * channels + c];
        const UInt32 frames = std::min<UInt32>(n, UInt32(std::max<int64_t>(0, feedTarget - fed)));
        if (frames == 0) break;

        midi.DeliverBlock(fed, frames);
        OSStatus err = host.Render(inPtrs.data(), outPtrs.data(), frames);
        if (err != noErr)
            throw Failure("the unit failed to render '" + input.Name() + "' (error " + std::to_string(err) + ")");
        fed += frames;

        if (options.compensateLatency && !latencyKnown) {
            // The unit knows its latency once it has rendered a block.
            latencyKnown = true;
            toDrop = std::llround(host.LatencySeconds() * sampleRate);
            toDrop = std::max<int64_t>(0, toDrop);
            feedTarget = inputFrames + toDrop;
        }

        UInt32 skip = UInt32(std::min<int64_t>(toDrop, frames));
        toDrop -= skip;
        for (int c = 0; c < channels; ++c)
            for (UInt32 i = skip; i < frames; ++i) interleavedOut[(i - skip) * channels + c] = out[c][i];
        writer.Write(interleavedOut.data(), frames - skip);
        progress.Update(fed);
    }
    progress.Finish();

    // The state after the render (scripts may have changed parameters), before the output is
    // committed, so a failing state file leaves no output behind either.
    if (!options.saveStateFile.empty()) host.SaveState(options.saveStateFile);
    writer.Commit();
}

void RenderFile(const std::string& inputPath, const std::string& outputPath, const EffectOptions& options) {
    RenderOffline([&] { return std::make_unique<FileInput>(inputPath); }, outputPath, options);
}

void RenderDemo(const std::string& outputPath, EffectOptions options) {
    if (options.preset.empty()) options.preset = kDemoPreset;
    RenderOffline([] { return std::make_unique<MemoryInput>(MakeDemoBassLine(), kDemoSampleRate, 1, "demo bass line"); },
                  outputPath, options);
}

}  // namespace MarrowfinApp
