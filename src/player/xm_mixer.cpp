// Mixer: renders the voice pool into float stereo frames with linear
// interpolation and 128-frame gain ramps, and converts chunks to s16.
#include "xm_engine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

XmPlayback xmPlayback;

namespace {

// Positions and steps as one 32.32 fixed-point number.
using Fixed = uint64_t;

Fixed positionOf(const XmVoice& v) { return Fixed(v.position) << 32 | v.fraction; }
Fixed stepOf(const XmVoice& v) { return Fixed(v.stepWhole) << 32 | v.stepFraction; }

void setPosition(XmVoice& v, Fixed p) {
    v.position = static_cast<uint32_t>(p >> 32);
    v.fraction = static_cast<uint32_t>(p);
}

bool movesBackward(const XmVoice& v, const XmSample& s) { return v.direction == 2 && s.loopType == 4; }

// Output frames until the voice crosses its loop end (or the sample end)
// going forward, or its loop start going backward. The exact ceiling keeps
// every rendered frame inside [loopStart, loop end), so interpolation reads
// at most the guard frame after it.
int64_t framesToBoundary(const XmVoice& v, const XmSample& s) {
    Fixed pos = positionOf(v);
    Fixed distance;
    if (!movesBackward(v, s)) {
        Fixed end = Fixed(s.loopStart + s.loopLength) << 32;
        if (pos > end)
            end = Fixed(s.length) << 32;
        distance = pos < end ? end - pos : 0;
    } else {
        // The loop start is the last position inside; crossing goes below it.
        Fixed start = Fixed(s.loopStart) << 32;
        distance = pos + 1 > start ? pos + 1 - start : 0;
    }
    Fixed step = stepOf(v);
    if (distance >> 56 || step == 0)  // 2^24 frames or more: no boundary in this call
        return INT64_MAX;
    return static_cast<int64_t>((distance + step - 1) / step);
}

// Reflects a ping-pong position back inside the loop. Forward positions p map
// to u = p - loopStart, backward ones to u = 2L - 2^-32 - (p - loopStart); u
// runs once round [0, 2L) per forward and backward pass.
void reflect(XmVoice& v, const XmSample& s) {
    Fixed start = Fixed(s.loopStart) << 32, length = Fixed(s.loopLength) << 32;
    Fixed p = positionOf(v);
    Fixed u = v.direction == 2 ? 2 * length - 1 - (p - start) : p - start;
    u %= 2 * length;
    if (u < length) {
        v.direction = 1;
        setPosition(v, start + u);
    } else {
        v.direction = 2;
        setPosition(v, start + 2 * length - 1 - u);
    }
}

// Starts a gain ramp towards changed targets, or keeps the running one.
void updateRamp(XmVoice& v) {
    if (v.rampFramesLeft != 0 && v.gainLeft == v.lastGainLeft && v.gainRight == v.lastGainRight)
        return;
    constexpr float perFrame = (1.0f / 255) * (1.0f / XM_RAMP_FRAMES);
    v.rampStepLeft = v.rampStepRight = 0;
    v.rampFramesLeft = 0;
    v.lastGainLeft = v.gainLeft;
    v.lastGainRight = v.gainRight;
    int dl = v.gainLeft - (v.currentLeft >> 8), dr = v.gainRight - (v.currentRight >> 8);
    if (dl) {
        v.rampStepLeft = static_cast<float>(dl) * perFrame;
        v.rampFramesLeft = XM_RAMP_FRAMES;
    }
    if (dr) {
        v.rampStepRight = static_cast<float>(dr) * perFrame;
        v.rampFramesLeft = XM_RAMP_FRAMES;
    }
}

// Where float arithmetic is plain single precision (not x87's wider
// registers), the mixer works on four frames at once with the compiler's
// vector types: each lane does the one-frame loop's operations in its order,
// so the sums are the same to the bit.
#if FLT_EVAL_METHOD == 0 && defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define XM_FOUR_FRAMES 1
using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));
using Uint4 = uint32_t __attribute__((vector_size(16)));
using Short4 = int16_t __attribute__((vector_size(8)));

Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

Float4 splat(float x) { return Float4{x, x, x, x}; }

// A frame and the next as one 32-bit word: the frame in the low half.
int32_t framePair(const int16_t* data, Fixed pos) {
    int32_t pair;
    std::memcpy(&pair, data + (pos >> 32), sizeof pair);
    return pair;
}
#endif

constexpr float FRACTION_SCALE = 1.0f / 2147483648.0f;

// One frame: the sample interpolated at pos, from the top 31 bits of its
// fraction.
float interpolate(const int16_t* data, Fixed pos) {
    uint32_t whole = static_cast<uint32_t>(pos >> 32);
    float a = data[whole], b = data[whole + 1];
    return a + (b - a) * (static_cast<float>(static_cast<uint32_t>(pos) >> 1) * FRACTION_SCALE);
}

// The per-frame loop: interpolate, scale, accumulate, step; while ramping the
// gains move on by their steps after every frame. No bounds tests: the caller
// cut the segment at the next boundary.
template <bool Ramp>
Fixed renderSegment(const int16_t* data, Fixed pos, Fixed step, int count, float* out, float& gl, float& gr,
                    float stepLeft, float stepRight) {
    int i = 0;
#ifdef XM_FOUR_FRAMES
    const Float4 scale = splat(FRACTION_SCALE);
    // Four positions a step apart, each moving on by four steps. Their low
    // words, the fractions, move on as 32-bit lanes: the same bits.
    Fixed p0 = pos, p1 = p0 + step, p2 = p0 + 2 * step, p3 = p0 + 3 * step;
    const Fixed step4 = 4 * step;
    Uint4 fractions = {static_cast<uint32_t>(p0), static_cast<uint32_t>(p1), static_cast<uint32_t>(p2),
                       static_cast<uint32_t>(p3)};
    const uint32_t fractionStep4 = static_cast<uint32_t>(step4);
    for (; i + 4 <= count; i += 4) {
        Int4 pairs = {framePair(data, p0), framePair(data, p1), framePair(data, p2), framePair(data, p3)};
        p0 += step4;
        p1 += step4;
        p2 += step4;
        p3 += step4;
        Float4 a = __builtin_convertvector(pairs << 16 >> 16, Float4);
        Float4 b = __builtin_convertvector(pairs >> 16, Float4);
        Float4 f = __builtin_convertvector(Int4(fractions >> 1), Float4);
        fractions += fractionStep4;
        Float4 x = a + (b - a) * (f * scale);
        Float4 first = {gl, gr, gl, gr}, second = first;
        if constexpr (Ramp) {
            // Serial additions, as one frame after another makes them.
            float l1 = gl + stepLeft, r1 = gr + stepRight;
            float l2 = l1 + stepLeft, r2 = r1 + stepRight;
            float l3 = l2 + stepLeft, r3 = r2 + stepRight;
            first = Float4{gl, gr, l1, r1};
            second = Float4{l2, r2, l3, r3};
            gl = l3 + stepLeft;
            gr = r3 + stepRight;
        }
        store4(out + 2 * i, load4(out + 2 * i) + __builtin_shufflevector(x, x, 0, 0, 1, 1) * first);
        store4(out + 2 * i + 4, load4(out + 2 * i + 4) + __builtin_shufflevector(x, x, 2, 2, 3, 3) * second);
    }
    pos = p0;
#endif
    for (; i < count; i++) {
        float x = interpolate(data, pos);
        out[2 * i] += x * gl;
        out[2 * i + 1] += x * gr;
        if constexpr (Ramp) {
            gl += stepLeft;
            gr += stepRight;
        }
        pos += step;
    }
    return pos;
}

void mixVoice(XmVoice& v, float* out, int n) {
    int done = 0;
    while (done < n && v.sample) {
        const XmSample& s = *v.sample;
        int c = n - done;
        bool reachesBoundary = false;
        int64_t toBoundary = framesToBoundary(v, s);
        if (toBoundary <= c) {
            c = static_cast<int>(toBoundary);
            reachesBoundary = true;
        }
        updateRamp(v);
        bool ramping = v.rampFramesLeft != 0;
        if (ramping && v.rampFramesLeft < c) {
            c = v.rampFramesLeft;
            reachesBoundary = false;
        }

        Fixed step = stepOf(v);
        if (movesBackward(v, s))
            step = ~step + 1;
        Fixed pos = positionOf(v);
        if (ramping) {
            float gl = v.currentLeft / 256.0f / 255.0f, gr = v.currentRight / 256.0f / 255.0f;
            pos = renderSegment<true>(s.data, pos, step, c, out + 2 * done, gl, gr, v.rampStepLeft, v.rampStepRight);
            v.currentLeft = static_cast<int>(std::lround(gl * 255 * 256));
            v.currentRight = static_cast<int>(std::lround(gr * 255 * 256));
            v.rampFramesLeft -= c;
            if (v.rampFramesLeft == 0) {
                v.rampStepLeft = v.rampStepRight = 0;
                v.currentLeft = v.gainLeft * 256;
                v.currentRight = v.gainRight * 256;
            }
        } else if (v.gainLeft != 0 || v.gainRight != 0) {
            float gl = v.gainLeft / 255.0f, gr = v.gainRight / 255.0f;
            pos = renderSegment<false>(s.data, pos, step, c, out + 2 * done, gl, gr, 0, 0);
        } else {
            pos += step * static_cast<Fixed>(c);  // a silent voice only moves on
        }
        setPosition(v, pos);
        done += c;

        if (!reachesBoundary)
            continue;
        if (s.loopType == 2) {
            Fixed start = Fixed(s.loopStart) << 32;
            setPosition(v, start + (pos - start) % (Fixed(s.loopLength) << 32));
        } else if (s.loopType == 4) {
            reflect(v, s);
        } else {
            v.sample = nullptr;
            v.position = v.fraction = 0;
        }
    }
}

}  // namespace

void xmMix(float* out, int count) {
    if (count <= 0)
        return;
    for (XmVoice& v : xmVoices)
        if (v.sample)
            mixVoice(v, out, count);
}

void xmConvert(int16_t* dst, const float* src, int frames) {
    int i = 0;
#ifdef XM_FOUR_FRAMES
    // Clipped, a value plus 1.5 x 2^23 lands where floats are whole numbers:
    // the addition rounds to nearest, ties to even, as lrint does.
    const Float4 low = splat(-32768.0f), high = splat(32767.0f), magic = splat(12582912.0f);
    for (; i + 4 <= 2 * frames; i += 4) {
        Float4 x = load4(src + i);
        Int4 below = x < low, above = x > high;
        x = Float4((Int4(x) & ~below) | (Int4(low) & below));
        x = Float4((Int4(x) & ~above) | (Int4(high) & above));
        Short4 s = __builtin_convertvector(__builtin_convertvector((x + magic) - magic, Int4), Short4);
        std::memcpy(dst + i, &s, sizeof s);
    }
#endif
    for (; i < 2 * frames; i++)
        dst[i] = static_cast<int16_t>(std::lrint(std::clamp(src[i], -32768.0f, 32767.0f)));
}

void xmRenderFrames(XmModule* m, float* out, int count) {
    std::fill(out, out + 2 * count, 0.0f);
    int left = m->tickFramesLeft;
    for (int done = 0; done < count;) {
        if (left == 0) {
            m->tickHandler(m);
            left = m->tickFrames;  // read after the tick: a tempo change applies to it
        }
        int n = std::min(left, count - done);
        xmMix(out + 2 * done, n);
        done += n;
        left -= n;
    }
    m->tickFramesLeft = left;
}

bool xmAllocateRenderBuffers() {
    XmPlayback& p = xmPlayback;
    xmReleaseRenderBuffers();
    p.ringBuffer = static_cast<int16_t*>(std::calloc(XM_RING_FRAMES * 2, sizeof(int16_t)));
    p.mixAllocation = std::calloc(XM_RING_FRAMES * 2 * sizeof(float) + 256, 1);
    if (!p.ringBuffer || !p.mixAllocation) {
        xmReleaseRenderBuffers();
        return false;
    }
    uintptr_t address = (reinterpret_cast<uintptr_t>(p.mixAllocation) + 15) & ~uintptr_t(15);
    p.mixArea = reinterpret_cast<float*>(address);
    return true;
}

void xmReleaseRenderBuffers() {
    XmPlayback& p = xmPlayback;
    std::free(p.ringBuffer);
    std::free(p.mixAllocation);
    p.ringBuffer = nullptr;
    p.mixAllocation = nullptr;
    p.mixArea = nullptr;
}

void xmRenderChunk() {
    XmPlayback& p = xmPlayback;
    int offset = p.writeChunk * XM_CHUNK_FRAMES * 2;
    xmRenderFrames(p.playingModule, p.mixArea + offset, XM_CHUNK_FRAMES);
    xmConvert(p.ringBuffer + offset, p.mixArea + offset, XM_CHUNK_FRAMES);
    p.writeChunk = (p.writeChunk + 1) % XM_RING_CHUNKS;
}

void xmRenderRing() {
    do
        xmRenderChunk();
    while (xmPlayback.writeChunk != 0);
}

bool xmBeginPlayback(XmModule* m) {
    if (!m)
        return false;
    xmStop(m);
    if (!xmIoRegistered())
        return false;
    xmResetPlayback(m);
    xmPlayback.playingModule = m;
    return true;
}

void xmRaiseStop() {
    xmPlayback.stopRequest.store(1, std::memory_order_release);
    while (xmPlayback.renderBusy.load(std::memory_order_acquire)) {
    }
}

void xmEndPlayback() {
    xmReleaseRenderBuffers();
    xmPlayback.playingModule = nullptr;
    xmPlayback.writeChunk = 0;
}
