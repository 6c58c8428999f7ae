// Block-rate control: parameters -> PreComp / PreCompNoInterp, LFOs, editor smoothing.
// The precision of every step is part of the engine's output: steps that go through double
// are written with explicit casts and double constants, all others use float constants and the
// float functions (exp2f, expf, powf, sinf). Built with -ffp-contract=off.
#include "effect/MarrowfinDSP.h"

#include <math.h>

#include <bit>
#include <cmath>

#include "effect/MarrowfinKernel.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kQuarterPi = kPi / 4.0;
constexpr float kQuarterPiF = static_cast<float>(kQuarterPi);
constexpr float kTwelfth = 0.083333336f;

// b when a >= b, else a.
inline float MinF(float a, float b) { return a >= b ? b : a; }
inline double MinD(double a, double b) { return a >= b ? b : a; }
inline float MaxF(float a, float b) { return a >= b ? a : b; }

inline float Cube(float x) { return (x * x) * x; }

// Frequency coefficient and damping of an analysis band filter at `cutoff` Hz.
void BandFilterCoefs(float cutoff, float fs, float& coef, float& damp)
{
    const float c = cutoff < 0.f ? 0.f : cutoff;
    const float w = static_cast<float>(static_cast<double>(c) * kPi * (1.0 / static_cast<double>(fs)));
    coef = static_cast<float>(2.0 * std::sin(MinD(static_cast<double>(w), kQuarterPi)));
    const double dc = static_cast<double>(coef);
    const double maxDamp = 2.0 * (1.0 - std::pow(0.0001, 0.25));
    damp = static_cast<float>(MinD(MinD(2.0 / dc - dc / 2.0, 2.0), maxDamp));
}

// Output filter coefficients for a cutoff of y octaves (of cutoff + 62.5 Hz); qDamp is the
// damping "Filter Q" asks for.
void OutputFilterCoefs(float y, float envDepth, double qDamp, float fs, MarrowfinBlockCache& out)
{
    float c = static_cast<float>((std::exp2(static_cast<double>(y)) - 1.0) * 62.5);
    if (c < 0.f)
        c = 0.f;
    const float w0 = static_cast<float>(static_cast<double>(c) * (kPi * (1.0 / static_cast<double>(fs))));
    const float f0 = static_cast<float>(2.0 * std::sin(MinD(static_cast<double>(w0), kQuarterPi)));
    const float w1 = static_cast<float>(static_cast<double>(::exp2f(envDepth)) * static_cast<double>(w0));
    const float f1 = 2.f * ::sinf(MinF(w1, kQuarterPiF));
    const double df0 = static_cast<double>(f0);
    float d = static_cast<float>(MinD(MinD(2.0 / df0 - df0 / 2.0, 2.0), qDamp));
    d = MinF(2.f / f1 - f1 / 2.f, d);
    out.filterCoef = f0;
    out.filterCoefEnv = f1 - f0;
    out.filterDamp = d;
}

inline float AdvancePhase(float phase, float dt, float rate)
{
    phase = phase + dt * rate;
    return phase - ::floorf(phase);
}

}  // namespace

float Sin01(float phase)
{
    const float t = MaxF(-phase, MinF(phase - 0.5f, 1.f - phase));
    const float t2 = t * t;
    const float t3 = t2 * t;
    const float t5 = t3 * t2;
    const float t7 = t5 * t2;
    return -6.2831855f * t + 41.34168f * t3 + -81.602234f * t5 + 76.574974f * t7 + (-39.710674f * t2) * t7;
}

float LFO(float phase, float shape)
{
    const float saw = 2.f * phase - 1.f;
    if (shape < 1.f)
        return Sin01(phase);
    if (shape < 2.f)
        return MinF(3.f - 4.f * phase, 4.f * phase - 1.f);
    if (shape < 3.f)
        return saw;
    if (shape < 4.f)
        return saw < 0.f ? -1.f : 1.f;
    return -saw;
}

void SanitizeParams(const Float32 raw[kNumParams], Float32 out[kNumParams])
{
    for (UInt32 i = 0; i < kNumParams; ++i) {
        const Float32 v = raw[i];
        const ParamInfo& info = astParamInfos[i];
        if (!std::isfinite(v))
            out[i] = info.defaultValue;
        else if (v < info.minValue)
            out[i] = info.minValue;
        else if (v > info.maxValue)
            out[i] = info.maxValue;
        else
            out[i] = v;
    }
}

void ComputeBlockControl(const Float32 rawParams[kNumParams], Float32 fs, UInt32 frames, MarrowfinBlock& block)
{
    // Every step with a transcendental function reuses its last results while its inputs are
    // unchanged (cached in the block), so a block of steady parameters costs little; so does
    // the mending of unchanged raw values.
    MarrowfinBlockCache& cache = block.cache;
    Float32 raw[kNumParams];
    for (UInt32 i = 0; i < kNumParams; ++i)
        raw[i] = rawParams[i];  // each value read once
    const bool rawChanged = cache.raw.Changed(raw);
    if (rawChanged)
        SanitizeParams(raw, cache.params);
    const Float32* const p = cache.params;
    PreCompNoInterp& pc = block.preCompNoInterp;
    LFOPhases& lfo = block.lfo;

    // LFO phases advance by the length of the coming block.
    const float dt = static_cast<float>(frames) / fs;
    lfo.filterLfoPhase = AdvancePhase(lfo.filterLfoPhase, dt, p[kParam_FilterLFOSpeed]);
    lfo.pitchLfoPhase = AdvancePhase(lfo.pitchLfoPhase, dt, p[kParam_PitchLFOSpeed]);
    lfo.pwmLfoPhase = AdvancePhase(lfo.pwmLfoPhase, dt, p[kParam_PWMLFOSpeed]);

    // Nothing else depends on the block's length: with the same values, no LFO at work and the
    // same rate, the records are those of the last block.
    const uint32_t rateBits = std::bit_cast<uint32_t>(fs);
    if (!rawChanged && cache.steady && cache.steadyRateBits == rateBits)
        return;

    // Analysis band.
    if (cache.band.Changed({p[kParam_LowpassCutoff], p[kParam_HighpassCutoff], fs})) {
        BandFilterCoefs(p[kParam_LowpassCutoff], fs, cache.lpCoef, cache.lpDamp);
        BandFilterCoefs(p[kParam_HighpassCutoff], fs, cache.hpCoef, cache.hpDamp);
    }
    pc.lpCoef = cache.lpCoef;
    pc.lpDamp = cache.lpDamp;
    pc.hpCoef = cache.hpCoef;
    pc.hpDamp = cache.hpDamp;

    // Output filter: the LFO moves the cutoff in octaves of (cutoff + 62.5 Hz).
    if (cache.cutoff.Changed({p[kParam_FilterCutoff]}))
        cache.cutoffOctaves =
            static_cast<float>(std::log2(1.0 + static_cast<double>(p[kParam_FilterCutoff]) * 0.016));
    // An LFO at depth 0 (the defaults) adds a zero, so its waveform is not computed: x is above 0
    // (the cutoff is at least 50 Hz), and x plus a zero of either sign is x.
    const float x = cache.cutoffOctaves;
    const float filterDepth = p[kParam_FilterLFOAmount];
    const float y = filterDepth != 0.f ? LFO(lfo.filterLfoPhase, p[kParam_FilterLFOShape]) * filterDepth + x : x;
    if (cache.q.Changed({p[kParam_FilterQ]}))
        cache.qDamp = 2.0 * (1.0 - std::pow(static_cast<double>(p[kParam_FilterQ]), 0.25));
    if (cache.filter.Changed({y, p[kParam_FilterEnvDepth], p[kParam_FilterQ], fs}))
        OutputFilterCoefs(y, p[kParam_FilterEnvDepth], cache.qDamp, fs, cache);
    pc.filterCoef = cache.filterCoef;
    pc.filterCoefEnv = cache.filterCoefEnv;
    pc.filterDamp = cache.filterDamp;


    // Filter type: 0 thru, 1 low, 2 band, 3 high, 4 thru, linear between neighbours.
    const float t = p[kParam_FilterType];
    pc.thruMix = pc.lowMix = pc.bandMix = pc.highMix = 0.f;
    if (t < 1.f) {
        pc.thruMix = 1.f - t;
        pc.lowMix = t;
    } else if (t < 2.f) {
        pc.lowMix = 2.f - t;
        pc.bandMix = t - 1.f;
    } else if (t < 3.f) {
        pc.bandMix = 3.f - t;
        pc.highMix = t - 2.f;
    } else {
        pc.thruMix = t - 3.f;
        pc.highMix = 4.f - t;
    }

    // Pitch, in octaves; the fixed oscillator pitch ignores the two offsets.
    const float e = p[kParam_PitchEnvDepth] * kTwelfth;
    // At depth 0, l is a zero of either sign; the sign can only decide the sign of a zero s or u,
    // and exp2f gives 1 for both.
    const float pitchDepth = p[kParam_PitchLFOAmount] + p[kParam_PitchLFOAmountFine] * 0.01f;
    const float l = pitchDepth != 0.f ? LFO(lfo.pitchLfoPhase, p[kParam_PitchLFOShape]) * pitchDepth : 0.f;
    const float s = (p[kParam_PitchOffset] + p[kParam_PitchOffsetSweepable] + l) * kTwelfth;
    if (cache.pitch.Changed({e, s})) {
        cache.ratio = ::exp2f(s);
        cache.ratioEnv = ::exp2f(e + s) - cache.ratio;
    }
    pc.ratio = cache.ratio;
    pc.ratioEnv = cache.ratioEnv;
    const float oscPitch = p[kParam_OscPitch];
    if (oscPitch != 0.f) {
        const float u = (oscPitch - 69.f + l) * kTwelfth;
        if (cache.osc.Changed({e, u, fs})) {
            cache.oscInc = ::exp2f(u) * 440.f / fs;
            cache.oscIncEnv = ::exp2f(e + u) * 440.f / fs - cache.oscInc;
        }
        pc.oscInc = cache.oscInc;
        pc.oscIncEnv = cache.oscIncEnv;
    }
    pc.trackPitch = oscPitch == 0.f;

    // Pulse width (not clamped: outside [0, 1] the pulse stays high or low).
    // At depth 0 the LFO adds a zero, which leaves the width as it is unless that is -0.
    const float pwmDepth = p[kParam_PWMLFOAmount];
    const float width = p[kParam_PulseWidth];
    const bool pwmLfo = pwmDepth != 0.f || std::signbit(width);
    pc.pulseWidth = (pwmLfo ? LFO(lfo.pwmLfoPhase, p[kParam_PWMLFOShape]) * pwmDepth + width : width) * 0.01f;
    pc.pulseWidthEnv = p[kParam_PWMEnvDepth] * 0.01f;

    pc.filteredDry = p[kParam_UseFilteredForDry] != 0.f;
    pc.filteredWet = p[kParam_UseFilteredForWet] != 0.f;
    pc.syncCycles = static_cast<int32_t>(p[kParam_SyncCycles]);

    // Envelope: time constants in ms; -999.99994 is the float one step above -1000.
    if (cache.env.Changed({p[kParam_EnvAttack], p[kParam_EnvRelease], p[kParam_EnvPreGain], fs})) {
        cache.attackCoef = ::expf(-999.99994f / (p[kParam_EnvAttack] * fs));
        cache.releaseCoef = ::expf(-999.99994f / (p[kParam_EnvRelease] * fs));
        cache.envPreGain = ::powf(10.f, p[kParam_EnvPreGain] * 0.05f);
    }
    pc.attackCoef = cache.attackCoef;
    pc.releaseCoef = cache.releaseCoef;
    pc.envPreGain = cache.envPreGain;
    pc.envGate = p[kParam_EnvGate];

    pc.window = MarrowfinAnalysisWindow(fs);

    PreComp& g = block.preComp;
    g.dryGain = Cube(p[kParam_DryLevel]);
    g.wetGain = Cube(p[kParam_WetLevel]);
    g.oscGain = Cube(p[kParam_OscLevel]) / pc.envPreGain;
    g.dryRingGain = Cube(p[kParam_DryRingModLevel]);
    g.wetRingGain = Cube(p[kParam_WetRingModLevel]);
    g.envFollow = 1.f - Cube(1.f - p[kParam_OscEnvFollow]);
    g.triggerLevel = p[kParam_TriggerLevel];
    g.triGain = Cube(p[kParam_Triangle]);
    g.sawGain = Cube(p[kParam_Saw]);
    g.squareGain = Cube(p[kParam_Square]);

    cache.steady = filterDepth == 0.f && pitchDepth == 0.f && !pwmLfo;
    cache.steadyRateBits = rateBits;
}

void UpdateDataToGui(DataToGuiAnalysis& gui, MarrowfinSmoothing& smoothing, Float32 fs, UInt32 frames,
                     const CMarrowfinKernel* const kernels[2])
{
    const float length = static_cast<float>(frames);
    if (smoothing.inputs.Changed({length, fs}))
        smoothing.coef = ::expf(length / (fs * -0.03f));
    const float a = smoothing.coef;
    for (int ch = 0; ch < 2; ++ch) {
        const CMarrowfinKernel* k = kernels[ch];
        if (!k)
            continue;
        if (k->period() != 0) {
            const float f = fs / static_cast<float>(k->period());
            gui.frequency[ch] = (gui.frequency[ch] - f) * a + f;
        }
        const float env = k->followEnv();
        gui.envelope[ch] = (gui.envelope[ch] - env) * a + env;
        const float peak = k->cycleEnv();
        gui.peak[ch] = (gui.peak[ch] - peak) * a + peak;
        gui.noLock[ch] = k->noLock();
    }
}
