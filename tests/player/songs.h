// Modules the player tests and the fuzz seeds are built from.
#pragma once

#include "xm_engine.h"
#include "xm_writer.h"

// A looping sine of the given number of cycles over frames.
XmSongSample sineSample(int frames, int cycles, bool sixteenBit = true);
// A sample holding one value (a flat line), looping forward.
XmSongSample flatSample(int frames, int16_t value);
// An instrument whose every note plays its one sample.
XmSongInstrument instrumentWith(const XmSongSample& sample);
// One pattern of rows in the first order, one instrument that plays the
// sample (a sine by default).
XmSong basicSong(int channels, int rows, const XmSongSample& sample = sineSample(64, 1));
// Valid modules that between them use every effect and volume-column command.
std::vector<XmSong> seedSongs();

// Owns a module loaded from a written song and starts it from its first tick.
struct LoadedSong {
  XmModule* m;
  explicit LoadedSong(const XmSong& song);
  ~LoadedSong() { xmFree(m); }
  LoadedSong(const LoadedSong&) = delete;
  LoadedSong& operator=(const LoadedSong&) = delete;
  void ticks(int n) {
    for (int i = 0; i < n; i++) xmTick(m);
  }
};
