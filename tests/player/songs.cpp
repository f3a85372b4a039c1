#include "songs.h"

#include <cmath>
#include <numbers>

XmSongSample sineSample(int frames, int cycles, bool sixteenBit) {
  XmSongSample s;
  s.sixteenBit = sixteenBit;
  double amplitude = sixteenBit ? 32000 : 120;
  for (int i = 0; i < frames; i++)
    s.frames.push_back(
        static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * cycles * i / frames))));
  s.loopType = 1;
  s.loopLength = static_cast<uint32_t>(frames);
  return s;
}

XmSongSample flatSample(int frames, int16_t value) {
  XmSongSample s;
  s.frames.assign(static_cast<size_t>(frames), value);
  s.loopType = 1;
  s.loopLength = static_cast<uint32_t>(frames);
  return s;
}

XmSongInstrument instrumentWith(const XmSongSample& sample) {
  XmSongInstrument ins;
  ins.samples.push_back(sample);
  return ins;
}

XmSong basicSong(int channels, int rows, const XmSongSample& sample) {
  XmSong song;
  song.channels = channels;
  song.orders = {0};
  song.patterns.push_back(makeXmPattern(rows, channels));
  song.instruments.push_back(instrumentWith(sample));
  return song;
}

LoadedSong::LoadedSong(const XmSong& song) : m(loadXmFromMemory(writeXm(song))) {
  if (m) xmResetPlayback(m);
}

std::vector<XmSong> seedSongs() {
  std::vector<XmSong> songs;
  // Every effect number with a few parameters, over two channels.
  XmSong effects = basicSong(2, 64);
  effects.instruments[0].volume = {{{0, 64}, {8, 40}, {16, 48}, {32, 0}}, -1, 1, 1, 2, 7};
  effects.instruments[0].panning = {{{0, 32}, {16, 0}, {32, 64}}, -1, 0, 0, 0, 1};
  effects.instruments[0].vibratoDepth = 8;
  effects.instruments[0].vibratoRate = 20;
  effects.instruments[0].vibratoSweep = 4;
  effects.instruments[0].fadeout = 800;
  effects.instruments.push_back(
      instrumentWith({.frames = std::vector<int16_t>(100, 9000), .loopStart = 20, .loopLength = 30, .loopType = 2}));
  const uint8_t params[4] = {0x00, 0x37, 0xF1, 0x42};
  for (int row = 0; row < 64; row++) {
    XmSongCell& a = effects.patterns[0].at(row, 0);
    a = {static_cast<uint8_t>(row % 8 == 0 ? 49 + row % 24 : 0), static_cast<uint8_t>(row % 16 == 0 ? 1 : 0), 0,
         static_cast<uint8_t>(row % 34), params[row % 4]};
    XmSongCell& b = effects.patterns[0].at(row, 1);
    b = {static_cast<uint8_t>(row % 4 == 0   ? 37 + row % 12
                              : row % 9 == 8 ? 97
                                             : 0),
         2, static_cast<uint8_t>(0x10 + row * 4), 14, static_cast<uint8_t>(row * 16 / 4 + row % 16)};
  }
  effects.patterns[0].at(63, 0) = {0, 0, 0, 11, 0};  // loop the song with B00
  songs.push_back(effects);

  XmSong amiga = effects;
  amiga.linear = false;
  amiga.tempo = 3;
  amiga.bpm = 187;
  songs.push_back(amiga);

  // Two orders, an empty stored pattern and an order past the stored ones.
  XmSong orders = basicSong(4, 16);
  orders.orders = {0, 1, 2, 0};
  orders.restart = 1;
  orders.patterns.push_back(XmSongPattern{});
  orders.patterns[0].at(0, 0) = {49, 1, 0x40, 0, 0};
  orders.patterns[0].at(4, 3) = {61, 1, 0, 0xE, 0x60};
  orders.patterns[0].at(8, 3) = {0, 0, 0, 0xE, 0x62};
  orders.instruments[0].samples[0] = sineSample(256, 4, false);
  songs.push_back(orders);
  return songs;
}
