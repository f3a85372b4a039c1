// Loading modules: records, conversions and the limits a module must keep.
#include "songs.h"
#include "values.h"

#include <doctest.h>

#include <cstring>

namespace {

// Header fields at their fixed offsets in the written file.
void patch16(std::vector<uint8_t>& bytes, size_t at, unsigned value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}
constexpr size_t FIRST_PATTERN = 60 + 276;

}  // namespace

// Orders past the stored patterns get empty ones; loops get guard frames.
TEST_CASE("patterns unpack to cells, samples to 16-bit frames with normalised loops") {
  XmSong song = basicSong(3, 4);
  XmSongPattern& p = song.patterns[0];
  p.at(0, 0) = {49, 1, 0x30, 0xC, 0x20};  // all five fields: stored plain
  p.at(0, 2) = {0, 0, 0, 0xF, 3};         // masked
  p.at(1, 1) = {97, 200, 0, 0, 0};        // key off; no such instrument
  p.at(3, 2) = {120, 0, 0, 0, 0};         // beyond key off
  song.patterns.push_back(XmSongPattern{});
  song.patterns[1].rows = 20;  // stored without data
  song.orders = {0, 5, 1};
  song.restart = 3;  // at songLength: wraps to the first order
  XmSongInstrument& ins = song.instruments[0];
  // Both loop bits: ping-pong.
  XmSongSample eight{
      .frames = {1, -1, 127, -128, 5}, .sixteenBit = false, .loopStart = 1, .loopLength = 2, .loopType = 3};
  XmSongSample sixteen = flatSample(500, -7);
  sixteen.frames[0] = 1000;
  sixteen.frames[100] = 1234;
  sixteen.loopStart = 100;
  sixteen.loopLength = 300;
  const std::vector<int16_t> five(10, 5);
  XmSongSample once{.frames = five, .loopStart = 3, .loopLength = 10}, zeroLoop{.frames = five, .loopType = 1};
  XmSongSample beyond{.frames = five, .loopStart = 6, .loopLength = 8, .loopType = 1};  // clamped to the sample end
  ins.samples = {eight, sixteen, once, zeroLoop, beyond};
  ins.fadeout = 0x9000;
  ins.volume.points = {{0, 64}};  // one point: switched off
  ins.volume.type = 1;
  ins.panning.points = {{0, 70}, {3, 10}, {2, 0}};
  ins.panning.pointCount = 13;
  ins.panning.type = 5;
  ins.panning.loopStart = 12;  // past the points: no loop
  song.instruments.push_back(XmSongInstrument{});
  song.instruments[1].keymap.fill(3);
  LoadedSong s(song);
  REQUIRE(s.m);
  // Song length, restart, channels, used and stored patterns, global volume.
  CHECK(Values{s.m->songLength, s.m->restartPosition, s.m->channelCount, s.m->usedPatterns, s.m->patternCount,
               s.m->initialGlobalVolume} == Values{3, 0, 3, 6, 6, 64});
  const XmCell* cell = s.m->patterns[0].cells;
  CHECK(std::memcmp(&cell[0], "\x31\x01\x30\x0C\x20", 5) == 0);
  CHECK(Values{cell[2].effect, cell[2].param, cell[2].note} == Values{0xF, 3, 0});
  CHECK(Values{cell[4].note, cell[4].instrument} == Values{XM_NOTE_KEY_OFF, 0});
  CHECK(cell[11].note == 0);
  CHECK(s.m->patterns[1].rows == 20);
  for (int i = 2; i < 6; i++) {
    CHECK(s.m->patterns[i].rows == 64);
    CHECK(s.m->patterns[i].cells[64 * 3 - 1].note == 0);
  }
  const XmInstrument& i0 = s.m->instruments[0];
  REQUIRE(i0.sampleCount == 5);
  const XmSample& a = *i0.samples[0];
  CHECK(Values{a.bits, a.length, a.loopType, a.loopStart, a.loopLength} == Values{16, 5, 4, 1, 2});
  CHECK(Values{a.data[0], a.data[1], a.data[2], a.data[4]} == Values{256, -256, 127 * 256, 5 * 256});
  CHECK(a.data[3] == a.data[2]);  // ping-pong guard repeats the frame before the loop end
  const XmSample& b = *i0.samples[1];
  CHECK(Values{b.length, b.loopStart, b.loopLength, b.loopType} == Values{500, 100, 300, 2});
  CHECK(Values{b.data[0], b.data[1], b.data[400]} == Values{1000, -7, 1234});  // forward guard: the loop start
  const XmSample& c = *i0.samples[2];
  CHECK(Values{c.loopType, c.loopStart, c.loopLength, c.data[10]} == Values{1, 0, 10, 0});
  CHECK(Values{i0.samples[3]->loopType, i0.samples[3]->loopLength} == Values{1, 10});
  CHECK(Values{i0.samples[4]->loopStart, i0.samples[4]->loopLength} == Values{6, 4});
  CHECK(i0.samples[5] == &xmEmptySample);
  CHECK(i0.fadeout == 0x2000);  // doubled in 16 bits
  CHECK(i0.volumeType == 0);
  CHECK(Values{i0.panningPointCount, i0.panningType} == Values{12, 1});
  CHECK(i0.panningEnvelope[0].y == 64);  // values beyond 64 are taken as 64
  CHECK(i0.panningEnvelope[2].x == 3);   // points keep their tick order
  const XmInstrument& i1 = s.m->instruments[1];
  CHECK(i1.sampleCount == 0);
  CHECK(i1.keymap[0] == 0);
  for (XmSample* slot : i1.samples) CHECK(slot == &xmEmptySample);
}

TEST_CASE("modules beyond the limits are refused") {
  std::vector<uint8_t> good = writeXm(basicSong(2, 8));
  struct Case {
    const char* what;
    size_t at;
    unsigned value;
  };
  const Case cases[] = {
      {"bad magic", 0, 'e' | 'x' << 8},
      {"song length 0", 64, 0},
      {"song length 257", 64, 257},
      {"no channels", 68, 0},
      {"33 channels", 68, 33},
      {"257 patterns", 70, 257},
      {"129 instruments", 72, 129},
      {"BPM 0", 78, 0},
      {"pattern of 0 rows", FIRST_PATTERN + 5, 0},
      {"pattern of 257 rows", FIRST_PATTERN + 5, 257},
  };
  for (const Case& c : cases) {
    CAPTURE(c.what);
    std::vector<uint8_t> bad = good;
    patch16(bad, c.at, c.value);
    XmModule* m = loadXmFromMemory(bad);
    CHECK(m == nullptr);
    xmFree(m);
  }
  XmSong many = basicSong(2, 8);
  many.instruments[0].samples.resize(17);
  CHECK(loadXmFromMemory(writeXm(many)) == nullptr);
}

// As when the reader's own memory runs out.
TEST_CASE("a data source that cannot open loads nothing") {
  xmSetIo([](const char*) -> void* { return nullptr; }, xmMemoryClose, xmMemoryRead, xmMemorySeek, xmMemoryTell);
  CHECK(xmLoad("tune") == nullptr);
}

TEST_CASE("a module cut at any length loads or is refused, and what loads plays") {
  std::vector<uint8_t> bytes = writeXm(seedSongs()[0]);
  static float out[XM_CHUNK_FRAMES * 2];
  int loaded = 0;
  for (size_t size = 0; size <= bytes.size(); size++) {
    XmModule* m = loadXmFromMemory(bytes.data(), size);
    if (!m) continue;
    loaded++;
    xmResetPlayback(m);
    xmRenderFrames(m, out, XM_CHUNK_FRAMES);
    xmFree(m);
  }
  // Only the whole file holds every sample byte.
  CHECK(loaded == 1);
}
