// Writes complete, standard XM modules from plain records, and reads written
// modules back through the player's data source without touching disk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct XmModule;

struct XmSongCell {
  uint8_t note;  // 1..96, 97 = key off, as stored in the file
  uint8_t instrument;
  uint8_t volume;
  uint8_t effect;
  uint8_t param;
};

struct XmSongPattern {
  int rows = 64;
  int channels = 0;
  std::vector<XmSongCell> cells;  // rows x channels, row-major; empty = stored without data

  XmSongCell& at(int row, int channel) { return cells[static_cast<size_t>(row) * channels + channel]; }
};

XmSongPattern makeXmPattern(int rows, int channels);

struct XmSongEnvelope {
  struct Point {
    uint16_t x, y;
  };
  std::vector<Point> points;  // at most 12 are stored
  int pointCount = -1;        // stored count; -1 = points.size()
  uint8_t sustain = 0, loopStart = 0, loopEnd = 0;
  uint8_t type = 0;  // bit 0 on, bit 1 sustain, bit 2 loop
};

struct XmSongSample {
  std::vector<int16_t> frames;  // 8-bit samples hold values -128..127
  bool sixteenBit = true;
  uint32_t loopStart = 0, loopLength = 0;  // frames
  uint8_t loopType = 0;                    // type-byte bits: 0 none, 1 forward, 2 ping-pong
  uint8_t volume = 64;
  int8_t finetune = 0;
  uint8_t panning = 128;
  int8_t relativeNote = 0;
  std::string name;
};

struct XmSongInstrument {
  std::string name;
  std::vector<XmSongSample> samples;
  std::array<uint8_t, 96> keymap{};
  XmSongEnvelope volume, panning;
  uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  uint16_t fadeout = 0;  // as stored: the player doubles it
};

struct XmSong {
  std::string name;
  int channels = 4;
  bool linear = true;
  uint16_t tempo = 6;
  uint16_t bpm = 125;
  uint16_t restart = 0;
  std::vector<uint8_t> orders;
  std::vector<XmSongPattern> patterns;
  std::vector<XmSongInstrument> instruments;
};

std::vector<uint8_t> writeXm(const XmSong& song);

// A data source over bytes in memory, with the semantics of the program's
// resource reader (reads stop at the end, seeks are limited to the size).
struct XmMemorySource {
  const uint8_t* data;
  int size;
  int position;
};

void* xmMemoryOpen(const char* name);  // name: a const XmMemorySource*, copied
int xmMemoryClose(void* handle);
int xmMemoryRead(void* buffer, int count, void* handle);
int xmMemorySeek(void* handle, int32_t offset, int origin);
int32_t xmMemoryTell(void* handle);

// Registers the memory source and loads the module from the given bytes.
XmModule* loadXmFromMemory(const uint8_t* data, size_t size);
inline XmModule* loadXmFromMemory(const std::vector<uint8_t>& bytes) {
  return loadXmFromMemory(bytes.data(), bytes.size());
}

// Renders frames of the module from its start state offline, exactly as the
// wave-out ring does: chunk by chunk (884 frames), converted to interleaved
// s16 stereo.
std::vector<int16_t> renderXm(XmModule* module, int frames);
