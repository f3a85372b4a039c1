// Replayer: walks orders and rows one tick at a time and interprets each
// channel's note, instrument, volume column and effect.
#include "xm_player.h"

#include <algorithm>

namespace {

struct Lookup {
    const XmInstrument* ins;
    XmSample* smp;
};

Lookup lookup(const XmModule& m, const XmChannel& ch) {
    if (ch.instrumentIndex >= m.instrumentCount)
        return {&xmEmptyInstrument, &xmEmptySample};
    const XmInstrument& ins = m.instruments[ch.instrumentIndex];
    uint8_t slot = ins.keymap[ch.key];
    return {&ins, slot < XM_MAX_SAMPLES ? ins.samples[slot] : &xmEmptySample};
}

bool hasNote(const XmCell& c) { return c.note != 0 && c.note != XM_NOTE_KEY_OFF; }

int raise(int value, int by) { return std::min(value + by, 64); }
int lower(int value, int by) { return std::max(value - by, 0); }

void volumeSlide(XmChannel& ch) {
    int hi = ch.volumeSlideMemory >> 4, lo = ch.volumeSlideMemory & 15;
    if (hi)
        ch.volume = raise(ch.volume, hi);
    else if (lo)
        ch.volume = lower(ch.volume, lo);
    ch.updateFlags |= XM_UPDATE_VOLUME;
}

void fadeout(XmChannel& ch, const XmInstrument& ins) {
    ch.fadeoutVolume = std::max(ch.fadeoutVolume - ins.fadeout, 0);
    ch.updateFlags |= XM_UPDATE_VOLUME;
}

void stepEnvelopes(XmChannel& ch, const XmInstrument& ins) {
    if ((ins.volumeType & 1) && !ch.volumeEnvDone)
        xmEnvelopeStep(ch, ins, XmEnvelope::Volume);
    if ((ins.panningType & 1) && !ch.panningEnvDone)
        xmEnvelopeStep(ch, ins, XmEnvelope::Panning);
}

// Volume-column slides. The fine ones (8x, 9x) act on the row tick only, the
// others on every tick.
bool volumeColumnSlide(XmChannel& ch, uint8_t v, bool rowTick) {
    int lo = v & 15;
    switch (v >> 4) {
    case 0x8:
        if (!rowTick)
            return false;
        [[fallthrough]];
    case 0x6:
        ch.volume = lower(ch.volume, lo);
        ch.updateFlags |= XM_UPDATE_VOLUME;
        return true;
    case 0x9:
        if (!rowTick)
            return false;
        [[fallthrough]];
    case 0x7:
        ch.volume = raise(ch.volume, lo);
        ch.updateFlags |= XM_UPDATE_VOLUME;
        return true;
    case 0xD:
        ch.panning -= lo;
        ch.updateFlags |= XM_UPDATE_PANNING;
        return true;
    case 0xE:
        ch.panning += lo;
        ch.updateFlags |= XM_UPDATE_PANNING;
        return true;
    default:
        return false;
    }
}

void volumeColumnRow(XmChannel& ch, uint8_t v) {
    int lo = v & 15;
    if (v >= 0x10 && v <= 0x50) {
        ch.volume = v - 16;
        ch.updateFlags |= XM_UPDATE_VOLUME;
        return;
    }
    if (volumeColumnSlide(ch, v, true))
        return;
    switch (v >> 4) {
    case 0xA:
        ch.vibSpeed = static_cast<uint8_t>(lo);
        break;
    case 0xB:
        ch.vibDepth = static_cast<uint8_t>(lo);
        break;
    case 0xC:
        ch.panning = lo * 16;
        ch.updateFlags |= XM_UPDATE_PANNING;
        break;
    case 0xF:
        // The note's period is already taken: the pitch glides from here
        // without restarting the sample.
        if (lo)
            ch.portaSpeed = static_cast<uint8_t>(lo * 16);
        ch.portaTarget = ch.notePeriod;
        ch.updateFlags &= ~XM_UPDATE_TRIGGER;
        break;
    default:
        break;
    }
}

void volumeColumnOther(XmChannel& ch, uint8_t v) {
    if (volumeColumnSlide(ch, v, false))
        return;
    if (v >> 4 == 0xB) {
        ch.vibDepth = v & 15;
        xmVibrato(ch);
        xmAdvanceVibrato(ch);
    } else if (v >> 4 == 0xF) {
        xmTonePorta(ch);
    }
}

int arpeggioOffset(const XmModule& m, const XmChannel& ch, const XmSample& s, int semitones) {
    if (m.flags & 1)
        return semitones * 64;
    return xmNotePeriod(ch.realNote + semitones, s.finetune, false) - xmNotePeriod(ch.realNote, s.finetune, false);
}

int retriggerVolume(int type, int v) {
    static const int8_t change[16] = {0, -1, -2, -4, -8, -16, 0, 0, 0, 1, 2, 4, 8, 16, 0, 0};
    switch (type) {
    case 6:
        v = v * 2 / 3;
        break;
    case 7:
        v >>= 1;
        break;
    case 14:
        v = v * 3 / 2;
        break;
    case 15:
        v *= 2;
        break;
    default:
        v += change[type];
        break;
    }
    return std::clamp(v, 0, 64);
}

// What a row tick changes in one channel before its effect runs, kept for
// the note delay, which takes it back.
struct RowStart {
    int volume, period, panning;
};

constexpr uint8_t NOTE_DELAY_FLAGS = XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME | XM_UPDATE_PANNING | XM_UPDATE_TRIGGER;

void extendedRow(XmModule& m, XmChannel& ch, const Lookup& l, int x, const RowStart& saved) {
    int hi = x >> 4;
    x &= 15;
    switch (hi) {
    case 0x1:
        if (x)
            ch.finePortaUpMemory = static_cast<uint8_t>(x);
        ch.period -= ch.finePortaUpMemory * 4;
        break;
    case 0x2:
        if (x)
            ch.finePortaDownMemory = static_cast<uint8_t>(x);
        ch.period += ch.finePortaDownMemory * 4;
        break;
    case 0x4:
        ch.waveControl = static_cast<uint8_t>((ch.waveControl & 0xF0) | x);
        break;
    case 0x5:
        // Lasts for every later note of the sample; the shared placeholder
        // stays untouched.
        if (l.smp != &xmEmptySample)
            l.smp->finetune = static_cast<int8_t>(x);
        break;
    case 0x6:
        if (x == 0) {
            ch.loopRow = m.row;
        } else {
            ch.loopCount = ch.loopCount == 0 ? x : ch.loopCount - 1;
            if (ch.loopCount != 0)
                m.nextRow = ch.loopRow;
        }
        break;
    case 0x7:
        ch.waveControl = static_cast<uint8_t>((ch.waveControl & 0x0F) | x << 4);
        break;
    case 0x8:
        ch.panning = x * 16;
        ch.updateFlags |= XM_UPDATE_PANNING;
        break;
    case 0xA:
        if (x)
            ch.fineVolumeMemory = static_cast<uint8_t>(x);
        ch.volume = raise(ch.volume, ch.fineVolumeMemory);
        ch.updateFlags |= XM_UPDATE_VOLUME;
        break;
    case 0xB:
        if (x)
            ch.fineVolumeMemory = static_cast<uint8_t>(x);
        ch.volume = lower(ch.volume, ch.fineVolumeMemory);
        ch.updateFlags |= XM_UPDATE_VOLUME;
        break;
    case 0xD:
        ch.volume = saved.volume;
        ch.period = saved.period;
        ch.panning = saved.panning;
        ch.updateFlags &= ~NOTE_DELAY_FLAGS;
        break;
    case 0xE:
        m.patternDelay = x * m.speed;
        break;
    default:
        break;
    }
}

void effectRow(XmModule& m, XmChannel& ch, const XmCell& cell, const Lookup& l, const RowStart& saved,
               bool& jumpSeen) {
    int param = cell.param, hi = param >> 4, lo = param & 15;
    switch (cell.effect) {
    case 1:
        if (param)
            ch.portaUpMemory = static_cast<uint8_t>(param);
        break;
    case 2:
        if (param)
            ch.portaDownMemory = static_cast<uint8_t>(param);
        break;
    case 3:
        if (param)
            ch.portaSpeed = static_cast<uint8_t>(param);
        ch.portaTarget = ch.notePeriod;
        ch.updateFlags &= ~(XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
        break;
    case 4:
        if (hi)
            ch.vibSpeed = static_cast<uint8_t>(hi);
        if (lo)
            ch.vibDepth = static_cast<uint8_t>(lo);
        xmVibrato(ch);
        break;
    case 5:
        ch.portaTarget = ch.notePeriod;
        if (param)
            ch.volumeSlideMemory = static_cast<uint8_t>(param);
        ch.updateFlags &= ~(XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
        break;
    case 6:
        if (param)
            ch.volumeSlideMemory = static_cast<uint8_t>(param);
        xmVibrato(ch);
        break;
    case 7:
        if (hi)
            ch.tremSpeed = static_cast<uint8_t>(hi);
        if (lo)
            ch.tremDepth = static_cast<uint8_t>(lo);
        break;
    case 8:
        ch.panning = param;
        ch.updateFlags |= XM_UPDATE_PANNING;
        break;
    case 9: {
        if (param)
            ch.offsetMemory = param;
        uint32_t offset = static_cast<uint32_t>(ch.offsetMemory) * 256;
        if (offset >= l.smp->loopStart + l.smp->loopLength) {
            ch.updateFlags = static_cast<uint8_t>((ch.updateFlags & ~XM_UPDATE_TRIGGER) | XM_UPDATE_RESTART);
        } else {
            ch.voice->startOffset = static_cast<int>(offset);
        }
        break;
    }
    case 10:
        if (param)
            ch.volumeSlideMemory = static_cast<uint8_t>(param);
        break;
    case 11:
        m.nextRow = 0;
        m.nextOrder = param < m.songLength ? param : 0;
        jumpSeen = true;
        break;
    case 12:
        ch.volume = param;
        ch.updateFlags |= XM_UPDATE_VOLUME;
        break;
    case 13:
        m.nextRow = hi * 10 + lo > 63 ? 0 : hi * 10 + lo;
        if (!jumpSeen)
            m.nextOrder = m.orderIndex + 1;
        if (m.nextOrder >= m.songLength)
            m.nextOrder = 0;
        break;
    case 14:
        extendedRow(m, ch, l, param, saved);
        break;
    case 15:
        if (param < 32)
            m.speed = param;
        else
            xmSetBpm(&m, param);
        break;
    case 16:
        m.globalVolume = std::min(param, 64);
        ch.updateFlags |= XM_UPDATE_VOLUME;
        break;
    case 17:
        if (param)
            m.globalSlideMemory = static_cast<uint8_t>(param);
        break;
    case 21:
        xmSetEnvelopePosition(ch, *l.ins, param);
        break;
    case 25:
        if (param) {
            ch.panningSlideMemory = static_cast<uint8_t>(param);
            ch.updateFlags |= XM_UPDATE_PANNING;
        }
        break;
    case 27:
        if (param) {
            ch.retrigType = static_cast<uint8_t>(hi);
            ch.retrigInterval = static_cast<uint8_t>(lo);
        }
        break;
    case 29:
        if (param) {
            ch.tremorOn = static_cast<uint8_t>(hi + 1);
            ch.tremorOff = static_cast<uint8_t>(lo + 1);
        }
        xmTremor(ch);
        break;
    case 33:
        if (hi == 1) {
            if (lo)
                ch.extraFineUpMemory = static_cast<uint8_t>(lo);
            ch.period -= ch.extraFineUpMemory;
        } else if (hi == 2) {
            if (lo)
                ch.extraFineDownMemory = static_cast<uint8_t>(lo);
            ch.period += ch.extraFineDownMemory;
        }
        break;
    default:  // 0 (arpeggio), 20 (key off, taken before the envelopes) and the rest
        break;
    }
}

void extendedOther(const XmModule& m, XmChannel& ch, const XmCell& cell, const Lookup& l) {
    int x = cell.param & 15;
    switch (cell.param >> 4) {
    case 0x9:
        if (x && m.tick % x == 0)
            ch.updateFlags |= XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME | XM_UPDATE_TRIGGER;
        break;
    case 0xC:
        if (m.tick == x) {
            ch.volume = 0;
            ch.updateFlags |= XM_UPDATE_VOLUME;
        }
        break;
    case 0xD:
        if (m.tick != x) {
            ch.updateFlags &= ~NOTE_DELAY_FLAGS;
        } else {
            xmInstrumentReset(ch, *l.smp);
            ch.period = ch.notePeriod;
            ch.updateFlags |= XM_UPDATE_FREQUENCY;
            if (cell.volume)
                volumeColumnRow(ch, cell.volume);
            ch.updateFlags |= XM_UPDATE_TRIGGER;
        }
        break;
    default:
        break;
    }
}

void effectOther(XmModule& m, XmChannel& ch, const XmCell& cell, const Lookup& l) {
    int param = cell.param;
    switch (cell.effect) {
    case 0:
        if (param) {
            int phase = m.tick % 3;
            int semitones = phase == 1 ? param >> 4 : phase == 2 ? param & 15 : 0;
            if (semitones)
                ch.periodDelta = arpeggioOffset(m, ch, *l.smp, semitones);
            ch.updateFlags |= XM_UPDATE_FREQUENCY;
        }
        break;
    case 1:
        ch.period = std::max(ch.period - ch.portaUpMemory * 4, 56);
        ch.updateFlags |= XM_UPDATE_FREQUENCY;
        break;
    case 2:
        ch.period += ch.portaDownMemory * 4;
        ch.updateFlags |= XM_UPDATE_FREQUENCY;
        break;
    case 3:
        xmTonePorta(ch);
        break;
    case 4:
        xmVibrato(ch);
        xmAdvanceVibrato(ch);
        break;
    case 5:
        xmTonePorta(ch);
        volumeSlide(ch);
        break;
    case 6:
        xmVibrato(ch);
        xmAdvanceVibrato(ch);
        volumeSlide(ch);
        break;
    case 7:
        xmTremolo(ch);
        break;
    case 10:
        volumeSlide(ch);
        break;
    case 14:
        extendedOther(m, ch, cell, l);
        break;
    case 17: {
        int hi = m.globalSlideMemory >> 4, lo = m.globalSlideMemory & 15;
        if (hi)
            m.globalVolume = raise(m.globalVolume, hi);
        else if (lo)
            m.globalVolume = lower(m.globalVolume, lo);
        break;
    }
    case 25: {
        int hi = ch.panningSlideMemory >> 4, lo = ch.panningSlideMemory & 15;
        if (hi)
            ch.panning = std::min(ch.panning + hi, 255);
        else if (lo)
            ch.panning = std::max(ch.panning - lo, 0);
        ch.updateFlags |= XM_UPDATE_PANNING;
        break;
    }
    case 27:
        if (ch.retrigInterval && m.tick % ch.retrigInterval == 0) {
            if (ch.retrigType == 0) {
                ch.updateFlags |= XM_UPDATE_TRIGGER;
            } else {
                ch.volume = retriggerVolume(ch.retrigType, ch.volume);
                ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_TRIGGER;
            }
        }
        break;
    case 29:
        xmTremor(ch);
        break;
    default:
        break;
    }
}

void rowTickChannel(XmModule& m, XmChannel& ch, const XmCell& cell, bool& jumpSeen) {
    bool porta = cell.effect == 3 || cell.effect == 5;  // the volume column's glide does not count
    if (cell.instrument && !porta)
        ch.instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
    if (hasNote(cell) && !porta)
        ch.key = static_cast<uint8_t>(cell.note - 1);
    Lookup l = lookup(m, ch);
    RowStart saved{ch.volume, ch.period, ch.panning};
    if (ch.lastEffect == 7 && cell.effect != 7)
        ch.volume += ch.tremoloDelta;  // the last tremolo offset stays
    ch.lastEffect = cell.effect;
    ch.tremoloDelta = 0;
    ch.updateFlags = 0;
    if (hasNote(cell)) {
        ch.realNote = static_cast<uint8_t>(cell.note + l.smp->relativeNote - 1);
        ch.notePeriod = xmNotePeriod(ch.realNote, l.smp->finetune, m.flags & 1);
        if (!porta)
            ch.period = ch.notePeriod;
        ch.updateFlags = XM_UPDATE_TRIGGER;
    }
    ch.periodDelta = 0;
    ch.updateFlags |= XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME;
    if (cell.instrument)
        xmInstrumentReset(ch, *l.smp);
    if (cell.volume)
        volumeColumnRow(ch, cell.volume);
    if (cell.note == XM_NOTE_KEY_OFF || cell.effect == 20)
        ch.keyReleased = 1;
    // Key off cuts a note whose instrument has no volume envelope.
    if (!(l.ins->volumeType & 1) && ch.keyReleased)
        ch.volumeEnvOut = 0;
    stepEnvelopes(ch, *l.ins);
    if (ch.keyReleased)
        fadeout(ch, *l.ins);
    effectRow(m, ch, cell, l, saved, jumpSeen);
    xmAutoVibrato(ch, *l.ins);
    xmVoiceUpdate(ch, l.smp, m);
}

void otherTickChannel(XmModule& m, XmChannel& ch, const XmCell& cell) {
    Lookup l = lookup(m, ch);
    ch.tremoloDelta = ch.periodDelta = 0;
    ch.updateFlags = 0;
    stepEnvelopes(ch, *l.ins);
    if (ch.keyReleased)
        fadeout(ch, *l.ins);
    if (cell.volume)
        volumeColumnOther(ch, cell.volume);
    effectOther(m, ch, cell, l);
    xmAutoVibrato(ch, *l.ins);
    xmVoiceUpdate(ch, l.smp, m);
}

const XmPattern& currentPattern(const XmModule& m) { return m.patterns[m.orders[m.orderIndex]]; }

}  // namespace

void xmTick(XmModule* m) {
    if (m->tick == 0) {
        if (m->nextOrder >= 0)
            m->orderIndex = m->nextOrder;
        if (m->nextRow >= 0)
            m->row = m->nextRow;
        // Breaks and loops may aim past the rows of the pattern they land in.
        const XmPattern& p = currentPattern(*m);
        if (m->row >= p.rows)
            m->row = 0;
        m->nextOrder = m->nextRow = -1;
        bool jumpSeen = false;
        const XmCell* cells = p.cells + m->row * m->channelCount;
        for (int c = 0; c < m->channelCount; c++)
            rowTickChannel(*m, xmChannels[c], cells[c], jumpSeen);
        if (m->nextRow == -1) {
            m->nextRow = m->row + 1;
            if (m->nextRow >= p.rows) {
                m->nextOrder = m->orderIndex + 1 >= m->songLength ? m->restartPosition : m->orderIndex + 1;
                m->nextRow = 0;
            }
        }
    } else {
        const XmCell* cells = currentPattern(*m).cells + m->row * m->channelCount;
        for (int c = 0; c < m->channelCount; c++)
            otherTickChannel(*m, xmChannels[c], cells[c]);
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
