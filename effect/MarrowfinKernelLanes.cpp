// Channels side by side: the generator of up to eight channel kernels in the lanes of one
// vector. Each lane performs the scalar generator's operations in the scalar order, float versus
// double included (built with -ffp-contract=off, no fused multiply-add), so every channel's
// output is bit-identical to its kernel processed alone. Render thread; no allocation, no lock.
//
// Channels reach their cycle analyses at different samples: the lanes run in step up to the
// nearest analysis of any lane, that lane is analysed in scalar code (the kernel's own
// AnalyseCycle), and the lanes go on.
#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "effect/MarrowfinKernel.h"

// The lane helpers below take and return vectors; they are always inlined into the generator,
// so the calling convention for vector arguments never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

// One lane's kernel and buffers: where its state lives and how to analyse it.
struct CMarrowfinLaneKernel {
    CMarrowfinKernel* kernel;
    const float* in;
    float* out;

    CMarrowfinKernel::State* state() const { return &kernel->m_state; }
    const double* invPeriod() const { return &kernel->m_invPeriod; }
    CMarrowfinKernel::OscState* osc() const { return &kernel->m_osc; }
    CMarrowfinKernel::BandState* band() const { return &kernel->m_band; }
    float* ring() const { return kernel->m_ring; }
    UInt32* writeIndex() const { return &kernel->m_writeIndex; }
    void analyse(const PreCompNoInterp& pc) const { kernel->AnalyseCycle(pc); }
};

namespace {

using State = CMarrowfinKernel::State;
using OscState = CMarrowfinKernel::OscState;
using BandState = CMarrowfinKernel::BandState;

// Vectors of N lanes. Float vectors are at least four wide (a whole SSE register, so constants
// stay memory operands instead of being reloaded); lanes from N on are padding, computed but
// never read.
template <int N>
struct LaneTypes {
    static constexpr int kFloatLanes = N < 4 ? 4 : N;
    typedef float F __attribute__((vector_size(sizeof(float) * kFloatLanes)));
    typedef double D __attribute__((vector_size(sizeof(double) * N)));
    typedef int32_t I __attribute__((vector_size(sizeof(int32_t) * N)));
};

template <class V>
[[gnu::always_inline]] inline auto Get(const V& v, int l)
{
    return v[l];
}
template <class V, class S>
[[gnu::always_inline]] inline void Set(V& v, int l, S x)
{
    v[l] = x;
}
// Every lane set to s (no arithmetic, so -0 stays -0).
template <class V, class S>
[[gnu::always_inline]] inline V Splat(S s)
{
    V v{};
    for (unsigned l = 0; l < sizeof(V) / sizeof(S); ++l)
        v[l] = s;
    return v;
}
// Float lanes to double lanes and back; float vectors wider than the double ones carry the
// values in their first lanes.
typedef float Float2 __attribute__((vector_size(2 * sizeof(float))));
template <class D, class F>
[[gnu::always_inline]] inline D ToD(const F& x)
{
    if constexpr (sizeof(F) / sizeof(float) == sizeof(D) / sizeof(double))
        return __builtin_convertvector(x, D);
    else
        return __builtin_convertvector(__builtin_shufflevector(x, x, 0, 1), D);
}
template <class F, class D>
[[gnu::always_inline]] inline F ToF(const D& x)
{
    if constexpr (sizeof(F) / sizeof(float) == sizeof(D) / sizeof(double)) {
        return __builtin_convertvector(x, F);
    } else if constexpr (sizeof(D) == sizeof(__m128d) && sizeof(F) == sizeof(__m128)) {
        // One conversion; the two padding lanes become 0.
        return reinterpret_cast<F>(_mm_cvtpd_ps(reinterpret_cast<__m128d>(x)));
    } else {
        const Float2 y = __builtin_convertvector(x, Float2);
        return __builtin_shufflevector(y, y, 0, 1, 0, 1);
    }
}
// A vector built from fn(0) ... fn(N - 1) (padding lanes 0), in registers: setting lanes one by
// one would go through memory and stall the wide load that follows.
template <class V, class Fn, size_t... Is>
[[gnu::always_inline]] inline V MakeLanes(const Fn& fn, std::index_sequence<Is...>)
{
    return V{fn(static_cast<int>(Is))...};
}
template <class V, int N, class Fn>
[[gnu::always_inline]] inline V Gather(const Fn& fn)
{
    if constexpr (N == 2 && sizeof(V) == 4 * sizeof(float)) {
        // Two lanes of four: the compiler then knows lanes 2 and 3 are already 0 after the
        // first load and inserts the second value, instead of clearing them once more.
        V v{fn(0)};
        v[1] = fn(1);
        return v;
    } else {
        return MakeLanes<V>(fn, std::make_index_sequence<N>{});
    }
}

// Each lane's record of four consecutive floats (a kernel's band filter states, or its oscillator
// and output filter states) as four vectors of lanes, and back: 4 x 4 transposes instead of a
// load or store per value and lane. Padding lanes read as 0.
typedef float Float4 __attribute__((vector_size(4 * sizeof(float))));
[[gnu::always_inline]] inline void Transpose(Float4& a, Float4& b, Float4& c, Float4& d)
{
    const Float4 t0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const Float4 t1 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
    const Float4 t2 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    const Float4 t3 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    a = __builtin_shufflevector(t0, t1, 0, 1, 4, 5);
    b = __builtin_shufflevector(t0, t1, 2, 3, 6, 7);
    c = __builtin_shufflevector(t2, t3, 0, 1, 4, 5);
    d = __builtin_shufflevector(t2, t3, 2, 3, 6, 7);
}
template <class F, int N>
[[gnu::always_inline]] inline void FromRecords(const Float4 (&rec)[N], F (&lanes)[4])
{
    if constexpr (N <= 4) {
        Float4 r[4] = {};
        for (int l = 0; l < N; ++l)
            r[l] = rec[l];
        Transpose(r[0], r[1], r[2], r[3]);
        for (int k = 0; k < 4; ++k)
            lanes[k] = r[k];
    } else {
        Float4 lo[4] = {rec[0], rec[1], rec[2], rec[3]}, hi[4] = {rec[4], rec[5], rec[6], rec[7]};
        Transpose(lo[0], lo[1], lo[2], lo[3]);
        Transpose(hi[0], hi[1], hi[2], hi[3]);
        for (int k = 0; k < 4; ++k)
            lanes[k] = __builtin_shufflevector(lo[k], hi[k], 0, 1, 2, 3, 4, 5, 6, 7);
    }
}
template <class F, int N>
[[gnu::always_inline]] inline void ToRecords(const F (&lanes)[4], Float4 (&rec)[N])
{
    if constexpr (N <= 4) {
        Float4 r[4] = {lanes[0], lanes[1], lanes[2], lanes[3]};
        Transpose(r[0], r[1], r[2], r[3]);
        for (int l = 0; l < N; ++l)
            rec[l] = r[l];
    } else {
        Float4 lo[4], hi[4];
        for (int k = 0; k < 4; ++k) {
            lo[k] = __builtin_shufflevector(lanes[k], lanes[k], 0, 1, 2, 3);
            hi[k] = __builtin_shufflevector(lanes[k], lanes[k], 4, 5, 6, 7);
        }
        Transpose(lo[0], lo[1], lo[2], lo[3]);
        Transpose(hi[0], hi[1], hi[2], hi[3]);
        for (int l = 0; l < 4; ++l) {
            rec[l] = lo[l];
            rec[4 + l] = hi[l];
        }
    }
}
static_assert(sizeof(BandState) == sizeof(Float4));
static_assert(offsetof(OscState, followEnv) == offsetof(OscState, oscPhase) + sizeof(float) &&
              offsetof(OscState, filterLow) == offsetof(OscState, oscPhase) + 2 * sizeof(float) &&
              offsetof(OscState, filterBand) == offsetof(OscState, oscPhase) + 3 * sizeof(float));

// The first two lanes of v to dst, and two floats from src into the first two lanes (the
// others 0); four floats from 16-byte aligned src.
template <class F>
[[gnu::always_inline]] inline void StoreLow(float* dst, const F& v)
{
    const Float2 low = __builtin_shufflevector(v, v, 0, 1);
    std::memcpy(dst, &low, sizeof low);
}
template <class F>
[[gnu::always_inline]] inline F LoadLow(const float* src)
{
    Float2 low;
    std::memcpy(&low, src, sizeof low);
    if constexpr (sizeof(F) == sizeof(Float4))
        return __builtin_shufflevector(low, Float2{}, 0, 1, 2, 3);
    else
        return F{low[0], low[1]};
}
template <class F>
[[gnu::always_inline]] inline F Load4(const float* src)
{
    F v{};
    std::memcpy(&v, __builtin_assume_aligned(src, 16), sizeof(Float4));
    return v;
}

// p itself, but the compiler no longer knows where it points: what is read through it is read
// again at every use, as a memory operand, instead of being held in a register.
template <class T>
[[gnu::always_inline]] inline T* Opaque(T* p)
{
    asm("" : "+r"(p));
    return p;
}

using LaneKernel = CMarrowfinLaneKernel;

// Processors with AVX2 run a clone compiled for it (no fused multiply-add enabled, so the results
// are those of the baseline clone). ThreadSanitizer's runtime is not set up yet when the dynamic
// loader picks a clone, so a ThreadSanitizer build keeps the baseline code only.
#if defined(__SANITIZE_THREAD__)
#define MARROWFIN_LANE_CLONES
#else
#define MARROWFIN_LANE_CLONES __attribute__((target_clones("avx2", "default")))
#endif

template <int N, bool kTrackPitch, bool kShort>
MARROWFIN_LANE_CLONES void RunLanes(const LaneKernel* lk, UInt32 frames, const PreCompNoInterp& pc, const PreComp& g)
{
    using F = typename LaneTypes<N>::F;
    using D = typename LaneTypes<N>::D;
    using I = typename LaneTypes<N>::I;

    const UInt32 dryCol = pc.filteredDry ? 1 : 0;
    const UInt32 wetCol = pc.filteredWet ? 1 : 0;
    // The block's values in lanes, and each lane's results of its last analysis. The sample loops
    // read them through an opaque pointer, so they stay memory operands: the running states
    // need every vector register, and a state that spills lengthens its loop-carried chain.
    // Short blocks keep the values every lane shares as scalars, each spread over the lanes where
    // it is used (the same operands, so the same results): for a few samples, filling every
    // vector up front costs more than the samples do. Two lanes read them straight from the block
    // records, which saves copying them (their fields of `values` stay unset); wider groups, which
    // spread each value over more lanes, keep the copy, measured as fast or faster there.
    constexpr bool kDirect = kShort && N == 2;
    using UF = std::conditional_t<kShort, float, F>;
    using UD = std::conditional_t<kShort, double, D>;
    auto uniform = [](auto s) __attribute__((always_inline)) {
        if constexpr (kShort)
            return s;
        else if constexpr (std::is_same_v<decltype(s), double>)
            return Splat<D>(s);
        else
            return Splat<F>(s);
    };
    struct Values {
        UF lpCoef, lpDamp, hpCoef, hpDamp;
        F bandCoef, bandDamp;
        UD ratio, ratioEnv;
        UF triggerLevel, oscInc, oscIncEnv, pulseWidth, pulseWidthEnv;
        UF triGain, sawGain;
        F squareHigh, squareLow;
        UF envFollow, fixedLevel, oscGain;
        UF dryGain, wetGain, dryRingGain, wetRingGain, filterCoef, filterCoefEnv, filterDamp;
        UF thruMix, lowMix, bandMix, highMix;
        F zeroF, oneF;
        F target, followCoef;
        D P, S, invP;
    } values;
    values.bandCoef = F{};
    values.bandDamp = F{};
    values.squareHigh = Splat<F>(g.squareGain);
    values.squareLow = Splat<F>(-g.squareGain);
    if constexpr (!kDirect) {
        values.lpCoef = uniform(pc.lpCoef);
        values.lpDamp = uniform(pc.lpDamp);
        values.hpCoef = uniform(pc.hpCoef);
        values.hpDamp = uniform(pc.hpDamp);
        values.ratio = uniform(static_cast<double>(pc.ratio));
        values.ratioEnv = uniform(static_cast<double>(pc.ratioEnv));
        values.triggerLevel = uniform(g.triggerLevel);
        values.oscInc = uniform(pc.oscInc);
        values.oscIncEnv = uniform(pc.oscIncEnv);
        values.pulseWidth = uniform(pc.pulseWidth);
        values.pulseWidthEnv = uniform(pc.pulseWidthEnv);
        values.triGain = uniform(g.triGain);
        values.sawGain = uniform(g.sawGain);
        values.envFollow = uniform(g.envFollow);
        values.fixedLevel = uniform(1.f - g.envFollow);
        values.oscGain = uniform(g.oscGain);
        values.dryGain = uniform(g.dryGain);
        values.wetGain = uniform(g.wetGain);
        values.dryRingGain = uniform(g.dryRingGain);
        values.wetRingGain = uniform(g.wetRingGain);
        values.filterCoef = uniform(pc.filterCoef);
        values.filterCoefEnv = uniform(pc.filterCoefEnv);
        values.filterDamp = uniform(pc.filterDamp);
        values.thruMix = uniform(pc.thruMix);
        values.lowMix = uniform(pc.lowMix);
        values.bandMix = uniform(pc.bandMix);
        values.highMix = uniform(pc.highMix);
    }
    values.zeroF = Splat<F>(0.f);
    values.oneF = Splat<F>(1.f);

    // Running state, one lane per channel, kept in registers for the whole call.
#define MARROWFIN_LANES(V, expr) Gather<V, N>([&](int l) __attribute__((always_inline)) { return (expr); })
    Float4 bandRecords[N], oscRecords[N];
    for (int l = 0; l < N; ++l) {
        std::memcpy(&bandRecords[l], lk[l].band(), sizeof(Float4));
        std::memcpy(&oscRecords[l], &lk[l].osc()->oscPhase, sizeof(Float4));
    }
    F bandLanes[4] = {}, oscLanes[4];
    if constexpr (N != 2)
        FromRecords<F, N>(bandRecords, bandLanes);
    FromRecords<F, N>(oscRecords, oscLanes);
    F lpLow = bandLanes[0], lpBand = bandLanes[1], hpLow = bandLanes[2], hpBand = bandLanes[3];
    // Two channels leave two float lanes free: there the two band filters run side by side, the
    // lowpass of sample i + 1 in lanes 0 and 1 and the highpass of sample i (fed by the lowpass
    // output of sample i) in lanes 2 and 3, as the scalar generator pairs them. Each lane does the
    // scalar operations, and the filter states take two registers instead of four. The pairing
    // spans the whole call: the first lowpass step runs alone below, the last highpass step
    // alone at the last sample.
    constexpr bool kPaired = N == 2;
    F bandLow{}, bandBand{}, xNow{};
    if constexpr (kPaired) {
        // Straight from the two records (lpLow, lpBand, hpLow, hpBand).
        bandLow = __builtin_shufflevector(bandRecords[0], bandRecords[N - 1], 0, 4, 2, 6);
        bandBand = __builtin_shufflevector(bandRecords[0], bandRecords[N - 1], 1, 5, 3, 7);
        values.bandCoef = F{pc.lpCoef, pc.lpCoef, pc.hpCoef, pc.hpCoef};
        values.bandDamp = F{pc.lpDamp, pc.lpDamp, pc.hpDamp, pc.hpDamp};
        if (frames > 0) {
            xNow = F{lk[0].in[0], lk[1].in[0], 0.f, 0.f};
            const F low = bandLow + bandBand * values.bandCoef;
            const F t = xNow - low - bandBand * values.bandDamp;
            const F band = bandBand + t * values.bandCoef;
            bandLow = __builtin_shufflevector(low, bandLow, 0, 1, 6, 7);
            bandBand = __builtin_shufflevector(band, bandBand, 0, 1, 6, 7);
        }
    }
    F oscPhase = oscLanes[0], followEnv = oscLanes[1], filterLow = oscLanes[2], filterBand = oscLanes[3];
    D readPhase = MARROWFIN_LANES(D, lk[l].osc()->readPhase);
    // Results of each lane's last analysis.
    values.target = MARROWFIN_LANES(F, lk[l].state()->gatedEnv);
    values.followCoef = MARROWFIN_LANES(
        F, lk[l].state()->gatedEnv <= Get(followEnv, l) ? pc.releaseCoef : pc.attackCoef);
    values.P = MARROWFIN_LANES(D, static_cast<double>(lk[l].state()->period));
    values.S = MARROWFIN_LANES(D, static_cast<double>(lk[l].state()->readStart));
    values.invP = MARROWFIN_LANES(D, *lk[l].invPeriod());
#undef MARROWFIN_LANES
    UInt32 countdown[N];
    // The kernels of a group write their rings in step (the caller checks).
    UInt32 w = *lk[0].writeIndex();
    UInt32 d = (w - static_cast<UInt32>(pc.window)) & kMarrowfinRingMask;
    float* ring[N];
    for (int l = 0; l < N; ++l) {
        ring[l] = lk[l].ring();
        countdown[l] = lk[l].state()->countdown;
    }
    // The values an analysis sets, for one lane (above for all); the follower's direction is
    // chosen at the start of every stretch, as the scalar generator does (the follower never
    // crosses its target, so the choice cannot change within a stretch).
    auto loadAnalysis = [&](int l) {
        const State& st = *lk[l].state();
        const OscState& os = *lk[l].osc();
        Set(readPhase, l, os.readPhase);
        Set(oscPhase, l, os.oscPhase);
        Set(values.P, l, static_cast<double>(st.period));
        Set(values.S, l, static_cast<double>(st.readStart));
        Set(values.invP, l, *lk[l].invPeriod());
        Set(values.target, l, st.gatedEnv);
        Set(values.followCoef, l, st.gatedEnv <= Get(followEnv, l) ? pc.releaseCoef : pc.attackCoef);
        countdown[l] = st.countdown;
    };
    // (While the band filters run paired, the lowpass stored at an analysis is a sample ahead;
    // only the last store, after the last highpass step, counts.)
    auto store = [&](int l) {
        BandState& bs = *lk[l].band();
        OscState& os = *lk[l].osc();
        if constexpr (kPaired) {
            bs.lpLow = bandLow[l];
            bs.lpBand = bandBand[l];
            bs.hpLow = bandLow[l + 2];
            bs.hpBand = bandBand[l + 2];
        } else {
            bs.lpLow = Get(lpLow, l);
            bs.lpBand = Get(lpBand, l);
            bs.hpLow = Get(hpLow, l);
            bs.hpBand = Get(hpBand, l);
        }
        os.readPhase = Get(readPhase, l);
        os.oscPhase = Get(oscPhase, l);
        os.followEnv = Get(followEnv, l);
        os.filterLow = Get(filterLow, l);
        os.filterBand = Get(filterBand, l);
        lk[l].state()->countdown = countdown[l];
        *lk[l].writeIndex() = w;
    };

    // As in the scalar generator, the samples run in chunks on two sides that share no state:
    // the ring side (band filters, ring, dry tap, follower, replay) and the synthesis side
    // (oscillator, mix, output filter), handing five values per sample through a local array.
    // Unlike there, each chunk runs its two sides one after the other: with several lanes the
    // states of both sides at once do not fit the vector registers, and spilled states cost more
    // than the overlap of the two sides' chains gains.
    constexpr UInt32 kChunk = 64;
    // One record per sample, so the loops address the hand-over through one base register.
    struct HandOver {
        F env, follow, dry, wet, inc;
    } handOver[kPaired ? 1 : kChunk];
    // Two channels hand over two floats per value and sample instead, consecutive samples side
    // by side, so the synthesis side reads two samples of both channels as one vector of four
    // lanes and runs its stateless steps on both samples at once.
    struct PairHandOver {
        alignas(16) float env[2 * kChunk];
        float follow[2 * kChunk], dry[2 * kChunk], wet[2 * kChunk], inc[2 * kChunk];
    } pairHandOver[kPaired ? 1 : 0];

    // Input of the two paired lanes, in locals: stores into the ring could alias the records.
    const float* const pairIn0 = lk[0].in;
    const float* const pairIn1 = lk[N > 1 ? 1 : 0].in;
    // A value every lane shares: from `values`, or straight from the block records (kDirect).
    const PreCompNoInterp* const sp = &pc;
    const PreComp* const sg = &g;
#define MARROWFIN_UNIFORM(field, shortExpr)                  \
    ([&]() __attribute__((always_inline)) {                  \
        if constexpr (kDirect)                               \
            return (shortExpr);                              \
        else                                                 \
            return c.field;                                  \
    }())
    // mayBeLast: i may be the call's last sample (only the last sample of a chunk can be).
    auto ringSide = [&](UInt32 i, UInt32 j, bool mayBeLast) __attribute__((always_inline)) {
        const Values& c = *Opaque(&values);
        F x, h;
        if constexpr (kPaired) {
            x = xNow;
            if (!mayBeLast || i + 1 < frames) {
                xNow = Gather<F, N>([&](int l) __attribute__((always_inline)) {
                    return (l == 0 ? pairIn0 : pairIn1)[i + 1];
                });
                const F input = __builtin_shufflevector(xNow, bandLow, 0, 1, 4, 5);
                bandLow = bandLow + bandBand * c.bandCoef;
                const F t = input - bandLow - bandBand * c.bandDamp;
                bandBand = bandBand + t * c.bandCoef;
                h = __builtin_shufflevector(t, t, 2, 3, 2, 3);
            } else {
                // Last sample of the call: only its highpass is left.
                const F input = __builtin_shufflevector(bandLow, bandLow, 0, 1, 0, 1);
                const F low = bandLow + bandBand * c.bandCoef;
                const F t = input - low - bandBand * c.bandDamp;
                const F band = bandBand + t * c.bandCoef;
                bandLow = __builtin_shufflevector(bandLow, low, 0, 1, 6, 7);
                bandBand = __builtin_shufflevector(bandBand, band, 0, 1, 6, 7);
                h = __builtin_shufflevector(t, t, 2, 3, 2, 3);
            }
        } else {
            x = Gather<F, N>([&](int l) __attribute__((always_inline)) { return lk[l].in[i]; });
            // Analysis band: lowpass, then highpass of the lowpass output.
            lpLow = lpLow + lpBand * MARROWFIN_UNIFORM(lpCoef, sp->lpCoef);
            lpBand = lpBand + (x - lpLow - lpBand * MARROWFIN_UNIFORM(lpDamp, sp->lpDamp)) * MARROWFIN_UNIFORM(lpCoef, sp->lpCoef);
            hpLow = hpLow + hpBand * MARROWFIN_UNIFORM(hpCoef, sp->hpCoef);
            h = lpLow - hpLow - hpBand * MARROWFIN_UNIFORM(hpDamp, sp->hpDamp);
            hpBand = hpBand + h * MARROWFIN_UNIFORM(hpCoef, sp->hpCoef);
        }

        followEnv = (followEnv - c.target) * c.followCoef + c.target;
        F e = followEnv - MARROWFIN_UNIFORM(triggerLevel, sg->triggerLevel);
        e = e > c.zeroF ? e : c.zeroF;

        // Cycle replay at speed r, linearly interpolated.
        const D r = ToD<D>(e) * MARROWFIN_UNIFORM(ratioEnv, static_cast<double>(sp->ratioEnv)) + MARROWFIN_UNIFORM(ratio, static_cast<double>(sp->ratio));
        const D q = c.S + readPhase;
        // q lies in [0, 2^31), where the 32-bit truncation equals the 64-bit one.
        const I qi = __builtin_convertvector(q, I);
        const F f = ToF<F>(q - __builtin_convertvector(qi, D));
        readPhase += r;
        const D wrapped = readPhase - c.P;
        readPhase = wrapped >= D{} ? wrapped : readPhase;

        // Ring reads of every lane before its writes.
        const UInt32 dryAt = 2 * d + dryCol;
        const F dry = Gather<F, N>([&](int l) __attribute__((always_inline)) { return ring[l][dryAt]; });
        const F a = Gather<F, N>([&](int l) __attribute__((always_inline)) {
            return ring[l][2 * (static_cast<UInt32>(Get(qi, l)) & kMarrowfinRingMask) + wetCol];
        });
        const F b = Gather<F, N>([&](int l) __attribute__((always_inline)) {
            return ring[l][2 * ((static_cast<UInt32>(Get(qi, l)) + 1) & kMarrowfinRingMask) + wetCol];
        });
        const F wet = a - a * f + f * b;
        if constexpr (kPaired) {
            const F pairs = __builtin_shufflevector(x, h, 0, 4, 1, 5);
            const Float2 pair0 = __builtin_shufflevector(pairs, pairs, 0, 1);
            const Float2 pair1 = __builtin_shufflevector(pairs, pairs, 2, 3);
            std::memcpy(ring[0] + 2 * w, &pair0, sizeof pair0);
            std::memcpy(ring[1] + 2 * w, &pair1, sizeof pair1);
        } else {
            for (int l = 0; l < N; ++l) {
                ring[l][2 * w] = Get(x, l);
                ring[l][2 * w + 1] = Get(h, l);
            }
        }
        w = (w + 1) & kMarrowfinRingMask;
        d = (d + 1) & kMarrowfinRingMask;

        F inc;
        if constexpr (kTrackPitch)
            inc = ToF<F>(r * c.invP);
        else
            inc = MARROWFIN_UNIFORM(oscIncEnv, sp->oscIncEnv) * e + MARROWFIN_UNIFORM(oscInc, sp->oscInc);
        if constexpr (kPaired) {
            PairHandOver& to = pairHandOver[0];
            StoreLow(to.env + 2 * j, e);
            StoreLow(to.follow + 2 * j, followEnv);
            StoreLow(to.dry + 2 * j, dry);
            StoreLow(to.wet + 2 * j, wet);
            StoreLow(to.inc + 2 * j, inc);
        } else {
            handOver[j].env = e;
            handOver[j].follow = followEnv;
            handOver[j].dry = dry;
            handOver[j].wet = wet;
            handOver[j].inc = inc;
        }
    };

    // The synthesis side's steps. The oscillator and the mix hold no state, so their lanes may
    // carry any samples; the oscillator phase and the output filter carry theirs from sample to
    // sample.
    auto advancePhase = [&](const Values& c, const F& inc) __attribute__((always_inline)) {
        oscPhase += inc;
        const F wrapped = oscPhase - c.oneF;
        oscPhase = wrapped >= F{} ? wrapped : oscPhase;
    };
    auto oscillatorMix = [&](const Values& c, const F& phase, const F& e, const F& follow, const F& dry,
                             const F& wet) __attribute__((always_inline)) {
        const F triUp = 3.f - 4.f * phase, triDown = 4.f * phase - 1.f;
        const F tri = triUp < triDown ? triUp : triDown;
        const F saw = 2.f * phase - 1.f;
        const F square = phase <= MARROWFIN_UNIFORM(pulseWidthEnv, sp->pulseWidthEnv) * e + MARROWFIN_UNIFORM(pulseWidth, sp->pulseWidth) ? c.squareHigh : c.squareLow;
        const F osc = MARROWFIN_UNIFORM(triGain, sg->triGain) * tri + MARROWFIN_UNIFORM(sawGain, sg->sawGain) * saw + square;
        const F level = (MARROWFIN_UNIFORM(envFollow, sg->envFollow) * follow + MARROWFIN_UNIFORM(fixedLevel, 1.f - sg->envFollow)) * MARROWFIN_UNIFORM(oscGain, sg->oscGain);
        return (MARROWFIN_UNIFORM(dryRingGain, sg->dryRingGain) * dry + level) * osc + MARROWFIN_UNIFORM(wetGain, sg->wetGain) * wet + (wet * MARROWFIN_UNIFORM(wetRingGain, sg->wetRingGain)) * osc;
    };
    // Output filter, cutoff following the envelope (gf); the dry signal bypasses it.
    auto filterGain = [&](const Values& c, const F& e) __attribute__((always_inline)) {
        return MARROWFIN_UNIFORM(filterCoefEnv, sp->filterCoefEnv) * e + MARROWFIN_UNIFORM(filterCoef, sp->filterCoef);
    };
    auto filterStep = [&](const Values& c, const F& mix, const F& gf) __attribute__((always_inline)) {
        filterLow = filterLow + filterBand * gf;
        const F high = mix - filterLow - MARROWFIN_UNIFORM(filterDamp, sp->filterDamp) * filterBand;
        filterBand = filterBand + gf * high;
        return high;
    };
    auto output = [&](const Values& c, const F& dry, const F& mix, const F& low, const F& high, const F& band)
                      __attribute__((always_inline)) {
        return dry * MARROWFIN_UNIFORM(dryGain, sg->dryGain) + MARROWFIN_UNIFORM(lowMix, sp->lowMix) * low + mix * MARROWFIN_UNIFORM(thruMix, sp->thruMix) + high * MARROWFIN_UNIFORM(highMix, sp->highMix) + MARROWFIN_UNIFORM(bandMix, sp->bandMix) * band;
    };

    auto synthesisSide = [&](UInt32 i, UInt32 j) __attribute__((always_inline)) {
        const Values& c = *Opaque(&values);
        F e, follow, dry, wet, inc;
        if constexpr (kPaired) {
            const PairHandOver& from = pairHandOver[0];
            e = LoadLow<F>(from.env + 2 * j);
            follow = LoadLow<F>(from.follow + 2 * j);
            dry = LoadLow<F>(from.dry + 2 * j);
            wet = LoadLow<F>(from.wet + 2 * j);
            inc = LoadLow<F>(from.inc + 2 * j);
        } else {
            e = handOver[j].env;
            follow = handOver[j].follow;
            dry = handOver[j].dry;
            wet = handOver[j].wet;
            inc = handOver[j].inc;
        }
        advancePhase(c, inc);
        const F mix = oscillatorMix(c, oscPhase, e, follow, dry, wet);
        const F high = filterStep(c, mix, filterGain(c, e));
        const F o = output(c, dry, mix, filterLow, high, filterBand);
        for (int l = 0; l < N; ++l)
            lk[l].out[i] = Get(o, l);
    };
    // Two channels, samples j and j + 1 of the chunk (i and i + 1 of the call): lanes 0 and 1
    // hold sample j, lanes 2 and 3 sample j + 1. The phase and the filter step one sample after
    // the other in lanes 0 and 1.
    auto synthesisPair = [&](UInt32 i, UInt32 j) __attribute__((always_inline)) {
        if constexpr (kPaired) {
            const Values& c = *Opaque(&values);
            const PairHandOver& from = pairHandOver[0];
            const F e = Load4<F>(from.env + 2 * j);
            const F follow = Load4<F>(from.follow + 2 * j);
            const F dry = Load4<F>(from.dry + 2 * j);
            const F wet = Load4<F>(from.wet + 2 * j);
            const F inc = Load4<F>(from.inc + 2 * j);
            advancePhase(c, inc);
            const F phase0 = oscPhase;
            advancePhase(c, __builtin_shufflevector(inc, inc, 2, 3, 2, 3));
            const F phase = __builtin_shufflevector(phase0, oscPhase, 0, 1, 4, 5);
            const F mix = oscillatorMix(c, phase, e, follow, dry, wet);
            const F gf = filterGain(c, e);
            const F high0 = filterStep(c, mix, gf);
            const F low0 = filterLow, band0 = filterBand;
            const F high1 = filterStep(c, __builtin_shufflevector(mix, mix, 2, 3, 2, 3),
                                       __builtin_shufflevector(gf, gf, 2, 3, 2, 3));
            const F o = output(c, dry, mix, __builtin_shufflevector(low0, filterLow, 0, 1, 4, 5),
                               __builtin_shufflevector(high0, high1, 0, 1, 4, 5),
                               __builtin_shufflevector(band0, filterBand, 0, 1, 4, 5));
            const Float2 out0 = __builtin_shufflevector(o, o, 0, 2);
            const Float2 out1 = __builtin_shufflevector(o, o, 1, 3);
            std::memcpy(lk[0].out + i, &out0, sizeof out0);
            std::memcpy(lk[1].out + i, &out1, sizeof out1);
        }
    };

#undef MARROWFIN_UNIFORM

    // Each lane whose countdown ran out is analysed.
    auto analyseDue = [&]() __attribute__((always_inline)) {
        for (int l = 0; l < N; ++l) {
            if (countdown[l] == 0) {
                store(l);
                lk[l].analyse(pc);
                loadAnalysis(l);
            }
        }
    };
    if constexpr (kShort) {
        // A few samples: one after the other.
        for (UInt32 i = 0;; ++i) {
            analyseDue();
            if (i == frames)
                break;
            ringSide(i, 0, true);
            synthesisSide(i, 0);
            for (int l = 0; l < N; ++l)
                --countdown[l];
        }
    } else {
        UInt32 pos = 0;
        for (;;) {
            analyseDue();
            if (pos == frames)
                break;
            UInt32 s = frames - pos;
            for (int l = 0; l < N; ++l)
                s = std::min(s, countdown[l]);
            const UInt32 end = pos + s;

            for (UInt32 chunk = pos; chunk < end; chunk += kChunk) {
                const UInt32 m = std::min(kChunk, end - chunk);
                for (UInt32 j = 0; j + 1 < m; ++j)
                    ringSide(chunk + j, j, false);
                ringSide(chunk + m - 1, m - 1, true);
                UInt32 j = 0;
                if constexpr (kPaired)
                    for (; j + 2 <= m; j += 2)
                        synthesisPair(chunk + j, j);
                for (; j < m; ++j)
                    synthesisSide(chunk + j, j);
            }

            pos = end;
            for (int l = 0; l < N; ++l)
                countdown[l] -= s;
        }
    }
    // The last store of every lane, through records.
    if constexpr (kPaired) {
        bandRecords[0] = __builtin_shufflevector(bandLow, bandBand, 0, 4, 2, 6);
        bandRecords[N - 1] = __builtin_shufflevector(bandLow, bandBand, 1, 5, 3, 7);
    } else {
        const F bandOut[4] = {lpLow, lpBand, hpLow, hpBand};
        ToRecords<F, N>(bandOut, bandRecords);
    }
    const F oscOut[4] = {oscPhase, followEnv, filterLow, filterBand};
    ToRecords<F, N>(oscOut, oscRecords);
    for (int l = 0; l < N; ++l) {
        std::memcpy(lk[l].band(), &bandRecords[l], sizeof(Float4));
        std::memcpy(&lk[l].osc()->oscPhase, &oscRecords[l], sizeof(Float4));
        lk[l].osc()->readPhase = Get(readPhase, l);
        lk[l].state()->countdown = countdown[l];
        *lk[l].writeIndex() = w;
    }
}

template <int N>
void RunGroup(const LaneKernel* lk, UInt32 frames, const PreCompNoInterp& pc, const PreComp& g)
{
    const bool isShort = frames < CMarrowfinKernel::kShortBlock;
    if (pc.trackPitch) {
        if (isShort)
            RunLanes<N, true, true>(lk, frames, pc, g);
        else
            RunLanes<N, true, false>(lk, frames, pc, g);
    } else {
        if (isShort)
            RunLanes<N, false, true>(lk, frames, pc, g);
        else
            RunLanes<N, false, false>(lk, frames, pc, g);
    }
}

// Widest group the processor runs well: eight lanes with AVX2, two with SSE. Set at load time.
UInt32 DefaultLaneWidth() { return MarrowfinUseAVX2() ? 8 : 2; }

}  // namespace

UInt32 CMarrowfinKernel::ms_laneWidth = DefaultLaneWidth();

void CMarrowfinKernel::ProcessGroup(CMarrowfinKernel* const* kernels, const Float32* const* in, Float32* const* out,
                                    UInt32 count, UInt32 frames)
{
    LaneKernel lk[8];
    for (UInt32 c = 0; c < count; ++c)
        lk[c] = LaneKernel{kernels[c], in[c], out[c]};
    const MarrowfinBlock& block = *kernels[0]->m_block;
    const PreCompNoInterp& pc = block.preCompNoInterp;
    switch (count) {
    case 2: RunGroup<2>(lk, frames, pc, block.preComp); break;
    case 4: RunGroup<4>(lk, frames, pc, block.preComp); break;
    case 8: RunGroup<8>(lk, frames, pc, block.preComp); break;
    default: break;
    }
}

OSStatus CMarrowfinKernel::ProcessChannels(CMarrowfinKernel* const* kernels, const Float32* const* in,
                                           Float32* const* out, UInt32 count, UInt32 frames)
{
    if (count == 1) {
        bool silence = false;
        return kernels[0]->Process(in[0], out[0], frames, 1, silence);
    }
    return ProcessSeveral(kernels, in, out, count, frames);
}

OSStatus CMarrowfinKernel::ProcessSeveral(CMarrowfinKernel* const* kernels, const Float32* const* in,
                                          Float32* const* out, UInt32 count, UInt32 frames)
{
    for (UInt32 c = 0; c < count; ++c)
        if (frames > kernels[c]->m_block->scratchFrames) return kAudioUnitErr_TooManyFramesToProcess;
    // Stereo, the common case, straight to its group.
    if (count == 2 && ms_laneWidth >= 2 && kernels[0]->m_writeIndex == kernels[1]->m_writeIndex) {
        const LaneKernel lk[2] = {{kernels[0], in[0], out[0]}, {kernels[1], in[1], out[1]}};
        RunGroup<2>(lk, frames, kernels[0]->m_block->preCompNoInterp, kernels[0]->m_block->preComp);
        return noErr;
    }
    // Groups of 8, 4, 2 lanes as wide as allowed, a last odd channel alone.
    const UInt32 width = ms_laneWidth;
    UInt32 c = 0;
    while (c < count) {
        const UInt32 left = count - c;
        UInt32 n = 1;
        while (n * 2 <= left && n * 2 <= width)
            n *= 2;
        // Lanes of a group share the ring position (always so in a unit, whose kernels are
        // reset together); a group that does not runs channel by channel.
        bool inStep = true;
        for (UInt32 j = 1; j < n; ++j)
            inStep = inStep && kernels[c + j]->m_writeIndex == kernels[c]->m_writeIndex;
        if (n == 1 || !inStep) {
            for (UInt32 j = 0; j < n; ++j) {
                bool silence = false;
                kernels[c + j]->Process(in[c + j], out[c + j], frames, 1, silence);
            }
        } else {
            ProcessGroup(kernels + c, in + c, out + c, n, frames);
        }
        c += n;
    }
    return noErr;
}
