// Channel state of the replayer and the voice update that hands a channel's
// note, volume, panning and pitch to its mixer voice.
#include "xm_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

XmChannel xmChannels[XM_MAX_CHANNELS];
XmVoice xmVoices[XM_VOICE_COUNT];

namespace {

// Envelope values are 16.16 fixed point. Points with x out of order can make
// a value run far, so it wraps (as the 32-bit arithmetic it models) rather
// than overflow.
int wrapAdd(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

// One envelope of an instrument with the channel fields that follow it.
struct EnvelopeView {
  const XmEnvelopePoint* points;
  int count;
  uint8_t type, sustain, loopStart, loopEnd;
  int &tick, &point, &value, &out, &step;
  uint8_t& done;
  uint8_t flag;
};

EnvelopeView envelopeView(XmChannel& ch, const XmInstrument& ins, XmEnvelope which) {
  if (which == XmEnvelope::Volume)
    return {ins.volumeEnvelope, ins.volumePointCount, ins.volumeType,    ins.volumeSustain, ins.volumeLoopStart,
            ins.volumeLoopEnd,  ch.volumeEnvTick,     ch.volumeEnvPoint, ch.volumeEnvValue, ch.volumeEnvOut,
            ch.volumeEnvStep,   ch.volumeEnvDone,     XM_UPDATE_VOLUME};
  return {ins.panningEnvelope, ins.panningPointCount, ins.panningType,    ins.panningSustain, ins.panningLoopStart,
          ins.panningLoopEnd,  ch.panningEnvTick,     ch.panningEnvPoint, ch.panningEnvValue, ch.panningEnvOut,
          ch.panningEnvStep,   ch.panningEnvDone,     XM_UPDATE_PANNING};
}

int slope(const XmEnvelopePoint& a, const XmEnvelopePoint& b) {
  int dx = b.x - a.x;
  return dx ? (b.y - a.y) * 65536 / dx : 0;
}

// Waveform of the vibrato and the tremolo: 0 sine, 1 ramp, 2 square.
int waveform(int shape, int8_t pos) {
  switch (shape) {
    case 0: return static_cast<int>(std::fabs(std::sin(pos * 2 * 0.049087375)) * 256);
    case 1: return pos >= 0 ? (pos * 8) & 0xFF : 255 - ((pos * 8) & 0xFF);
    default: return 255;
  }
}

int8_t advanceOscillator(int8_t pos, uint8_t speed) {
  int p = static_cast<int8_t>(pos + speed);
  return static_cast<int8_t>(p > 31 ? p - 64 : p);
}

double amigaPeriod(int k) { return std::trunc(13.375 * std::exp2((132 - k) * static_cast<double>(1.0f / 12.0f))); }

void setGains(XmVoice& v) {
  v.gainLeft = (255 - v.panning) * v.volume / 255;
  v.gainRight = v.panning * v.volume / 255;
}

int frequency(const XmChannel& ch, bool linear) {
  double f;
  if (linear) {
    double units = 4608.0 - ch.period + ch.periodDelta;
    f = std::trunc(8363 * std::exp2(units * static_cast<double>(1.0f / 768.0f)));
  } else {
    f = static_cast<double>(14317056 / (static_cast<int64_t>(ch.period) + ch.periodDelta));
  }
  // Periods driven far off by effects without limits stay inside int.
  if (f > 2147483647.0) f = 2147483647.0;
  return f < 100 ? 100 : static_cast<int>(f);
}

}  // namespace

void xmEnvelopeStep(XmChannel& ch, const XmInstrument& ins, XmEnvelope which) {
  EnvelopeView e = envelopeView(ch, ins, which);
  int& i = e.point;
  ch.updateFlags |= e.flag;
  if (i < e.count && e.tick == e.points[i].x) {
    if ((e.type & 4) && i == e.loopEnd) {
      i = e.loopStart;
      e.tick = e.points[i].x;
    }
    if (i == e.count - 1) {
      e.out = e.points[i].y;
      e.done = 1;
      return;
    }
    if ((e.type & 2) && i == e.sustain && !ch.keyReleased) {
      e.out = e.points[i].y;
      return;
    }
    e.step = slope(e.points[i], e.points[i + 1]);
    e.value = e.points[i].y * 65536;
    i += 1;
  } else if (i < e.count) {
    e.value = wrapAdd(e.value, e.step);
  }
  e.out = e.value >> 16;
  e.tick += 1;
}

void xmSetEnvelopePosition(XmChannel& ch, const XmInstrument& ins, int p) {
  if (!(ins.volumeType & 1)) return;
  const XmEnvelopePoint* pt = ins.volumeEnvelope;
  int count = ins.volumePointCount;
  int j = 0;
  while (p > pt[j + 1].x && j < count) j++;
  if (j >= count - 1) {
    ch.volumeEnvPoint = j;
    ch.volumeEnvOut = pt[count - 1].y;
    ch.volumeEnvDone = 1;
    return;
  }
  ch.volumeEnvDone = 0;
  ch.volumeEnvTick = p;
  ch.volumeEnvStep = slope(pt[j], pt[j + 1]);
  ch.volumeEnvPoint = j + 1;
  ch.volumeEnvValue = static_cast<int>(pt[j].y * 65536 + static_cast<int64_t>(p - pt[j].x) * ch.volumeEnvStep);
  ch.volumeEnvOut = ch.volumeEnvValue >> 16;
}

void xmVibrato(XmChannel& ch) {
  int d = (waveform(ch.waveControl & 3, ch.vibPos) * ch.vibDepth >> 5) & ~3;
  ch.periodDelta = ch.vibPos >= 0 ? -d : d;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void xmAdvanceVibrato(XmChannel& ch) { ch.vibPos = advanceOscillator(ch.vibPos, ch.vibSpeed); }

void xmTremolo(XmChannel& ch) {
  int shape = (ch.waveControl >> 4) & 3;
  int t = waveform(shape == 3 ? 0 : shape, ch.tremPos) * ch.tremDepth >> 6;
  if (ch.tremPos >= 0)
    ch.tremoloDelta = std::min(t, 64 - ch.volume);
  else
    ch.tremoloDelta = -std::min(t, ch.volume);
  ch.tremPos = advanceOscillator(ch.tremPos, ch.tremSpeed);
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void xmTremor(XmChannel& ch) {
  if (ch.tremorCounter >= ch.tremorOn) ch.tremoloDelta = -ch.volume;
  ch.tremorCounter++;
  if (ch.tremorCounter == ch.tremorOn + ch.tremorOff) ch.tremorCounter = 0;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void xmAutoVibrato(XmChannel& ch, const XmInstrument& ins) {
  int pos = ch.autoVibratoPos;
  int w = 0;
  // Without depth the waveform, a sine per tick, cannot matter.
  switch (ins.vibratoDepth ? ins.vibratoType : -1) {
    case 0: w = static_cast<int>(std::sin(pos * static_cast<double>(0.024543688f)) * 64); break;
    case 1: w = pos < 128 ? 64 : -64; break;
    case 2: w = (128 - (pos + 128) % 256) >> 1; break;
    case 3: w = (128 - (384 - pos) % 256) >> 1; break;
    default:  // undefined waveforms give no vibrato
      break;
  }
  int a = ins.vibratoDepth * w;
  if (ins.vibratoSweep) a = ch.autoVibratoSweep * a / ins.vibratoSweep;
  ch.periodDelta += a >> 6;
  ch.autoVibratoSweep = std::min(ch.autoVibratoSweep + 1, static_cast<int>(ins.vibratoSweep));
  ch.autoVibratoPos += ins.vibratoRate;
  if (ch.autoVibratoPos > 255) ch.autoVibratoPos -= 256;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void xmTonePorta(XmChannel& ch) {
  if (ch.period < ch.portaTarget)
    ch.period = std::min(ch.period + ch.portaSpeed * 4, ch.portaTarget);
  else if (ch.period > ch.portaTarget)
    ch.period = std::max(ch.period - ch.portaSpeed * 4, ch.portaTarget);
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

int xmNotePeriod(int n, int ft, bool linear) {
  if (linear) return 7680 - 64 * n - ft / 2;
  int p = static_cast<int>(amigaPeriod(n));
  if (ft >= 0 || n == 0) return p + (p - static_cast<int>(amigaPeriod(n + 1))) * ft / -128;
  return p + std::abs(ft) * (p - static_cast<int>(amigaPeriod(n - 1))) / -128;
}

void xmInstrumentReset(XmChannel& ch, const XmSample& s) {
  ch.volume = s.volume;
  ch.panning = s.panning;
  ch.volumeEnvOut = 64;
  ch.panningEnvOut = 32;
  ch.volumeEnvPoint = ch.volumeEnvTick = ch.volumeEnvStep = 0;
  ch.panningEnvPoint = ch.panningEnvTick = ch.panningEnvStep = 0;
  ch.volumeEnvDone = ch.panningEnvDone = 0;
  ch.keyReleased = 0;
  ch.fadeoutVolume = 65536;
  ch.autoVibratoSweep = ch.autoVibratoPos = 0;
  if ((ch.waveControl & 0x0F) < 4) ch.vibPos = 0;
  if ((ch.waveControl >> 4) < 4) ch.tremPos = 0;
  ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_PANNING;
  ch.tremorCounter = 0;
}

void xmVoiceUpdate(XmChannel& ch, XmSample* s, const XmModule& m) {
  if (static_cast<int64_t>(ch.period) + ch.periodDelta == 0) ch.updateFlags &= ~XM_UPDATE_FREQUENCY;
  if (ch.updateFlags & XM_UPDATE_TRIGGER) {
    XmVoice* v = ch.voice;
    if (v->sample) {
      // Hand the sounding note to the partner voice, which fades it out.
      XmVoice& partner = xmVoices[v->index < 32 ? v->index + 32 : v->index - 32];
      int index = partner.index;
      partner = *v;
      partner.index = index;
      v->volume = v->gainLeft = v->gainRight = 0;
      ch.voice = &partner;
    }
    XmVoice& w = *ch.voice;
    w.sample = s;
    if (static_cast<uint32_t>(w.startOffset) >= s->loopStart + s->loopLength) w.startOffset = 0;
    w.position = static_cast<uint32_t>(w.startOffset);
    w.fraction = 0;
    w.direction = 1;
    w.startOffset = 0;
    w.currentLeft = w.currentRight = 0;
    w.rampFramesLeft = 0;
  }
  XmVoice& v = *ch.voice;
  if (ch.updateFlags & XM_UPDATE_VOLUME) {
    double level = static_cast<double>(ch.volume + ch.tremoloDelta) * ch.volumeEnvOut * ch.fadeoutVolume *
                   m.globalVolume * static_cast<double>(7.4214768e-9f);
    v.volume = static_cast<int>(level);
    setGains(v);
  }
  if (ch.updateFlags & XM_UPDATE_PANNING) {
    int c = (128 - std::abs(ch.panning - 128)) / 32;
    v.panning = std::clamp(ch.panning + c * (ch.panningEnvOut - 32), 0, 255);
    setGains(v);
  }
  if (ch.updateFlags & XM_UPDATE_FREQUENCY) {
    uint32_t f = static_cast<uint32_t>(frequency(ch, m.flags & 1));
    v.stepWhole = f / XM_OUTPUT_RATE;
    v.stepFraction =
        static_cast<uint32_t>(((static_cast<uint64_t>(f % XM_OUTPUT_RATE) << 32) + v.stepWhole) / XM_OUTPUT_RATE);
  }
  if (ch.updateFlags & XM_UPDATE_RESTART) {
    v.position = v.fraction = 0;
    v.startOffset = 0;
  }
}
