// The channel kernel: band filters, ring, cycle analysis and the per-sample generator.
// The arithmetic (operation order, float versus double) is part of the engine's output; it is
// built with -ffp-contract=off and relies on the render's flush-to-zero mode.
#include "effect/MarrowfinKernel.h"
#include "effect/MarrowfinScanWindow.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include <xmmintrin.h>

namespace {

constexpr std::align_val_t kRingAlignment{16};
constexpr UInt32 kRingFloats = 2 * kMarrowfinRingFrames;

using State = CMarrowfinKernel::State;
using OscState = CMarrowfinKernel::OscState;
using BandState = CMarrowfinKernel::BandState;
using PGOData = CMarrowfinKernel::PGOData;

// b when a >= b, else a; written so that it maps onto one minss (the operands are never NaN).
inline float MinF(float a, float b) { return a < b ? a : b; }
// e when e > 0, else +0, as one maxss: left to itself the compiler may branch on e, which
// mispredicts while the envelope hovers around the trigger level.
inline float PositivePart(float e) { return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(e), _mm_setzero_ps())); }
// gain when phase <= threshold, else -gain: the sign bit flipped by a mask, which the compiler
// otherwise builds with moves through integer registers.
inline float SignedPulse(float phase, float threshold, float gain)
{
    const __m128 below = _mm_cmple_ss(_mm_set_ss(phase), _mm_set_ss(threshold));
    return _mm_cvtss_f32(_mm_xor_ps(_mm_set_ss(gain), _mm_andnot_ps(below, _mm_set_ss(-0.f))));
}

// Generates n output samples of one stretch between two cycle analyses, and band-limits the
// same n input samples on the way.
//
// Why the loops look like this: the exact arithmetic leaves several loop-carried chains of about
// six dependent operations per sample (the two band filters, the follower, the replay position,
// the oscillator phase, the output filter), and one sample's full path from follower to output is
// far longer. The processor can only overlap these chains when the code lets it:
// - every field and state lives in a local for the call (stores into the ring would otherwise
//   force the compiler to reload them from memory on every sample);
// - each input sample is band-limited here, just before it goes into the ring, rather than over
//   the whole block first (same values: the analysis only reads frames already written);
// - the samples run in chunks on two sides, the ring side (band filters, ring, dry tap, follower,
//   replay) and the synthesis side (oscillator, mix, output filter), handing five values per
//   sample through small local arrays. One loop runs the synthesis of a chunk together with the
//   ring side of the next one: the two sides share no state and the arrays cut the long path
//   from replay to output, so the processor overlaps the chains of both sides, which it cannot
//   within one sample's path or across two separate passes;
// - the two band filters have the same form and run side by side in two lanes of one vector,
//   the highpass one sample behind the lowpass that feeds it. Each lane operation is the scalar
//   one, so the values are unchanged, and the states take two registers instead of four, which
//   keeps every loop-carried state of the combined loop in a register.
// The oscillator's pitch source is a template argument, so the loop carries neither the branch
// nor the unused increment. Processors with AVX2 run a clone compiled for it: the three-operand
// forms save the register copies that dominate the scalar code; no fused multiply-add is enabled,
// so every result is bit-identical to the baseline clone.
// ThreadSanitizer's runtime is not set up yet when the dynamic loader picks a clone, so a
// ThreadSanitizer build keeps the baseline code only; so does clang (the fuzzing build), which
// cannot clone function templates.
#if defined(__SANITIZE_THREAD__) || defined(__clang__)
#define MARROWFIN_KERNEL_CLONES
#else
#define MARROWFIN_KERNEL_CLONES __attribute__((target_clones("avx2", "default")))
#endif
// The short generators store a kernel's states one by one. Left to itself the compiler gathers the
// stores into one wide vector store, and the next call's scalar loads of those states cannot take
// their values from a store still in flight: each one-frame call then waits for the last one's
// store to reach the cache.
#if defined(__clang__)
#define MARROWFIN_SCALAR_STORES
#else
#define MARROWFIN_SCALAR_STORES __attribute__((optimize("no-tree-slp-vectorize")))
#endif

template <bool kTrackPitch>
MARROWFIN_KERNEL_CLONES void ProcessGenerateOutput(
    const float* in, float* out, UInt32 n, const PreCompNoInterp& pc, const PreComp& g,
    const State& st, double invP, OscState& os, BandState& bs, const PGOData& pd)
{
    const float lpCoef = pc.lpCoef, lpDamp = pc.lpDamp, hpCoef = pc.hpCoef, hpDamp = pc.hpDamp;
    float lpLow = bs.lpLow, lpBand = bs.lpBand, hpLow = bs.hpLow, hpBand = bs.hpBand;

    float* const ring = pd.ring;
    UInt32 w = pd.writeIndex;
    UInt32 d = (pd.writeIndex - static_cast<UInt32>(pd.window)) & kMarrowfinRingMask;
    const UInt32 dryCol = pc.filteredDry ? 1 : 0;
    const UInt32 wetCol = pc.filteredWet ? 1 : 0;

    const double P = static_cast<double>(st.period);
    const double S = static_cast<double>(st.readStart);
    const double ratio = static_cast<double>(pc.ratio);
    const double ratioEnv = static_cast<double>(pc.ratioEnv);

    // The target changes only at analyses and the follower never overshoots it.
    const float target = st.gatedEnv;
    float followEnv = os.followEnv;
    const float followCoef = target <= followEnv ? pc.releaseCoef : pc.attackCoef;
    const float triggerLevel = g.triggerLevel;

    const float oscInc = pc.oscInc, oscIncEnv = pc.oscIncEnv;
    const float pulseWidth = pc.pulseWidth, pulseWidthEnv = pc.pulseWidthEnv;
    const float triGain = g.triGain, sawGain = g.sawGain, squareGain = g.squareGain;
    const float envFollow = g.envFollow, fixedLevel = 1.f - g.envFollow, oscGain = g.oscGain;
    const float dryGain = g.dryGain, wetGain = g.wetGain, dryRingGain = g.dryRingGain, wetRingGain = g.wetRingGain;
    const float filterCoef = pc.filterCoef, filterCoefEnv = pc.filterCoefEnv, filterDamp = pc.filterDamp;
    const float thruMix = pc.thruMix, lowMix = pc.lowMix, bandMix = pc.bandMix, highMix = pc.highMix;

    double readPhase = os.readPhase;
    float oscPhase = os.oscPhase;
    float filterLow = os.filterLow, filterBand = os.filterBand;

    // Band filter lanes: (lowpass of sample i + 1, highpass of sample i); the first lowpass step
    // runs alone, the last highpass step in scalars. The ring side thus reads one input sample
    // ahead, whose output (in-place processing) is written only in a later chunk.
    const __m128 bandCoef = _mm_setr_ps(lpCoef, hpCoef, 0.f, 0.f);
    const __m128 bandDamp = _mm_setr_ps(lpDamp, hpDamp, 0.f, 0.f);
    lpLow = lpLow + lpBand * lpCoef;
    lpBand = lpBand + (in[0] - lpLow - lpBand * lpDamp) * lpCoef;
    __m128 bandLow = _mm_setr_ps(lpLow, hpLow, 0.f, 0.f);
    __m128 bandBand = _mm_setr_ps(lpBand, hpBand, 0.f, 0.f);
    const float* const lastIn = in + n - 1;

    constexpr UInt32 kChunk = 64;
    float envArr[kChunk], followArr[kChunk], dryArr[kChunk], wetArr[kChunk], incArr[kChunk];

    // Ring side of sample j of the chunk starting at chunkIn.
    auto ringSide = [&](UInt32 j, const float* chunkIn) __attribute__((always_inline)) {
        const float x = chunkIn[j];
        float h;
        if (chunkIn + j != lastIn) {
            // Highpass input: this sample's lowpass output, lane 0 before the step.
            const __m128 input = _mm_unpacklo_ps(_mm_set_ss(chunkIn[j + 1]), bandLow);
            bandLow = _mm_add_ps(bandLow, _mm_mul_ps(bandBand, bandCoef));
            const __m128 t = _mm_sub_ps(_mm_sub_ps(input, bandLow), _mm_mul_ps(bandBand, bandDamp));
            bandBand = _mm_add_ps(bandBand, _mm_mul_ps(t, bandCoef));
            h = _mm_cvtss_f32(_mm_shuffle_ps(t, t, _MM_SHUFFLE(1, 1, 1, 1)));
        } else {
            // Last sample of the stretch: only its highpass is left.
            lpLow = _mm_cvtss_f32(bandLow);
            lpBand = _mm_cvtss_f32(bandBand);
            hpLow = _mm_cvtss_f32(_mm_shuffle_ps(bandLow, bandLow, _MM_SHUFFLE(1, 1, 1, 1)));
            hpBand = _mm_cvtss_f32(_mm_shuffle_ps(bandBand, bandBand, _MM_SHUFFLE(1, 1, 1, 1)));
            hpLow = hpLow + hpBand * hpCoef;
            h = lpLow - hpLow - hpBand * hpDamp;
            hpBand = hpBand + h * hpCoef;
        }
        const float dry = ring[2 * d + dryCol];

        followEnv = (followEnv - target) * followCoef + target;
        // 0 when negative (e is never NaN and never -0, so this is one maxss).
        float e = followEnv - triggerLevel;
        e = e > 0.f ? e : 0.f;

        // Cycle replay at speed r, linearly interpolated.
        const double r = static_cast<double>(e) * ratioEnv + ratio;
        const double q = S + readPhase;
        const int64_t qi = static_cast<int64_t>(q);
        const float f = static_cast<float>(q - static_cast<double>(qi));
        const UInt32 k = static_cast<UInt32>(qi) & kMarrowfinRingMask;
        readPhase += r;
        if (readPhase - P >= 0.0)
            readPhase -= P;
        const float a = ring[2 * k + wetCol];
        const float b = ring[2 * ((k + 1) & kMarrowfinRingMask) + wetCol];
        const float wet = a - a * f + f * b;

        ring[2 * w] = x;
        ring[2 * w + 1] = h;
        w = (w + 1) & kMarrowfinRingMask;
        d = (d + 1) & kMarrowfinRingMask;

        envArr[j] = e;
        followArr[j] = followEnv;
        dryArr[j] = dry;
        wetArr[j] = wet;
        incArr[j] = kTrackPitch ? static_cast<float>(r * invP) : oscIncEnv * e + oscInc;
    };

    // Synthesis side of sample j of the chunk whose ring side ran last, output at chunkOut.
    auto synthesisSide = [&](UInt32 j, float* chunkOut) __attribute__((always_inline)) {
        const float e = envArr[j];
        const float dry = dryArr[j];
        const float wet = wetArr[j];

        oscPhase += incArr[j];
        if (oscPhase - 1.f >= 0.f)
            oscPhase -= 1.f;
        const float tri = MinF(3.f - 4.f * oscPhase, 4.f * oscPhase - 1.f);
        const float saw = 2.f * oscPhase - 1.f;
        // squareGain times a pulse of +1 or -1, without the multiplication.
        const float square = oscPhase <= pulseWidthEnv * e + pulseWidth ? squareGain : -squareGain;
        const float osc = triGain * tri + sawGain * saw + square;

        const float level = (envFollow * followArr[j] + fixedLevel) * oscGain;
        const float mix = (dryRingGain * dry + level) * osc + wetGain * wet + (wet * wetRingGain) * osc;

        // Output filter, cutoff following the envelope; the dry signal bypasses it.
        const float gf = filterCoefEnv * e + filterCoef;
        filterLow = filterLow + filterBand * gf;
        const float high = mix - filterLow - filterDamp * filterBand;
        filterBand = filterBand + gf * high;

        chunkOut[j] = dry * dryGain + lowMix * filterLow + mix * thruMix + high * highMix + bandMix * filterBand;
    };

    // Ring side of the first chunk alone.
    UInt32 m = std::min(kChunk, n);
    for (UInt32 j = 0; j < m; ++j)
        ringSide(j, in);
    // Synthesis of each full chunk together with the ring side of the next one. The synthesis
    // side reads sample j of the arrays before the ring side overwrites it.
    UInt32 chunkStart = 0;
    for (UInt32 next = kChunk; next < n; next += kChunk) {
        m = std::min(kChunk, n - next);
        float* const chunkOut = out + chunkStart;
        const float* const nextIn = in + next;
        UInt32 j = 0;
        for (; j < m; ++j) {
            synthesisSide(j, chunkOut);
            ringSide(j, nextIn);
        }
        for (; j < kChunk; ++j)
            synthesisSide(j, chunkOut);
        chunkStart = next;
    }
    // Synthesis of the last chunk alone.
    for (UInt32 j = 0; j < m; ++j)
        synthesisSide(j, out + chunkStart);

    bs.lpLow = lpLow;
    bs.lpBand = lpBand;
    bs.hpLow = hpLow;
    bs.hpBand = hpBand;
    os.readPhase = readPhase;
    os.oscPhase = oscPhase;
    os.followEnv = followEnv;
    os.filterLow = filterLow;
    os.filterBand = filterBand;
}

// Generates n output samples of one stretch, sample after sample: the generator for blocks too
// short for the chunked one above, whose set-up (band filter lanes, the two-sided chunks) costs
// more than a handful of samples do. Same operations in the same order, so the same output bit for
// bit. Render thread.
template <bool kTrackPitch>
[[gnu::always_inline]] inline void GenerateShort(
    const float* in, float* out, UInt32 n, const PreCompNoInterp& pc, const PreComp& g, const State& st,
    double invP, OscState& os, BandState& bs, const PGOData& pd)
{
    float lpLow = bs.lpLow, lpBand = bs.lpBand, hpLow = bs.hpLow, hpBand = bs.hpBand;
    float* const ring = pd.ring;
    UInt32 w = pd.writeIndex;
    UInt32 d = (pd.writeIndex - static_cast<UInt32>(pd.window)) & kMarrowfinRingMask;
    const UInt32 dryCol = pc.filteredDry ? 1 : 0;
    const UInt32 wetCol = pc.filteredWet ? 1 : 0;
    const double P = static_cast<double>(st.period);
    const double S = static_cast<double>(st.readStart);
    const float target = st.gatedEnv;
    float followEnv = os.followEnv;
    const float followCoef = target <= followEnv ? pc.releaseCoef : pc.attackCoef;
    double readPhase = os.readPhase;
    float oscPhase = os.oscPhase;
    float filterLow = os.filterLow, filterBand = os.filterBand;

    for (UInt32 i = 0; i < n; ++i) {
        const float x = in[i];
        lpLow = lpLow + lpBand * pc.lpCoef;
        lpBand = lpBand + (x - lpLow - lpBand * pc.lpDamp) * pc.lpCoef;
        hpLow = hpLow + hpBand * pc.hpCoef;
        const float h = lpLow - hpLow - hpBand * pc.hpDamp;
        hpBand = hpBand + h * pc.hpCoef;

        const float dry = ring[2 * d + dryCol];
        followEnv = (followEnv - target) * followCoef + target;
        float e = followEnv - g.triggerLevel;
        e = PositivePart(e);

        const double r = static_cast<double>(e) * static_cast<double>(pc.ratioEnv) + static_cast<double>(pc.ratio);
        const double q = S + readPhase;
        const int64_t qi = static_cast<int64_t>(q);
        const float f = static_cast<float>(q - static_cast<double>(qi));
        const UInt32 k = static_cast<UInt32>(qi) & kMarrowfinRingMask;
        readPhase += r;
        if (readPhase - P >= 0.0)
            readPhase -= P;
        const float a = ring[2 * k + wetCol];
        const float b = ring[2 * ((k + 1) & kMarrowfinRingMask) + wetCol];
        const float wet = a - a * f + f * b;
        ring[2 * w] = x;
        ring[2 * w + 1] = h;
        w = (w + 1) & kMarrowfinRingMask;
        d = (d + 1) & kMarrowfinRingMask;

        oscPhase += kTrackPitch ? static_cast<float>(r * invP) : pc.oscIncEnv * e + pc.oscInc;
        if (oscPhase - 1.f >= 0.f)
            oscPhase -= 1.f;
        const float tri = MinF(3.f - 4.f * oscPhase, 4.f * oscPhase - 1.f);
        const float saw = 2.f * oscPhase - 1.f;
        const float square = SignedPulse(oscPhase, pc.pulseWidthEnv * e + pc.pulseWidth, g.squareGain);
        const float osc = g.triGain * tri + g.sawGain * saw + square;
        const float level = (g.envFollow * followEnv + (1.f - g.envFollow)) * g.oscGain;
        const float mix = (g.dryRingGain * dry + level) * osc + g.wetGain * wet + (wet * g.wetRingGain) * osc;
        const float gf = pc.filterCoefEnv * e + pc.filterCoef;
        filterLow = filterLow + filterBand * gf;
        const float high = mix - filterLow - pc.filterDamp * filterBand;
        filterBand = filterBand + gf * high;
        out[i] = dry * g.dryGain + pc.lowMix * filterLow + mix * pc.thruMix + high * pc.highMix +
                 pc.bandMix * filterBand;
    }

    bs.lpLow = lpLow;
    bs.lpBand = lpBand;
    bs.hpLow = hpLow;
    bs.hpBand = hpBand;
    os.readPhase = readPhase;
    os.oscPhase = oscPhase;
    os.followEnv = followEnv;
    os.filterLow = filterLow;
    os.filterBand = filterBand;
}

}  // namespace

// The generators' view of a kernel.
struct CMarrowfinKernelView {
    CMarrowfinKernel& k;
    const MarrowfinBlock& block() const { return *k.m_block; }
    State& state() const { return k.m_state; }
    double invPeriod() const { return k.m_invPeriod; }
    OscState& osc() const { return k.m_osc; }
    BandState& band() const { return k.m_band; }
    float* ring() const { return k.m_ring; }
    UInt32& writeIndex() const { return k.m_writeIndex; }
    void analyse(const PreCompNoInterp& pc) const { k.AnalyseCycle(pc); }
};

namespace {

// Runs `frames` frames of one kernel stretch by stretch: generate(pos, s, ring data) for the s
// samples from pos up to the next analysis, and the analysis where a stretch ends.
template <class Generate>
[[gnu::always_inline]] inline void RunStretches(const CMarrowfinKernelView& k, UInt32 frames, const Generate& generate)
{
    const PreCompNoInterp& pc = k.block().preCompNoInterp;
    State& st = k.state();
    UInt32 pos = 0;
    while (pos < frames) {
        const UInt32 s = std::min(frames - pos, st.countdown);
        if (s > 0) {
            generate(pos, s, PGOData{k.ring(), k.writeIndex(), pc.window});
            pos += s;
            st.countdown -= s;
            k.writeIndex() = (k.writeIndex() + s) & kMarrowfinRingMask;
        }
        if (st.countdown == 0)
            k.analyse(pc);
    }
}

// A whole short block of one kernel: its stretches sample by sample and the analyses between
// them, in one call, so a block of a frame or two pays for one call and one set-up only.
template <bool kTrackPitch>
MARROWFIN_KERNEL_CLONES MARROWFIN_SCALAR_STORES void RunShort(CMarrowfinKernel& kernel, const float* in, float* out, UInt32 frames)
{
    const CMarrowfinKernelView k{kernel};
    const MarrowfinBlock& block = k.block();
    RunStretches(k, frames, [&](UInt32 pos, UInt32 s, const PGOData& pd) __attribute__((always_inline)) {
        GenerateShort<kTrackPitch>(in + pos, out + pos, s, block.preCompNoInterp, block.preComp, k.state(),
                                   k.invPeriod(), k.osc(), k.band(), pd);
    });
}

// One frame with no analysis before or after it, as hosts that run a frame at a time mostly
// call: straight-line code, so nothing has to stay in a register from one sample to the next.
// Anything else goes to RunShort.
template <bool kTrackPitch>
MARROWFIN_KERNEL_CLONES MARROWFIN_SCALAR_STORES void RunOne(CMarrowfinKernel& kernel, const float* in, float* out)
{
    const CMarrowfinKernelView k{kernel};
    State& st = k.state();
    if (st.countdown <= 1) {
        RunShort<kTrackPitch>(kernel, in, out, 1);
        return;
    }
    const MarrowfinBlock& block = k.block();
    const PreCompNoInterp& pc = block.preCompNoInterp;
    const PGOData pd{k.ring(), k.writeIndex(), pc.window};
    GenerateShort<kTrackPitch>(in, out, 1, pc, block.preComp, st, k.invPeriod(), k.osc(), k.band(), pd);
    st.countdown -= 1;
    k.writeIndex() = (k.writeIndex() + 1) & kMarrowfinRingMask;
}

// A block of at least kShortBlock frames of one kernel: each stretch through the chunked generator,
// the analyses between them.
[[gnu::noinline]] void RunLong(CMarrowfinKernel& kernel, const float* in, float* out, UInt32 frames)
{
    const CMarrowfinKernelView k{kernel};
    const MarrowfinBlock& block = k.block();
    const PreCompNoInterp& pc = block.preCompNoInterp;
    auto* generate = pc.trackPitch ? ProcessGenerateOutput<true> : ProcessGenerateOutput<false>;
    RunStretches(k, frames, [&](UInt32 pos, UInt32 s, const PGOData& pd) {
        generate(in + pos, out + pos, s, pc, block.preComp, k.state(), k.invPeriod(), k.osc(), k.band(), pd);
    });
}

}  // namespace

CMarrowfinKernel::CMarrowfinKernel(AUEffectBase* unit, const MarrowfinBlock* block, SInt32 channelIndex)
    : AUKernelBase(unit), m_block(block), m_channelIndex(channelIndex)
{
    CMarrowfinKernel::Reset();
}

CMarrowfinKernel::~CMarrowfinKernel()
{
    if (m_ring)
        ::operator delete(m_ring, kRingAlignment);
}

void CMarrowfinKernel::Reset()
{
    if (!m_ring)
        m_ring = static_cast<float*>(::operator new(kRingFloats * sizeof(float), kRingAlignment));
    std::fill(m_ring, m_ring + kRingFloats, 0.f);
    m_writeIndex = 0;
    m_state.cycleEnv = 0.f;
    m_state.gatedEnv = 0.f;
    m_state.period = kMarrowfinMaxWindow;
    m_invPeriod = 1.0 / static_cast<double>(kMarrowfinMaxWindow);
    m_state.countdown = 0;
    m_state.syncCount = 0;
    m_state.noLock = true;
    m_osc = OscState{};
    m_band = BandState{};
}

void CMarrowfinKernel::AnalyseCycle(const PreCompNoInterp& pc)
{
    const SInt32 window = pc.window;
    const UInt32 start = (m_writeIndex - static_cast<UInt32>(window)) & kMarrowfinRingMask;

    UInt32 found = 0;
    const float peak = MarrowfinScanWindow(m_ring, start, static_cast<UInt32>(window > 0 ? window : 0), found);

    float env = peak * pc.envPreGain;
    if (env >= 1.f)
        env = 1.f;
    m_state.cycleEnv = env;
    m_state.gatedEnv = pc.envGate <= env ? env : 0.f;
    m_state.noLock = found == 0;
    if (found != 0 && found != m_state.period) {
        m_state.period = found;
        m_invPeriod = 1.0 / static_cast<double>(found);
    }
    m_state.readStart = start;
    m_state.countdown = m_state.period;
    m_osc.readPhase = 0.0;

    const SInt32 syncCycles = pc.syncCycles;
    if (syncCycles == 0) {
        m_state.syncCount = 0;
    } else if (++m_state.syncCount >= syncCycles) {
        m_state.syncCount = 0;
        m_osc.oscPhase = 0.f;
    }
}

OSStatus CMarrowfinKernel::Process(const Float32* in, Float32* out, UInt32 frames, UInt32 inNumChannels,
                                   bool& ioSilence) {
    if (inNumChannels != 1) return kAudioUnitErr_FormatNotSupported;
    if (frames > m_block->scratchFrames) return kAudioUnitErr_TooManyFramesToProcess;
    ioSilence = false;
    // Both generators take the same stretches, so a block's output does not depend on which runs.
    if (frames >= kShortBlock)
        RunLong(*this, in, out, frames);
    else if (frames == 1)
        (m_block->preCompNoInterp.trackPitch ? RunOne<true> : RunOne<false>)(*this, in, out);
    else if (frames > 0)
        (m_block->preCompNoInterp.trackPitch ? RunShort<true> : RunShort<false>)(*this, in, out, frames);
    return noErr;
}
