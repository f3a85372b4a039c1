// Channel operations: periods and the voice update.
#include "songs.h"

#include <doctest.h>

namespace {

XmModule tableModule(bool linear) {
  XmModule m{};
  m.flags = linear ? 1 : 0;
  m.globalVolume = m.initialGlobalVolume = 64;
  return m;
}

int frequencyOfPeriod(bool linear, int period, int delta = 0) {
  XmModule m = tableModule(linear);
  XmVoice v{};
  XmChannel ch{.updateFlags = XM_UPDATE_FREQUENCY, .voice = &v, .period = period, .periodDelta = delta};
  xmVoiceUpdate(ch, &xmEmptySample, m);
  return static_cast<int>((static_cast<uint64_t>(v.stepWhole) * 44100) +
                          ((static_cast<uint64_t>(v.stepFraction) * 44100 + (1ull << 31)) >> 32));
}

}  // namespace

// The notes' own pitches: mixer_tests.cpp measures them from the output.
TEST_CASE("finetune moves towards the neighbouring note, never past it; a delta moves the pitch the table's way") {
  for (bool linear : {true, false}) {
    CAPTURE(linear);
    const int c4 = xmNotePeriod(48, 0, linear), up = xmNotePeriod(48, 127, linear),
              down = xmNotePeriod(48, -128, linear);
    CHECK(up < c4);
    CHECK(up > xmNotePeriod(49, 0, linear));
    CHECK(down > c4);
    CHECK(down <= xmNotePeriod(47, 0, linear));
  }
  // A positive delta raises a linear pitch and lowers an Amiga one.
  CHECK(frequencyOfPeriod(true, 4608, 768) == 2 * 8363);
  CHECK(frequencyOfPeriod(false, 1712, 1712) == 8362 / 2);
  CHECK(frequencyOfPeriod(true, 20000) == 100);  // raised to the floor
}

// The envelope's weight shrinks towards the sides and is 0 there.
TEST_CASE("the panning envelope moves a voice less the nearer it is to a side") {
  const XmModule m = tableModule(true);
  XmVoice v{};
  struct Case {
    int panning, envelope, expected;
  };
  for (Case c :
       {Case{0, 64, 0}, Case{255, 0, 255}, Case{128, 64, 255}, Case{128, 0, 0}, Case{64, 0, 0}, Case{64, 40, 80}}) {
    CAPTURE(c.panning);
    XmChannel ch{.updateFlags = XM_UPDATE_PANNING, .voice = &v, .panning = c.panning, .panningEnvOut = c.envelope};
    xmVoiceUpdate(ch, &xmEmptySample, m);
    CHECK(v.panning == c.expected);
  }
}
