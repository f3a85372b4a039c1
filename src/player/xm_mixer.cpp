// Mixer: renders the voice pool into float stereo frames with linear
// interpolation and 128-frame gain ramps, and converts chunks to s16.
#include "xm_engine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// How far the voice at pos is from crossing its loop end (or the sample end)
// going forward, or its loop start going backward.
Fixed distanceToBoundary(const XmVoice& v, const XmSample& s, Fixed pos) {
  if (!movesBackward(v, s)) {
    Fixed end = Fixed(s.loopStart + s.loopLength) << 32;
    if (pos > end) end = Fixed(s.length) << 32;
    return pos < end ? end - pos : 0;
  }
  // The loop start is the last position inside; crossing goes below it.
  Fixed start = Fixed(s.loopStart) << 32;
  return pos + 1 > start ? pos + 1 - start : 0;
}

// The frames, at most c, to render before a position moving on by step
// covers distance, and whether it does within them. The exact ceiling keeps
// every rendered frame short of the boundary, so interpolation reads at most
// the guard frame after it.
int framesBefore(Fixed distance, Fixed step, int c, bool& reaches) {
  reaches = false;
  if (distance >> 56 || step == 0)  // 2^24 frames or more: no boundary in this call
    return c;
  // Where the product cannot overflow it settles the common case, a
  // boundary out of reach, without a division.
  if (step >> 48 == 0 && c >> 16 == 0 && distance > step * static_cast<Fixed>(c)) return c;
  Fixed frames = (distance + step - 1) / step;
  if (frames > static_cast<Fixed>(c)) return c;
  reaches = true;
  return static_cast<int>(frames);
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
  if (v.rampFramesLeft != 0 && v.gainLeft == v.lastGainLeft && v.gainRight == v.lastGainRight) return;
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

// Where floats are SSE2's single precision (not x87's wider registers), the
// mixer works on four frames at once: each lane does the one-frame loop's
// operations in its order, so the sums are the same to the bit.
#if defined(__SSE2__) && FLT_EVAL_METHOD == 0
#define XM_FOUR_FRAMES 1

// A frame and the next as one 32-bit lane: the frame in the low half.
__m128i framePair(const int16_t* data, Fixed pos) {
  int32_t pair;
  std::memcpy(&pair, data + (pos >> 32), sizeof pair);
  return _mm_cvtsi32_si128(pair);
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
  if (count >= 4) {
    const __m128 scale = _mm_set1_ps(FRACTION_SCALE);
    // Multiply-adds of a frame pair (a, b): by (1, 0) they give a, by
    // (-1, 1) b - a, both exact in 32 bits as the floats' difference is.
    const __m128i takeFirst = _mm_set1_epi32(1), takeDifference = _mm_set1_epi32(0x0001FFFF);
    const Fixed step2 = 2 * step, step3 = 3 * step, step4 = 4 * step;
    // The fractions, the positions' low words, move on as 32-bit lanes:
    // the same bits.
    __m128i fractions = _mm_setr_epi32(static_cast<int32_t>(pos), static_cast<int32_t>(pos + step),
                                       static_cast<int32_t>(pos + step2), static_cast<int32_t>(pos + step3));
    const __m128i fractionStep4 = _mm_set1_epi32(static_cast<int32_t>(step4));
    // Left and right gains of two frames. While ramping each lane adds
    // its step twice per two frames: the same serial sums as frame after
    // frame, two frames apart.
    __m128 gains01 = _mm_setr_ps(gl, gr, gl, gr), gains23 = gains01;
    const __m128 rampSteps = _mm_setr_ps(stepLeft, stepRight, stepLeft, stepRight);
    if constexpr (Ramp) gains01 = _mm_setr_ps(gl, gr, gl + stepLeft, gr + stepRight);
    for (; i + 4 <= count; i += 4) {
      __m128i pairs =
          _mm_unpacklo_epi64(_mm_unpacklo_epi32(framePair(data, pos), framePair(data, pos + step)),
                             _mm_unpacklo_epi32(framePair(data, pos + step2), framePair(data, pos + step3)));
      pos += step4;
      __m128 a = _mm_cvtepi32_ps(_mm_madd_epi16(pairs, takeFirst));
      __m128 d = _mm_cvtepi32_ps(_mm_madd_epi16(pairs, takeDifference));
      __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fractions, 1)), scale);
      fractions = _mm_add_epi32(fractions, fractionStep4);
      __m128 x = _mm_add_ps(a, _mm_mul_ps(d, f));
      if constexpr (Ramp) gains23 = _mm_add_ps(_mm_add_ps(gains01, rampSteps), rampSteps);
      float* o = out + 2 * i;
      _mm_storeu_ps(o, _mm_add_ps(_mm_loadu_ps(o), _mm_mul_ps(_mm_unpacklo_ps(x, x), gains01)));
      _mm_storeu_ps(o + 4, _mm_add_ps(_mm_loadu_ps(o + 4), _mm_mul_ps(_mm_unpackhi_ps(x, x), gains23)));
      if constexpr (Ramp) gains01 = _mm_add_ps(_mm_add_ps(gains23, rampSteps), rampSteps);
    }
    if constexpr (Ramp) {
      gl = _mm_cvtss_f32(gains01);
      gr = _mm_cvtss_f32(_mm_shuffle_ps(gains01, gains01, 1));
    }
  }
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
    updateRamp(v);
    bool ramping = v.rampFramesLeft != 0;
    Fixed pos = positionOf(v), step = stepOf(v);
    // With steady gains a voice inside a short forward loop plays from
    // its repeated frames, at pos - loopStart, through many passes. A
    // ramp stops at every loop end instead: its gains are rounded to the
    // voice's integer ones wherever a segment ends.
    const int16_t* data = s.data;
    Fixed loopStart = Fixed(s.loopStart) << 32, loopLength = Fixed(s.loopLength) << 32;
    bool repeated = !ramping && s.loopFrames && pos >= loopStart && pos - loopStart < loopLength;
    Fixed distance;
    if (repeated) {
      data = s.loopFrames;
      pos -= loopStart;
      distance = (Fixed(s.loopFramesLength) << 32) - pos;
    } else {
      distance = distanceToBoundary(v, s, pos);
    }
    bool reachesBoundary;
    int c = framesBefore(distance, step, n - done, reachesBoundary);
    if (ramping && v.rampFramesLeft < c) {
      c = v.rampFramesLeft;
      reachesBoundary = false;
    }

    if (movesBackward(v, s)) step = ~step + 1;
    if (ramping) {
      float gl = v.currentLeft / 256.0f / 255.0f, gr = v.currentRight / 256.0f / 255.0f;
      pos = renderSegment<true>(data, pos, step, c, out + 2 * done, gl, gr, v.rampStepLeft, v.rampStepRight);
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
      pos = renderSegment<false>(data, pos, step, c, out + 2 * done, gl, gr, 0, 0);
    } else {
      pos += step * static_cast<Fixed>(c);  // a silent voice only moves on
    }
    done += c;

    if (repeated) {
      // Where the passes leave it in the loop, as one loop end after
      // another would have.
      setPosition(v, loopStart + (pos < loopLength ? pos : pos % loopLength));
      continue;
    }
    setPosition(v, pos);
    if (!reachesBoundary) continue;
    if (s.loopType == 2) {
      // Usually just past the loop end: a subtraction, not a division.
      Fixed u = pos - loopStart;
      setPosition(v, loopStart + (u - loopLength < loopLength ? u - loopLength : u % loopLength));
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
  if (count <= 0) return;
  for (XmVoice& v : xmVoices)
    if (v.sample) mixVoice(v, out, count);
}

void xmConvert(int16_t* dst, const float* src, int frames) {
  int i = 0;
#ifdef XM_FOUR_FRAMES
  // Conversion rounds as lrint does (to nearest, ties to even, in the
  // default mode); values below the s16 range saturate in the packing, and
  // those above are clipped first, as beyond 2^31 the conversion gives
  // INT32_MIN.
  const __m128 high = _mm_set1_ps(32767.0f);
  for (; i + 8 <= 2 * frames; i += 8) {
    __m128i first = _mm_cvtps_epi32(_mm_min_ps(_mm_loadu_ps(src + i), high));
    __m128i second = _mm_cvtps_epi32(_mm_min_ps(_mm_loadu_ps(src + i + 4), high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packs_epi32(first, second));
  }
#endif
  for (; i < 2 * frames; i++) dst[i] = static_cast<int16_t>(std::lrint(std::clamp(src[i], -32768.0f, 32767.0f)));
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
  do xmRenderChunk();
  while (xmPlayback.writeChunk != 0);
}

bool xmBeginPlayback(XmModule* m) {
  if (!m) return false;
  xmStop(m);
  if (!xmIoRegistered()) return false;
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
