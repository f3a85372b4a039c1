// The replayer tick by tick: each effect and volume-column command with the
// value it leaves on every tick, then order and row sequencing.
#include "songs.h"
#include "values.h"

#include <doctest.h>

#include <utility>
#include <vector>

namespace {

constexpr uint8_t C4 = 49, C5 = 61, KEY_OFF = 97;
constexpr uint8_t G = 16, H = 17, K = 20, L = 21, P = 25, R = 27, T = 29, X = 33;

using Field = int (*)(const XmModule&, const XmChannel&);
int period(const XmModule&, const XmChannel& c) { return c.period; }
int periodDelta(const XmModule&, const XmChannel& c) { return c.periodDelta; }
int notePeriod(const XmModule&, const XmChannel& c) { return c.notePeriod; }
int volume(const XmModule&, const XmChannel& c) { return c.volume; }
int tremoloDelta(const XmModule&, const XmChannel& c) { return c.tremoloDelta; }
int voiceVolume(const XmModule&, const XmChannel& c) { return c.voice->volume; }
int voiceIndex(const XmModule&, const XmChannel& c) { return c.voice->index; }
int panning(const XmModule&, const XmChannel& c) { return c.panning; }
int globalVolume(const XmModule& m, const XmChannel&) { return m.globalVolume; }
int sounding(const XmModule&, const XmChannel& c) { return c.voice->sample != nullptr; }

// Channel 0 of a one-instrument song at speed 6 plays the rows; a C-4 of the
// instrument has linear period 4608, volume 64 and panning 128.
struct EffectCase {
  const char* name;
  std::vector<XmSongCell> rows;
  Field field;
  Values perTick;  // the field after each tick from the first
  bool amiga = false;
};

void checkPerTick(const std::vector<EffectCase>& cases) {
  for (const EffectCase& c : cases) {
    XmSong song = basicSong(1, 8);
    song.linear = !c.amiga;
    for (size_t r = 0; r < c.rows.size(); r++) song.patterns[0].at(static_cast<int>(r), 0) = c.rows[r];
    LoadedSong s(song);
    Values seen;
    for (size_t t = 0; t < c.perTick.size(); t++) {
      s.ticks(1);
      seen.push_back(c.field(*s.m, xmChannels[0]));
    }
    CAPTURE(c.name);
    CHECK(seen == c.perTick);
  }
}

XmSong sequenceSong(std::vector<int> rows, int channels = 2) {
  XmSong song = basicSong(channels, rows[0]);
  song.tempo = 1;
  song.orders.clear();
  song.patterns.clear();
  for (size_t i = 0; i < rows.size(); i++) {
    song.orders.push_back(static_cast<uint8_t>(i));
    song.patterns.push_back(makeXmPattern(rows[i], channels));
  }
  return song;
}

// (order, row) of each of the next n rows, one tick per row.
using Positions = std::vector<std::pair<int, int>>;
Positions positions(LoadedSong& s, int n) {
  Positions seen;
  for (int i = 0; i < n; i++) {
    s.ticks(1);
    seen.emplace_back(s.m->orderIndex, s.m->row);
  }
  return seen;
}

}  // namespace

TEST_CASE("each effect's value on every tick") {
  checkPerTick({
      // Pitch
      {"1xx slides up on the ticks after the row",
       {{C4, 1, 0, 0x1, 0x02}},
       period,
       {4608, 4600, 4592, 4584, 4576, 4568}},
      {"2xx slides down", {{C4, 1, 0, 0x2, 0x02}}, period, {4608, 4616, 4624, 4632, 4640, 4648}},
      {"100 reuses the last slide",
       {{C4, 1, 0, 0x1, 0x01}, {0, 0, 0, 0x1, 0}},
       period,
       {4608, 4604, 4600, 4596, 4592, 4588, 4588, 4584}},
      {"E1x slides once, on the row", {{C4, 1, 0, 0xE, 0x13}}, period, {4596, 4596, 4596}},
      {"E2x", {{C4, 1, 0, 0xE, 0x23}}, period, {4620, 4620, 4620}},
      {"X1x in quarter steps", {{C4, 1, 0, X, 0x13}}, period, {4605, 4605}},
      {"X2x", {{C4, 1, 0, X, 0x23}}, period, {4611, 4611}},
      {"3xx glides to the row's note",
       {{C4, 1, 0, 0, 0}, {C5, 1, 0, 0x3, 0x10}},
       period,
       {4608, 4608, 4608, 4608, 4608, 4608, 4608, 4544, 4480, 4416, 4352, 4288}},
      {"Fx in the volume column takes the note's pitch at once",
       {{C5, 1, 0, 0, 0}, {C4, 0, 0xF1, 0, 0}},
       period,
       {3840, 3840, 3840, 3840, 3840, 3840, 4608, 4608}},
      {"0xy adds x, then y semitones", {{C4, 1, 0, 0x0, 0x47}}, periodDelta, {0, 256, 448, 0, 256, 448}},
      {"0xy on the Amiga table", {{C4, 1, 0, 0x0, 0x47}}, periodDelta, {0, -354, -570, 0, -354, -570}, true},
      // A sine over 64 positions whose peak is 255, not 256.
      {"4xy", {{C4, 1, 0, 0x4, 0x8F}}, periodDelta, {0, 0, -84, -116, -84, 0}},
      {"Bx in the volume column, speed from Ax",
       {{C4, 1, 0xA8, 0, 0}, {0, 0, 0xBF, 0, 0}},
       periodDelta,
       {0, 0, 0, 0, 0, 0, 0, 0, -84, -116, -84, 0}},
      {"E42 squares the vibrato",
       {{C4, 1, 0, 0xE, 0x42}, {0, 0, 0, 0x4, 0x8F}},
       periodDelta,
       {0, 0, 0, 0, 0, 0, -116, -116, -116, -116, -116, 116}},
      {"E5x sets the finetune of later notes",
       {{C4, 1, 0, 0xE, 0x57}, {C4, 1, 0, 0, 0}},
       notePeriod,
       {4608, 4608, 4608, 4608, 4608, 4608, 4605}},
      // Volume
      {"Axy slides down by y", {{C4, 1, 0, 0xA, 0x03}}, volume, {64, 61, 58, 55, 52, 49}},
      {"Axy slides up by x from the volume column's 16", {{C4, 1, 0x20, 0xA, 0x20}}, volume, {16, 18, 20, 22, 24, 26}},
      {"Cxx above 64 is kept, and louder", {{C4, 1, 0, 0xC, 80}}, voiceVolume, {159, 159}},
      {"a slide up from above 64 clamps to 64",
       {{C4, 1, 0, 0xC, 80}, {0, 0, 0, 0xA, 0x10}},
       volume,
       {80, 80, 80, 80, 80, 80, 80, 64}},
      {"a slide down from above 64 subtracts",
       {{C4, 1, 0, 0xC, 80}, {0, 0, 0, 0xA, 0x01}},
       volume,
       {80, 80, 80, 80, 80, 80, 80, 79}},
      {"EAx once on the row", {{C4, 1, 0x30, 0xE, 0xA4}}, volume, {36, 36, 36}},
      {"EBx", {{C4, 1, 0x30, 0xE, 0xB4}}, volume, {28, 28, 28}},
      {"6x slides on every tick",
       {{C4, 1, 0, 0, 0}, {0, 0, 0x62, 0, 0}},
       volume,
       {64, 64, 64, 64, 64, 64, 62, 60, 58, 56, 54, 52}},
      {"7x", {{C4, 1, 0x30, 0, 0}, {0, 0, 0x72, 0, 0}}, volume, {32, 32, 32, 32, 32, 32, 34, 36, 38}},
      {"8x on the row tick only", {{C4, 1, 0, 0, 0}, {0, 0, 0x82, 0, 0}}, volume, {64, 64, 64, 64, 64, 64, 62, 62}},
      {"9x", {{C4, 1, 0x30, 0, 0}, {0, 0, 0x92, 0, 0}}, volume, {32, 32, 32, 32, 32, 32, 34, 34}},
      {"ECx cuts at tick x", {{C4, 1, 0, 0xE, 0xC2}}, volume, {64, 64, 0, 0, 0, 0}},
      {"Rxy retriggers every y ticks, changing the volume by x",
       {{C4, 1, 0x30, R, 0x92}},
       volume,
       {32, 32, 33, 33, 34, 34}},
      {"R6y takes two thirds", {{C4, 1, 0, R, 0x63}}, volume, {64, 64, 64, 42, 42, 42}},
      {"7xy", {{C4, 1, 0x30, 0x7, 0x84}}, tremoloDelta, {0, 0, 11, 15, 11, 0}},
      {"Txy sounds x+1 ticks, then is silent y+1", {{C4, 1, 0, T, 0x12}}, tremoloDelta, {0, 0, -64, -64, -64, 0}},
      {"Gxx, at most 64", {{C4, 1, 0, G, 0x50}}, globalVolume, {64, 64}},
      {"Hxy", {{C4, 1, 0, G, 0x20}, {0, 0, 0, H, 0x02}}, globalVolume, {32, 32, 32, 32, 32, 32, 32, 30, 28}},
      // Panning
      {"8xx", {{C4, 1, 0, 0x8, 0x40}}, panning, {64, 64}},
      {"E8x in sixteenths", {{C4, 1, 0, 0xE, 0x84}}, panning, {64, 64}},
      {"Cx in the volume column", {{C4, 1, 0xC4, 0, 0}}, panning, {64, 64}},
      {"Pxy slides right by x", {{C4, 1, 0, P, 0x20}}, panning, {128, 130, 132, 134}},
      {"Pxy slides left by y", {{C4, 1, 0, P, 0x03}}, panning, {128, 125, 122, 119}},
      {"Dx and Ex in the volume column slide every tick",
       {{C4, 1, 0xD2, 0, 0}, {0, 0, 0xE3, 0, 0}},
       panning,
       {126, 124, 122, 120, 118, 116, 119, 122}},
      // A trigger hands the sounding note to the partner voice.
      {"E9x retriggers every x ticks", {{C4, 1, 0, 0xE, 0x92}}, voiceIndex, {0, 0, 32, 32, 0, 0}},
      {"R0y retriggers without a volume change", {{C4, 1, 0, R, 0x03}}, voiceIndex, {0, 0, 0, 32, 32, 32}},
      // A delayed note sounds at tick x only, never for x = 0 or x >= speed;
      // the row tick's volume byte waits with it.
      {"ED0", {{C4, 1, 0, 0xE, 0xD0}}, sounding, {0, 0, 0, 0, 0, 0}},
      {"ED6", {{C4, 1, 0, 0xE, 0xD6}}, sounding, {0, 0, 0, 0, 0, 0, 0}},
      {"ED3", {{C4, 1, 0x30, 0xE, 0xD3}}, sounding, {0, 0, 0, 1, 1, 1}},
      {"ED3's volume", {{C4, 1, 0x30, 0xE, 0xD3}}, volume, {0, 0, 0, 32, 32, 32}},
  });
}

TEST_CASE("key off cuts a note without volume envelope, releases one with it; Lxx moves the envelope; loops") {
  XmSong song = basicSong(4, 8);
  XmSongInstrument enveloped = instrumentWith(flatSample(64, 1000));
  enveloped.volume = {{{0, 64}, {4, 64}, {12, 0}}, -1, 1, 0, 0, 3};
  enveloped.fadeout = 1000;
  song.instruments.push_back(enveloped);
  enveloped.volume = {{{0, 64}, {4, 64}, {12, 0}}, -1, 2, 1, 2, 7};  // loops from point 2, its sustain point
  song.instruments.push_back(enveloped);
  song.patterns[0].at(0, 0) = {C4, 1, 0, 0, 0};
  song.patterns[0].at(0, 1) = {C4, 2, 0, 0, 0};
  song.patterns[0].at(0, 2) = {C4, 2, 0, 0, 0};
  song.patterns[0].at(0, 3) = {C4, 3, 0, 0, 0};
  song.patterns[0].at(1, 0) = {KEY_OFF, 0, 0, 0, 0};
  song.patterns[0].at(1, 1) = {0, 0, 0, K, 0};
  song.patterns[0].at(1, 2) = {0, 0, 0, L, 8};  // half way down from the sustain point
  LoadedSong s(song);
  s.ticks(6);
  CHECK(xmChannels[0].voice->volume == 127);
  CHECK(Values{xmChannels[1].volumeEnvOut, xmChannels[1].volumeEnvTick} == Values{64, 4});  // held
  s.ticks(1);
  CHECK(Values{xmChannels[0].voice->volume, xmChannels[1].fadeoutVolume, xmChannels[2].volumeEnvOut} ==
        Values{0, 65536 - 2000, 32});
  s.ticks(1);
  CHECK(xmChannels[2].volumeEnvOut == 24);
  CHECK(xmChannels[2].voice->volume == 47);  // the envelope at 24 of 64: the voice at 47 of 127
  s.ticks(4);
  CHECK(Values{xmChannels[1].fadeoutVolume, xmChannels[1].volumeEnvOut} == Values{65536 - 6 * 2000, 24});
  s.ticks(2);
  CHECK(xmChannels[3].volumeEnvOut == 56);  // the loop is taken before the sustain point holds
}

// Channels 0 and 1 take sample offsets; channel 2 glides, channel 3 plays a
// note without ever having had an instrument number.
TEST_CASE(
    "9xx past the loop end restarts the playing voice; tone portamento keeps it; a note without instrument is silent") {
  XmSong song = basicSong(4, 8);
  song.instruments.push_back(instrumentWith(flatSample(1000, 1000)));
  song.patterns[0].at(0, 0) = {C4, 1, 0, 0, 0};
  song.patterns[0].at(1, 0) = {C5, 1, 0, 9, 1};  // 256 frames into a 64-frame sample
  song.patterns[0].at(1, 1) = {C4, 2, 0, 9, 2};
  song.patterns[0].at(0, 2) = {C4, 1, 0, 0, 0};
  song.patterns[0].at(0, 3) = {C4, 0, 0, 0, 0};
  song.patterns[0].at(1, 2) = {C5, 1, 0, 3, 0x10};
  song.patterns[0].at(2, 2) = {C4, 0, 0xF0, 0, 0};  // the volume column's glide
  LoadedSong s(song);
  s.ticks(6);
  CHECK(xmChannels[3].voice->sample != nullptr);
  CHECK(xmChannels[3].voice->volume == 0);
  xmVoices[0].position = 30;
  xmVoices[2].position = 20;
  s.ticks(1);
  CHECK(xmChannels[0].voice == &xmVoices[0]);
  CHECK(xmVoices[32].sample == nullptr);
  CHECK(Values{xmVoices[0].position, xmChannels[1].voice->position} == Values{0, 512});
  s.ticks(6);
  CHECK(xmChannels[2].voice == &xmVoices[2]);
  CHECK(xmVoices[2].position == 20);
}

TEST_CASE("position jump and pattern break on one row, in both channel orders") {
  const XmSongCell breakTo5{0, 0, 0, 0xD, 0x05}, jumpTo2{0, 0, 0, 0xB, 2};
  for (bool breakFirst : {true, false}) {
    XmSong song = sequenceSong({8, 8, 8});
    song.patterns[0].at(0, 0) = breakFirst ? breakTo5 : jumpTo2;
    song.patterns[0].at(0, 1) = breakFirst ? jumpTo2 : breakTo5;
    LoadedSong s(song);
    s.ticks(2);
    CAPTURE(breakFirst);
    CHECK(Values{s.m->orderIndex, s.m->row} == Values{2, breakFirst ? 0 : 5});
  }
}

TEST_CASE("breaks past row 63, the last order and the song's end") {
  XmSong song = sequenceSong({4, 70, 16});
  song.restart = 1;
  song.patterns[0].at(1, 0) = {0, 0, 0, 0xD, 0x64};  // row 64, above 63: row 0
  song.patterns[1].at(0, 1) = {0, 0, 0, 0xD, 0x12};  // decimal digits: row 12
  LoadedSong s(song);
  CHECK(positions(s, 9) == Positions{{0, 0}, {0, 1}, {1, 0}, {2, 12}, {2, 13}, {2, 14}, {2, 15}, {1, 0}, {2, 12}});

  XmSong last = sequenceSong({2, 2});
  last.restart = 1;
  last.patterns[1].at(0, 0) = {0, 0, 0, 0xD, 0};  // a break in the last order goes to order 0
  LoadedSong t(last);
  CHECK(positions(t, 4) == Positions{{0, 0}, {0, 1}, {1, 0}, {0, 0}});
}

TEST_CASE("pattern loop repeats its rows, with a target past the rows of another pattern") {
  XmSong song = sequenceSong({8, 4});
  song.patterns[0].at(6, 0) = {0, 0, 0, 0xE, 0x60};
  song.patterns[0].at(7, 0) = {0, 0, 0, 0xE, 0x61};
  song.patterns[1].at(0, 0) = {0, 0, 0, 0xE, 0x61};  // loops to row 6 of a 4-row pattern
  LoadedSong s(song);
  positions(s, 6);
  CHECK(positions(s, 5) == Positions{{0, 6}, {0, 7}, {0, 6}, {0, 7}, {1, 0}});
  CHECK(positions(s, 2) == Positions{{1, 0}, {1, 1}});
}

TEST_CASE("speed and tempo: F00, F20 and above, EEx") {
  XmSong song = basicSong(2, 8);
  song.bpm = 187;
  song.patterns[0].at(0, 0) = {0, 0, 0, 0xF, 0};    // every tick a row tick
  song.patterns[0].at(0, 1) = {0, 0, 0, 0xF, 125};  // the tick length changes at once
  LoadedSong s(song);
  CHECK(s.m->tickFrames == 589);
  s.ticks(1);
  CHECK(s.m->tickFrames == 882);
  s.ticks(2);
  CHECK(s.m->row == 2);

  XmSong delayed = basicSong(2, 8);
  delayed.patterns[0].at(0, 0) = {C4, 1, 0, 0xE, 0xE2};  // 18 ticks at speed 6
  delayed.patterns[0].at(0, 1) = {C4, 1, 0, 0xE, 0xCF};  // and tick 15 still acts
  LoadedSong d(delayed);
  d.ticks(15);
  CHECK(xmChannels[1].volume == 64);
  d.ticks(1);
  CHECK(xmChannels[1].volume == 0);
  d.ticks(2);
  CHECK(d.m->row == 0);
  d.ticks(1);
  CHECK(d.m->row == 1);
}
