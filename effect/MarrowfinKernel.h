// One channel of the engine: band-limits the input, keeps the last 2048 frames in a ring,
// measures each input cycle at its boundary and generates the output between boundaries
// (cycle replay, tracking oscillator, ring modulation, envelope follower, output filter).
// Created and reset on non-render threads while the unit is not rendering; Process runs on the
// render thread after PreRender and before PostRender, and neither allocates nor locks.
#pragma once

#include "effect/MarrowfinDSP.h"
#include "hostframework/AUKernelBase.h"

class CMarrowfinKernel final : public AUKernelBase {
public:
    // Result of the last cycle analysis; constant while output is generated.
    struct State {
        float cycleEnv;     // peak of the band-limited window times envPreGain, at most 1
        float gatedEnv;     // cycleEnv when it reaches envGate, else 0: the follower's target
        UInt32 period;      // detected cycle length in samples, never 0
        UInt32 countdown;   // samples to generate before the next analysis
        UInt32 readStart;   // ring frame where the replayed cycle starts
        SInt32 syncCount;   // analyses since the oscillator phase was last reset
        bool noLock;        // the last analysis found no rising zero crossing
    };
    // Running state of the generator.
    struct OscState {
        double readPhase;   // replay position within the cycle, samples
        float oscPhase;     // oscillator phase
        float followEnv;    // envelope follower output
        float filterLow;    // output filter lowpass state
        float filterBand;   // output filter bandpass state
    };
    // States of the two analysis band filters (lowpass, then highpass).
    struct BandState {
        float lpLow;
        float lpBand;
        float hpLow;
        float hpBand;
    };
    // What the generator needs of the ring for one stretch.
    struct PGOData {
        float* ring;        // kMarrowfinRingFrames (raw, band-limited) pairs
        UInt32 writeIndex;  // frame the first input sample of the stretch goes to
        SInt32 window;
    };

    // The kernel reads `block` (owned by the unit) in every Process call. Resets itself.
    CMarrowfinKernel(AUEffectBase* unit, const MarrowfinBlock* block, SInt32 channelIndex);
    ~CMarrowfinKernel() override;
    CMarrowfinKernel(const CMarrowfinKernel&) = delete;
    CMarrowfinKernel& operator=(const CMarrowfinKernel&) = delete;

    // Silent ring, period 1023, no lock, analysis at the next sample. Allocates the ring on
    // first use only.
    void Reset() override;
    // inNumChannels must be 1 (non-interleaved); otherwise throws
    // OSStatus(kAudioUnitErr_FormatNotSupported) before touching any state. More frames than the
    // unit's scratch buffer holds throw OSStatus(kAudioUnitErr_TooManyFramesToProcess), likewise.
    // In-place processing (in == out) is allowed.
    OSStatus Process(const Float32* in, Float32* out, UInt32 frames, UInt32 inNumChannels, bool& ioSilence) override;

    // Renders `count` channels of one slice, kernels[c] from in[c] into out[c] (non-interleaved,
    // in place allowed per channel; the kernels of one unit, reading one block record), with the
    // output of `count` separate Process calls bit for bit. Up to eight channels (two without AVX2) run in the lanes of one vector; each lane
    // does exactly the scalar operations. Same errors as Process, before touching any state.
    // Render thread.
    static OSStatus ProcessChannels(CMarrowfinKernel* const* kernels, const Float32* const* in, Float32* const* out,
                                    UInt32 count, UInt32 frames);
    // A lone channel's blocks shorter than this are generated sample by sample: for them the
    // set-up of the chunked generator costs more than it saves. (Lanes of several channels gain
    // more from running side by side, whatever the block size.)
    static constexpr UInt32 kShortBlock = 16;
    // Widest lane group ProcessChannels forms (1, 2, 4 or 8): 8 on processors with AVX2,
    // otherwise 2. Tests change it to compare group shapes; set it only while nothing renders.
    static UInt32 ms_laneWidth;

    // Read by PostRender and by tests.
    UInt32 period() const { return m_state.period; }
    float cycleEnv() const { return m_state.cycleEnv; }
    float followEnv() const { return m_osc.followEnv; }
    bool noLock() const { return m_state.noLock; }
    SInt32 channelIndex() const { return m_channelIndex; }
    const State& state() const { return m_state; }
    const OscState& oscState() const { return m_osc; }
    const BandState& bandState() const { return m_band; }
    UInt32 writeIndex() const { return m_writeIndex; }
    // The ring as 2 * kMarrowfinRingFrames floats, (raw, band-limited) per frame.
    const float* ring() const { return m_ring; }

private:
    friend struct CMarrowfinLaneKernel;   // the lane generator's view of a kernel
    friend struct CMarrowfinKernelView;   // the scalar generators' view of a kernel

    // ProcessChannels for two channels or more (apart, so a lone channel's call stays short).
    [[gnu::noinline]] static OSStatus ProcessSeveral(CMarrowfinKernel* const* kernels, const Float32* const* in,
                                                     Float32* const* out, UInt32 count, UInt32 frames);
    // One group of 1 to 8 kernels through the lane generator (MarrowfinKernelLanes.cpp); the
    // arguments are checked by the callers.
    static void ProcessGroup(CMarrowfinKernel* const* kernels, const Float32* const* in, Float32* const* out,
                             UInt32 count, UInt32 frames);
    void AnalyseCycle(const PreCompNoInterp& pc);

    const MarrowfinBlock* m_block;
    SInt32 m_channelIndex;
    State m_state{};
    double m_invPeriod = 0.0;  // 1 / period, renewed when the period changes
    OscState m_osc{};
    BandState m_band{};
    float* m_ring = nullptr;
    UInt32 m_writeIndex = 0;
};
