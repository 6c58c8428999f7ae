// Block-rate control of the engine: the per-block records the kernels read, the LFO waveforms,
// and the smoothing of the kernels' analysis into the editor's record.
// Everything here runs on the render thread (PreRender before the kernels, PostRender after),
// except that the functions are pure apart from their explicit outputs, so tests call them anywhere.
#pragma once

#include <cstdint>

#include "effect/DataToGui.h"
#include "effect/MarrowfinConstants.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/AUTypes.h"

class CMarrowfinKernel;

// Whether the engine's AVX2 code may run: on processors with AVX2, and never in ThreadSanitizer
// builds (which keep the baseline code only).
inline bool MarrowfinUseAVX2()
{
#if defined(__SANITIZE_THREAD__)
    return false;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#endif
}

// Ring of the last input frames of a channel, as (raw, band-limited) pairs.
constexpr UInt32 kMarrowfinRingFrames = 2048;
constexpr UInt32 kMarrowfinRingMask = kMarrowfinRingFrames - 1;

// Gains, constant for one block.
struct PreComp {
    float dryGain;
    float wetGain;
    float oscGain;
    float dryRingGain;
    float wetRingGain;
    float envFollow;
    float triggerLevel;
    float triGain;
    float sawGain;
    float squareGain;
};

// Coefficients and switches, constant for one block.
struct PreCompNoInterp {
    float lpCoef;
    float lpDamp;
    float hpCoef;
    float hpDamp;
    float envPreGain;
    float attackCoef;
    float releaseCoef;
    float envGate;
    float filterCoef;
    float filterCoefEnv;
    float filterDamp;
    float thruMix;
    float lowMix;
    float bandMix;
    float highMix;
    float ratio;
    float ratioEnv;
    float oscInc;     // kept from the last fixed-pitch block while trackPitch is set
    float oscIncEnv;  // likewise
    float pulseWidth;
    float pulseWidthEnv;
    bool trackPitch;
    bool filteredDry;
    bool filteredWet;
    int32_t syncCycles;
    int32_t window;  // analysis window = dry delay = latency, in samples
};

// Free-running LFO phases in [0, 1), shared by all channels of a unit.
struct LFOPhases {
    float filterLfoPhase;
    float pitchLfoPhase;
    float pwmLfoPhase;
};

// sin(2*pi*phase) by an odd polynomial, for phase in [0, 1).
float Sin01(float phase);
// Shapes 0 Sine, 1 Tri, 2 SawUp, 3 Square, 4 SawDn (a fractional shape acts as its integer part).
float LFO(float phase, float shape);

// Bit patterns of the inputs of one block-rate computation, to reuse its results while they
// stay the same (bit for bit, so -0 and +0 count as different inputs).
template <int K>
struct MarrowfinInputBits {
    uint32_t bits[K];
    bool valid;
    // True when `v` differs from the stored inputs (or none are stored yet); stores `v`.
    bool Changed(const float (&v)[K])
    {
        uint32_t now[K];
        __builtin_memcpy(now, v, sizeof now);
        // Every bit compared without a branch (and without a library call for the 40 values).
        uint32_t differ = valid ? 0u : 1u;
        for (int k = 0; k < K; ++k)
            differ |= now[k] ^ bits[k];
        if (differ == 0)
            return false;
        __builtin_memcpy(bits, now, sizeof now);
        valid = true;
        return true;
    }
};

// Results of the block control's transcendental steps with the inputs they came from; a block
// whose inputs match reuses them. Zero-initialised means empty.
struct MarrowfinBlockCache {
    MarrowfinInputBits<kNumParams> raw;  // the parameter values as read
    Float32 params[kNumParams];          // ... and mended
    MarrowfinInputBits<3> band;    // lowpass cutoff, highpass cutoff, fs
    float lpCoef, lpDamp, hpCoef, hpDamp;
    MarrowfinInputBits<1> cutoff;  // "Filter Cutoff"
    float cutoffOctaves;
    MarrowfinInputBits<1> q;       // "Filter Q"
    double qDamp;
    MarrowfinInputBits<4> filter;  // cutoff in octaves after the LFO, env depth, Q, fs
    float filterCoef, filterCoefEnv, filterDamp;
    MarrowfinInputBits<2> pitch;   // envelope depth and offset in octaves
    float ratio, ratioEnv;
    MarrowfinInputBits<3> osc;     // envelope depth and oscillator pitch in octaves, fs
    float oscInc, oscIncEnv;
    MarrowfinInputBits<4> env;     // attack, release, pre-gain, fs
    float attackCoef, releaseCoef, envPreGain;
    // The last full computation had no LFO at work, at this sample rate: while the raw values
    // stay the same, the records it left are the block's records.
    bool steady;
    uint32_t steadyRateBits;
};

// Everything the kernels read of their unit for one block. Owned by the unit, written by
// PreRender (ComputeBlockControl), read by the kernels of the same block.
struct MarrowfinBlock {
    PreComp preComp;
    PreCompNoInterp preCompNoInterp;
    LFOPhases lfo;
    float* scratch;         // scratchFrames long; the kernels take at most scratchFrames per call
    UInt32 scratchFrames;
    MarrowfinBlockCache cache;  // PreRender's own; the kernels do not read it
};

// The parameter values for the computation: NaN or infinite values become the parameter's
// default, finite values are clamped into the table's [min, max]. Reads each raw value once,
// so a value another thread stores meanwhile is seen either old or new, never half.
void SanitizeParams(const Float32 raw[kNumParams], Float32 out[kNumParams]);

// PreRender's computation for a block of `frames` frames at sample rate fs: fills
// block.preComp and block.preCompNoInterp and advances block.lfo. The values pass through
// SanitizeParams first, so any stored value gives finite, stable coefficients.
void ComputeBlockControl(const Float32 params[kNumParams], Float32 fs, UInt32 frames, MarrowfinBlock& block);

// The smoothing coefficient of the editor's values with the block length and sample rate it
// came from; zero-initialised means empty. PostRender's own.
struct MarrowfinSmoothing {
    MarrowfinInputBits<2> inputs;  // frames (as a float), fs
    float coef;
};

// PostRender's computation: smooths channels 0 and 1 of `kernels` (null entries are skipped)
// into gui with a 30 ms time constant; the coefficient is renewed in `smoothing` only when the
// block length or the sample rate changes.
void UpdateDataToGui(DataToGuiAnalysis& gui, MarrowfinSmoothing& smoothing, Float32 fs, UInt32 frames,
                     const CMarrowfinKernel* const kernels[2]);
