// Replayer: walks orders and rows one tick at a time and interprets each
// channel's note, instrument, volume column and effect.
#include "xm_engine.h"

#include <algorithm>

namespace {

struct Lookup {
  const XmInstrument* ins;
  XmSample* smp;
};

Lookup lookup(const XmModule& m, const XmChannel& ch) {
  if (ch.instrumentIndex >= m.instrumentCount) return {&xmEmptyInstrument, &xmEmptySample};
  const XmInstrument& ins = m.instruments[ch.instrumentIndex];
  uint8_t slot = ins.keymap[ch.key];
  return {&ins, slot < XM_MAX_SAMPLES ? ins.samples[slot] : &xmEmptySample};
}

bool hasNote(const XmCell& c) { return c.note != 0 && c.note != XM_NOTE_KEY_OFF; }

int raise(int value, int by) { return std::min(value + by, 64); }
int lower(int value, int by) { return std::max(value - by, 0); }

void remember(uint8_t& memory, int param) {
  if (param) memory = static_cast<uint8_t>(param);
}

void fadeout(XmChannel& ch, const XmInstrument& ins) {
  ch.fadeoutVolume = std::max(ch.fadeoutVolume - ins.fadeout, 0);
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void stepEnvelopes(XmChannel& ch, const XmInstrument& ins) {
  if ((ins.volumeType & 1) && !ch.volumeEnvDone) xmEnvelopeStep(ch, ins, XmEnvelope::Volume);
  if ((ins.panningType & 1) && !ch.panningEnvDone) xmEnvelopeStep(ch, ins, XmEnvelope::Panning);
}

void setVolume(XmChannel& ch, int volume) {
  ch.volume = volume;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void setPanning(XmChannel& ch, int panning) {
  ch.panning = panning;
  ch.updateFlags |= XM_UPDATE_PANNING;
}

// Takes the row's note as the glide's target instead of triggering it.
void aimTonePorta(XmChannel& ch) {
  ch.portaTarget = ch.notePeriod;
  ch.updateFlags &= ~(XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
}

// ---------------------------------------------------------------------------
// Volume column. Its commands take their parameter on the row tick; the
// slides without "fine" act on every tick, the row tick included.

void volumeColumn(XmChannel& ch, uint8_t v, bool row) {
  int x = v & 15;
  if (v >= 0x10 && v <= 0x50) {
    if (row) setVolume(ch, v - 0x10);
    return;
  }
  switch (static_cast<XmVolumeCommand>(v >> 4)) {
    case XmVolumeCommand::FineSlideDown:
      if (row) setVolume(ch, lower(ch.volume, x));
      return;
    case XmVolumeCommand::SlideDown: return setVolume(ch, lower(ch.volume, x));
    case XmVolumeCommand::FineSlideUp:
      if (row) setVolume(ch, raise(ch.volume, x));
      return;
    case XmVolumeCommand::SlideUp: return setVolume(ch, raise(ch.volume, x));
    case XmVolumeCommand::VibratoSpeed:
      if (row) ch.vibSpeed = static_cast<uint8_t>(x);
      return;
    case XmVolumeCommand::Vibrato:
      ch.vibDepth = static_cast<uint8_t>(x);
      if (!row) {
        xmVibrato(ch);
        xmAdvanceVibrato(ch);
      }
      return;
    case XmVolumeCommand::SetPanning:
      if (row) setPanning(ch, x * 16);
      return;
    case XmVolumeCommand::PanningSlideLeft: return setPanning(ch, ch.panning - x);  // the voice update clamps
    case XmVolumeCommand::PanningSlideRight: return setPanning(ch, ch.panning + x);
    case XmVolumeCommand::TonePorta:
      if (!row) return xmTonePorta(ch);
      // The pitch glides on from the sounding note, which goes on playing;
      // unlike effect 3 the note's period is already taken.
      if (x) ch.portaSpeed = static_cast<uint8_t>(x * 16);
      ch.portaTarget = ch.notePeriod;
      ch.updateFlags &= ~XM_UPDATE_TRIGGER;
      return;
  }
}

// ---------------------------------------------------------------------------
// Effects. Each takes its parameter on the row tick and acts on the ticks the
// format gives it.

// What a row tick changes in one channel before its effect runs, kept for
// the note delay, which takes it back.
struct RowStart {
  int volume, period, panning;
};

// One channel on one tick, as its effect sees it.
struct Tick {
  XmModule& m;
  XmChannel& ch;
  const XmCell& cell;
  const Lookup& l;
  bool row;  // the first tick of the row
  const RowStart& saved;
  bool& jumpSeen;  // a position jump came earlier in the row

  int param() const { return cell.param; }
  int hi() const { return cell.param >> 4; }
  int lo() const { return cell.param & 15; }
};

constexpr uint8_t NOTE_DELAY_FLAGS = XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME | XM_UPDATE_PANNING | XM_UPDATE_TRIGGER;

// Axy, and the slide of 5xy and 6xy: up by x, or else down by y.
void volumeSlide(XmChannel& ch) {
  int hi = ch.volumeSlideMemory >> 4, lo = ch.volumeSlideMemory & 15;
  if (hi)
    ch.volume = raise(ch.volume, hi);
  else if (lo)
    ch.volume = lower(ch.volume, lo);
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

int arpeggioOffset(const XmModule& m, const XmChannel& ch, const XmSample& s, int semitones) {
  if (m.flags & 1) return semitones * 64;
  return xmNotePeriod(ch.realNote + semitones, s.finetune, false) - xmNotePeriod(ch.realNote, s.finetune, false);
}

void arpeggio(Tick& t) {
  if (t.row || !t.param()) return;
  int phase = t.m.tick % 3;
  int semitones = phase == 1 ? t.hi() : phase == 2 ? t.lo() : 0;
  if (semitones) t.ch.periodDelta = arpeggioOffset(t.m, t.ch, *t.l.smp, semitones);
  t.ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void portaUp(Tick& t) {
  if (t.row) return remember(t.ch.portaUpMemory, t.param());
  t.ch.period = std::max(t.ch.period - t.ch.portaUpMemory * 4, 56);
  t.ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void portaDown(Tick& t) {
  if (t.row) return remember(t.ch.portaDownMemory, t.param());
  t.ch.period += t.ch.portaDownMemory * 4;
  t.ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void tonePorta(Tick& t) {
  if (!t.row) return xmTonePorta(t.ch);
  remember(t.ch.portaSpeed, t.param());
  aimTonePorta(t.ch);
}

void vibrato(Tick& t) {
  if (t.row) {
    remember(t.ch.vibSpeed, t.hi());
    remember(t.ch.vibDepth, t.lo());
  }
  xmVibrato(t.ch);
  if (!t.row) xmAdvanceVibrato(t.ch);
}

void tonePortaVolumeSlide(Tick& t) {
  if (t.row) {
    remember(t.ch.volumeSlideMemory, t.param());
    return aimTonePorta(t.ch);
  }
  xmTonePorta(t.ch);
  volumeSlide(t.ch);
}

void vibratoVolumeSlide(Tick& t) {
  if (t.row) remember(t.ch.volumeSlideMemory, t.param());
  xmVibrato(t.ch);
  if (!t.row) {
    xmAdvanceVibrato(t.ch);
    volumeSlide(t.ch);
  }
}

void tremolo(Tick& t) {
  if (!t.row) return xmTremolo(t.ch);
  remember(t.ch.tremSpeed, t.hi());
  remember(t.ch.tremDepth, t.lo());
}

void sampleOffset(Tick& t) {
  if (!t.row) return;
  if (t.param()) t.ch.offsetMemory = t.param();
  uint32_t offset = static_cast<uint32_t>(t.ch.offsetMemory) * 256;
  // Past the loop end no note starts; the sounding one restarts instead.
  if (offset >= t.l.smp->loopStart + t.l.smp->loopLength)
    t.ch.updateFlags = static_cast<uint8_t>((t.ch.updateFlags & ~XM_UPDATE_TRIGGER) | XM_UPDATE_RESTART);
  else
    t.ch.voice->startOffset = static_cast<int>(offset);
}

void volumeSlideEffect(Tick& t) {
  if (t.row) return remember(t.ch.volumeSlideMemory, t.param());
  volumeSlide(t.ch);
}

void positionJump(Tick& t) {
  if (!t.row) return;
  t.m.nextRow = 0;
  t.m.nextOrder = t.param() < t.m.songLength ? t.param() : 0;
  t.jumpSeen = true;
}

void patternBreak(Tick& t) {
  if (!t.row) return;
  int row = t.hi() * 10 + t.lo();  // decimal digits
  t.m.nextRow = row > 63 ? 0 : row;
  if (!t.jumpSeen) t.m.nextOrder = t.m.orderIndex + 1;
  if (t.m.nextOrder >= t.m.songLength) t.m.nextOrder = 0;
}

void setSpeed(Tick& t) {
  if (!t.row) return;
  if (t.param() < 32)
    t.m.speed = t.param();
  else
    xmSetBpm(&t.m, t.param());
}

void setGlobalVolume(Tick& t) {
  if (!t.row) return;
  t.m.globalVolume = std::min(t.param(), 64);
  t.ch.updateFlags |= XM_UPDATE_VOLUME;
}

void globalVolumeSlide(Tick& t) {
  if (t.row) return remember(t.m.globalSlideMemory, t.param());
  int hi = t.m.globalSlideMemory >> 4, lo = t.m.globalSlideMemory & 15;
  if (hi)
    t.m.globalVolume = raise(t.m.globalVolume, hi);
  else if (lo)
    t.m.globalVolume = lower(t.m.globalVolume, lo);
}

void panningSlide(Tick& t) {
  if (t.row) {
    if (t.param()) {
      t.ch.panningSlideMemory = static_cast<uint8_t>(t.param());
      t.ch.updateFlags |= XM_UPDATE_PANNING;
    }
    return;
  }
  int hi = t.ch.panningSlideMemory >> 4, lo = t.ch.panningSlideMemory & 15;
  if (hi)
    setPanning(t.ch, std::min(t.ch.panning + hi, 255));
  else if (lo)
    setPanning(t.ch, std::max(t.ch.panning - lo, 0));
  else
    t.ch.updateFlags |= XM_UPDATE_PANNING;
}

int retriggerVolume(int type, int v) {
  static const int8_t change[16] = {0, -1, -2, -4, -8, -16, 0, 0, 0, 1, 2, 4, 8, 16, 0, 0};
  switch (type) {
    case 6: v = v * 2 / 3; break;
    case 7: v >>= 1; break;
    case 14: v = v * 3 / 2; break;
    case 15: v *= 2; break;
    default: v += change[type]; break;
  }
  return std::clamp(v, 0, 64);
}

void multiRetrigger(Tick& t) {
  XmChannel& ch = t.ch;
  if (t.row) {
    if (t.param()) {
      ch.retrigType = static_cast<uint8_t>(t.hi());
      ch.retrigInterval = static_cast<uint8_t>(t.lo());
    }
    return;
  }
  if (!ch.retrigInterval || t.m.tick % ch.retrigInterval != 0) return;
  if (ch.retrigType != 0) setVolume(ch, retriggerVolume(ch.retrigType, ch.volume));
  ch.updateFlags |= XM_UPDATE_TRIGGER;
}

void tremor(Tick& t) {
  if (t.row && t.param()) {
    t.ch.tremorOn = static_cast<uint8_t>(t.hi() + 1);
    t.ch.tremorOff = static_cast<uint8_t>(t.lo() + 1);
  }
  xmTremor(t.ch);
}

void extraFinePorta(Tick& t) {
  if (!t.row) return;
  if (t.hi() == 1) {
    remember(t.ch.extraFineUpMemory, t.lo());
    t.ch.period -= t.ch.extraFineUpMemory;
  } else if (t.hi() == 2) {
    remember(t.ch.extraFineDownMemory, t.lo());
    t.ch.period += t.ch.extraFineDownMemory;
  }
}

// E-x effects: x is the parameter's low nibble.

void finePorta(Tick& t, uint8_t& memory, int direction) {
  if (!t.row) return;
  remember(memory, t.lo());
  t.ch.period += direction * memory * 4;
}

void fineVolumeSlide(Tick& t, bool up) {
  if (!t.row) return;
  remember(t.ch.fineVolumeMemory, t.lo());
  int by = t.ch.fineVolumeMemory;
  setVolume(t.ch, up ? raise(t.ch.volume, by) : lower(t.ch.volume, by));
}

void waveform(Tick& t, bool tremoloNibble) {
  if (!t.row) return;
  int shift = tremoloNibble ? 4 : 0;
  t.ch.waveControl = static_cast<uint8_t>((t.ch.waveControl & ~(0x0F << shift)) | t.lo() << shift);
}

void setFinetune(Tick& t) {
  // Lasts for every later note of the sample; the shared placeholder stays
  // untouched.
  if (t.row && t.l.smp != &xmEmptySample) t.l.smp->finetune = static_cast<int8_t>(t.lo());
}

void patternLoop(Tick& t) {
  if (!t.row) return;
  XmChannel& ch = t.ch;
  if (t.lo() == 0) {
    ch.loopRow = t.m.row;
    return;
  }
  ch.loopCount = ch.loopCount == 0 ? t.lo() : ch.loopCount - 1;
  if (ch.loopCount != 0) t.m.nextRow = ch.loopRow;
}

void retrigger(Tick& t) {
  if (!t.row && t.lo() && t.m.tick % t.lo() == 0)
    t.ch.updateFlags |= XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME | XM_UPDATE_TRIGGER;
}

void noteCut(Tick& t) {
  if (!t.row && t.m.tick == t.lo()) setVolume(t.ch, 0);
}

// The row tick takes back what the row changed; tick x plays the row.
void noteDelay(Tick& t) {
  XmChannel& ch = t.ch;
  if (t.row) {
    ch.volume = t.saved.volume;
    ch.period = t.saved.period;
    ch.panning = t.saved.panning;
    ch.updateFlags &= ~NOTE_DELAY_FLAGS;
  } else if (t.m.tick != t.lo()) {
    ch.updateFlags &= ~NOTE_DELAY_FLAGS;
  } else {
    xmInstrumentReset(ch, *t.l.smp);
    ch.period = ch.notePeriod;
    ch.updateFlags |= XM_UPDATE_FREQUENCY;
    if (t.cell.volume) volumeColumn(ch, t.cell.volume, true);
    ch.updateFlags |= XM_UPDATE_TRIGGER;
  }
}

void extended(Tick& t) {
  switch (static_cast<XmExtended>(t.hi())) {
    case XmExtended::FinePortaUp: return finePorta(t, t.ch.finePortaUpMemory, -1);
    case XmExtended::FinePortaDown: return finePorta(t, t.ch.finePortaDownMemory, 1);
    case XmExtended::VibratoWaveform: return waveform(t, false);
    case XmExtended::SetFinetune: return setFinetune(t);
    case XmExtended::PatternLoop: return patternLoop(t);
    case XmExtended::TremoloWaveform: return waveform(t, true);
    case XmExtended::SetPanning:
      if (t.row) setPanning(t.ch, t.lo() * 16);
      return;
    case XmExtended::Retrigger: return retrigger(t);
    case XmExtended::FineVolumeUp: return fineVolumeSlide(t, true);
    case XmExtended::FineVolumeDown: return fineVolumeSlide(t, false);
    case XmExtended::NoteCut: return noteCut(t);
    case XmExtended::NoteDelay: return noteDelay(t);
    case XmExtended::PatternDelay:
      if (t.row) t.m.patternDelay = t.lo() * t.m.speed;
      return;
    default: return;
  }
}

void effect(Tick& t) {
  switch (static_cast<XmEffect>(t.cell.effect)) {
    case XmEffect::Arpeggio: return arpeggio(t);
    case XmEffect::PortaUp: return portaUp(t);
    case XmEffect::PortaDown: return portaDown(t);
    case XmEffect::TonePorta: return tonePorta(t);
    case XmEffect::Vibrato: return vibrato(t);
    case XmEffect::TonePortaVolumeSlide: return tonePortaVolumeSlide(t);
    case XmEffect::VibratoVolumeSlide: return vibratoVolumeSlide(t);
    case XmEffect::Tremolo: return tremolo(t);
    case XmEffect::SetPanning:
      if (t.row) setPanning(t.ch, t.param());
      return;
    case XmEffect::SampleOffset: return sampleOffset(t);
    case XmEffect::VolumeSlide: return volumeSlideEffect(t);
    case XmEffect::PositionJump: return positionJump(t);
    case XmEffect::SetVolume:
      if (t.row) setVolume(t.ch, t.param());
      return;
    case XmEffect::PatternBreak: return patternBreak(t);
    case XmEffect::Extended: return extended(t);
    case XmEffect::SetSpeed: return setSpeed(t);
    case XmEffect::SetGlobalVolume: return setGlobalVolume(t);
    case XmEffect::GlobalVolumeSlide: return globalVolumeSlide(t);
    case XmEffect::SetEnvelopePosition:
      if (t.row) xmSetEnvelopePosition(t.ch, *t.l.ins, t.param());
      return;
    case XmEffect::PanningSlide: return panningSlide(t);
    case XmEffect::MultiRetrigger: return multiRetrigger(t);
    case XmEffect::Tremor: return tremor(t);
    case XmEffect::ExtraFinePorta: return extraFinePorta(t);
    case XmEffect::KeyOff:  // taken before the envelopes
    default: return;
  }
}

bool isTonePorta(uint8_t effect) {
  return effect == uint8_t(XmEffect::TonePorta) || effect == uint8_t(XmEffect::TonePortaVolumeSlide);
}

void rowTickChannel(XmModule& m, XmChannel& ch, const XmCell& cell, bool& jumpSeen) {
  bool porta = isTonePorta(cell.effect);  // the volume column's glide does not count
  if (cell.instrument && !porta) ch.instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
  if (hasNote(cell) && !porta) ch.key = static_cast<uint8_t>(cell.note - 1);
  Lookup l = lookup(m, ch);
  RowStart saved{ch.volume, ch.period, ch.panning};
  constexpr uint8_t tremolo = uint8_t(XmEffect::Tremolo);
  if (ch.lastEffect == tremolo && cell.effect != tremolo)
    ch.volume += ch.tremoloDelta;  // the last tremolo offset stays
  ch.lastEffect = cell.effect;
  ch.tremoloDelta = 0;
  ch.updateFlags = 0;
  if (hasNote(cell)) {
    ch.realNote = static_cast<uint8_t>(cell.note + l.smp->relativeNote - 1);
    ch.notePeriod = xmNotePeriod(ch.realNote, l.smp->finetune, m.flags & 1);
    if (!porta) ch.period = ch.notePeriod;
    ch.updateFlags = XM_UPDATE_TRIGGER;
  }
  ch.periodDelta = 0;
  ch.updateFlags |= XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME;
  if (cell.instrument) xmInstrumentReset(ch, *l.smp);
  if (cell.volume) volumeColumn(ch, cell.volume, true);
  if (cell.note == XM_NOTE_KEY_OFF || cell.effect == uint8_t(XmEffect::KeyOff)) ch.keyReleased = 1;
  // Key off cuts a note whose instrument has no volume envelope.
  if (!(l.ins->volumeType & 1) && ch.keyReleased) ch.volumeEnvOut = 0;
  stepEnvelopes(ch, *l.ins);
  if (ch.keyReleased) fadeout(ch, *l.ins);
  Tick t{m, ch, cell, l, true, saved, jumpSeen};
  effect(t);
  xmAutoVibrato(ch, *l.ins);
  xmVoiceUpdate(ch, l.smp, m);
}

void otherTickChannel(XmModule& m, XmChannel& ch, const XmCell& cell) {
  Lookup l = lookup(m, ch);
  ch.tremoloDelta = ch.periodDelta = 0;
  ch.updateFlags = 0;
  stepEnvelopes(ch, *l.ins);
  if (ch.keyReleased) fadeout(ch, *l.ins);
  if (cell.volume) volumeColumn(ch, cell.volume, false);
  RowStart rowOnly{};  // the row's state and jumps matter on the row tick alone
  bool jumpSeen = false;
  Tick t{m, ch, cell, l, false, rowOnly, jumpSeen};
  effect(t);
  xmAutoVibrato(ch, *l.ins);
  xmVoiceUpdate(ch, l.smp, m);
}

const XmPattern& currentPattern(const XmModule& m) { return m.patterns[m.orders[m.orderIndex]]; }

}  // namespace

void xmTick(XmModule* m) {
  if (m->tick == 0) {
    if (m->nextOrder >= 0) m->orderIndex = m->nextOrder;
    if (m->nextRow >= 0) m->row = m->nextRow;
    // Breaks and loops may aim past the rows of the pattern they land in.
    const XmPattern& p = currentPattern(*m);
    if (m->row >= p.rows) m->row = 0;
    m->nextOrder = m->nextRow = -1;
    bool jumpSeen = false;
    const XmCell* cells = p.cells + m->row * m->channelCount;
    for (int c = 0; c < m->channelCount; c++) rowTickChannel(*m, xmChannels[c], cells[c], jumpSeen);
    if (m->nextRow == -1) {
      m->nextRow = m->row + 1;
      if (m->nextRow >= p.rows) {
        m->nextOrder = m->orderIndex + 1 >= m->songLength ? m->restartPosition : m->orderIndex + 1;
        m->nextRow = 0;
      }
    }
  } else {
    const XmCell* cells = currentPattern(*m).cells + m->row * m->channelCount;
    for (int c = 0; c < m->channelCount; c++) otherTickChannel(*m, xmChannels[c], cells[c]);
  }
  m->tick++;
  if (m->tick >= m->speed + m->patternDelay) {
    m->patternDelay = 0;
    m->tick = 0;
  }
}

void xmSetBpm(XmModule* m, int bpm) {
  m->bpm = bpm;
  bpm = std::max(bpm, 1);  // BPM 0 has no tick length; the loader refuses it
  m->tickFrames = static_cast<int>(static_cast<double>(1000.0f) / (bpm * static_cast<double>(0.4f)) * 44100 *
                                   static_cast<double>(0.001f));
}

void xmResetPlayback(XmModule* m) {
  m->globalVolume = m->initialGlobalVolume;
  m->nextOrder = m->nextRow = -1;
  m->speed = m->defaultTempo;
  m->row = m->orderIndex = m->tick = m->patternDelay = m->tickFramesLeft = 0;
  xmSetBpm(m, m->defaultBpm);
  for (int i = 0; i < XM_VOICE_COUNT; i++) {
    xmVoices[i] = XmVoice{};
    xmVoices[i].index = i;
    xmVoices[i].stepWhole = 1;
  }
  for (int n = 0; n < m->channelCount; n++) {
    xmChannels[n] = XmChannel{};
    xmChannels[n].voice = &xmVoices[n];
  }
}
