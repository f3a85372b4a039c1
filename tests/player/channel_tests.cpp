// Channel operations: periods, the voice update and envelopes.
#include "songs.h"
#include "values.h"

#include <doctest.h>

namespace {

XmModule tableModule(bool linear) {
  XmModule m{};
  m.flags = linear ? 1 : 0;
  m.globalVolume = m.initialGlobalVolume = 64;
  return m;
}

int voiceFrequency(const XmVoice& v) {
  return static_cast<int>((static_cast<uint64_t>(v.stepWhole) * 44100) +
                          ((static_cast<uint64_t>(v.stepFraction) * 44100 + (1ull << 31)) >> 32));
}

int frequencyOfPeriod(bool linear, int period, int delta = 0) {
  XmModule m = tableModule(linear);
  XmVoice v{};
  XmChannel ch{.updateFlags = XM_UPDATE_FREQUENCY, .voice = &v, .period = period, .periodDelta = delta};
  xmVoiceUpdate(ch, &xmEmptySample, m);
  return voiceFrequency(v);
}

}  // namespace

TEST_CASE("note periods and frequencies of both tables") {
  CHECK(xmNotePeriod(48, 0, true) == 4608);
  CHECK(frequencyOfPeriod(true, 4608) == 8363);
  CHECK(xmNotePeriod(48, 0, false) == 1712);
  CHECK(frequencyOfPeriod(false, 1712) == 8362);
  // An octave is 768 linear units and half the Amiga period.
  CHECK(xmNotePeriod(60, 0, true) == 4608 - 768);
  CHECK(xmNotePeriod(60, 0, false) == 856);
  // Finetune moves towards the neighbouring note, never past it.
  CHECK(xmNotePeriod(48, -128, true) == xmNotePeriod(47, 0, true));
  int up = xmNotePeriod(48, 127, false);
  CHECK(up < 1712);
  CHECK(up > xmNotePeriod(49, 0, false));
  int down = xmNotePeriod(48, -128, false);
  CHECK(down > 1712);
  CHECK(down <= xmNotePeriod(47, 0, false));
  // A positive delta raises a linear pitch and lowers an Amiga one.
  CHECK(frequencyOfPeriod(true, 4608, 768) == 2 * 8363);
  CHECK(frequencyOfPeriod(false, 1712, 1712) == 8362 / 2);
  CHECK(frequencyOfPeriod(true, 20000) == 100);     // raised to the floor
  CHECK(frequencyOfPeriod(false, 100, -100) == 0);  // a zero period leaves the voice's step alone
}

TEST_CASE("voice volume and gains from channel volume, envelopes and panning") {
  XmModule m = tableModule(true);
  XmVoice v{};
  XmChannel ch{.updateFlags = XM_UPDATE_VOLUME | XM_UPDATE_PANNING,
               .voice = &v,
               .volume = 64,
               .panning = 128,
               .volumeEnvOut = 64,
               .panningEnvOut = 32,
               .fadeoutVolume = 65536};
  xmVoiceUpdate(ch, &xmEmptySample, m);
  CHECK(v.volume == 127);
  CHECK(Values{v.gainLeft, v.gainRight} == Values{63, 63});

  struct Case {
    int panning, envelope, expected;
  };
  // The envelope's weight shrinks towards the sides and is 0 there.
  for (Case c :
       {Case{0, 64, 0}, Case{255, 0, 255}, Case{128, 64, 255}, Case{128, 0, 0}, Case{64, 0, 0}, Case{64, 40, 80}}) {
    CAPTURE(c.panning);
    ch.panning = c.panning;
    ch.panningEnvOut = c.envelope;
    ch.updateFlags = XM_UPDATE_PANNING;
    xmVoiceUpdate(ch, &xmEmptySample, m);
    CHECK(v.panning == c.expected);
  }
}

TEST_CASE("volume envelope: sustain holds until key off, a loop jumps back first") {
  XmInstrument ins{};
  ins.volumeEnvelope[0] = {0, 64};
  ins.volumeEnvelope[1] = {10, 32};
  ins.volumeEnvelope[2] = {20, 0};
  ins.volumePointCount = 3;
  ins.volumeSustain = 1;
  ins.volumeType = 3;
  XmChannel ch{};
  int out[30];
  for (int t = 0; t < 30; t++) {
    if (t == 15) ch.keyReleased = 1;
    xmEnvelopeStep(ch, ins, XmEnvelope::Volume);
    out[t] = ch.volumeEnvOut;
  }
  CHECK(out[0] == 64);
  CHECK(out[5] == 48);
  CHECK(Values{out[10], out[14]} == Values{32, 32});  // held at the sustain point
  CHECK(out[20] == 16);                               // released at tick 15, half way down at 20
  CHECK(Values{out[25], ch.volumeEnvDone} == Values{0, 1});

  ins.volumeType = 7;  // sustain and loop
  ins.volumeLoopStart = 0;
  ins.volumeLoopEnd = 1;
  XmChannel looped{};
  for (int t = 0; t <= 10; t++) xmEnvelopeStep(looped, ins, XmEnvelope::Volume);
  CHECK(looped.volumeEnvOut == 64);  // back at point 0 before the sustain test
  CHECK(looped.volumeEnvTick == 1);
}
