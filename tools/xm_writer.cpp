#include "xm_writer.h"

#include "xm_engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

struct Bytes {
  std::vector<uint8_t> out;

  void u8(unsigned v) { out.push_back(static_cast<uint8_t>(v)); }
  void u16(unsigned v) {
    u8(v & 0xFF);
    u8(v >> 8 & 0xFF);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void text(const std::string& s, size_t width) {
    for (size_t i = 0; i < width; i++) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
  }
  void zeros(size_t n) { out.insert(out.end(), n, 0); }
};

void writePattern(Bytes& b, const XmSongPattern& p) {
  Bytes packed;
  for (const XmSongCell& c : p.cells) {
    const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
    if (std::all_of(fields, fields + 5, [](uint8_t f) { return f != 0; })) {
      packed.out.insert(packed.out.end(), fields, fields + 5);
      continue;
    }
    unsigned mask = 0x80;
    for (int i = 0; i < 5; i++)
      if (fields[i]) mask |= 1u << i;
    packed.u8(mask);
    for (uint8_t f : fields)
      if (f) packed.u8(f);
  }
  b.u32(9);
  b.u8(0);
  b.u16(static_cast<unsigned>(p.rows));
  b.u16(static_cast<unsigned>(packed.out.size()));
  b.out.insert(b.out.end(), packed.out.begin(), packed.out.end());
}

void writeEnvelopePoints(Bytes& b, const XmSongEnvelope& e) {
  for (size_t i = 0; i < 12; i++) {
    b.u16(i < e.points.size() ? e.points[i].x : 0);
    b.u16(i < e.points.size() ? e.points[i].y : 0);
  }
}

unsigned storedCount(const XmSongEnvelope& e) {
  return e.pointCount >= 0 ? static_cast<unsigned>(e.pointCount)
                           : static_cast<unsigned>(std::min<size_t>(e.points.size(), 12));
}

void writeInstrument(Bytes& b, const XmSongInstrument& ins) {
  bool hasSamples = !ins.samples.empty();
  b.u32(hasSamples ? 263 : 29);
  b.text(ins.name, 22);
  b.u8(0);
  b.u16(static_cast<unsigned>(ins.samples.size()));
  if (!hasSamples) return;
  b.u32(40);
  b.out.insert(b.out.end(), ins.keymap.begin(), ins.keymap.end());
  writeEnvelopePoints(b, ins.volume);
  writeEnvelopePoints(b, ins.panning);
  b.u8(storedCount(ins.volume));
  b.u8(storedCount(ins.panning));
  for (uint8_t v : {ins.volume.sustain, ins.volume.loopStart, ins.volume.loopEnd, ins.panning.sustain,
                    ins.panning.loopStart, ins.panning.loopEnd, ins.volume.type, ins.panning.type, ins.vibratoType,
                    ins.vibratoSweep, ins.vibratoDepth, ins.vibratoRate})
    b.u8(v);
  b.u16(ins.fadeout);
  b.zeros(22);

  for (const XmSongSample& s : ins.samples) {
    uint32_t width = s.sixteenBit ? 2 : 1;
    b.u32(static_cast<uint32_t>(s.frames.size()) * width);
    b.u32(s.loopStart * width);
    b.u32(s.loopLength * width);
    b.u8(s.volume);
    b.u8(static_cast<uint8_t>(s.finetune));
    b.u8(s.loopType | (s.sixteenBit ? 16u : 0u));
    b.u8(s.panning);
    b.u8(static_cast<uint8_t>(s.relativeNote));
    b.u8(0);
    b.text(s.name, 22);
  }
  // Sample data is delta-coded: each value is the difference to the one before.
  for (const XmSongSample& s : ins.samples) {
    int previous = 0;
    for (int16_t v : s.frames) {
      int delta = v - previous;
      previous = v;
      if (s.sixteenBit)
        b.u16(static_cast<unsigned>(delta) & 0xFFFF);
      else
        b.u8(static_cast<unsigned>(delta) & 0xFF);
    }
  }
}

}  // namespace

XmSongPattern makeXmPattern(int rows, int channels) {
  XmSongPattern p;
  p.rows = rows;
  p.channels = channels;
  p.cells.assign(static_cast<size_t>(rows) * channels, XmSongCell{});
  return p;
}

std::vector<uint8_t> writeXm(const XmSong& song) {
  Bytes b;
  b.text("Extended Module: ", 17);
  b.text(song.name, 20);
  b.u8(0x1A);
  b.text("Arkivanto2 xm_writer", 20);
  b.u16(0x0104);
  b.u32(276);
  b.u16(static_cast<unsigned>(song.orders.size()));
  b.u16(song.restart);
  b.u16(static_cast<unsigned>(song.channels));
  b.u16(static_cast<unsigned>(song.patterns.size()));
  b.u16(static_cast<unsigned>(song.instruments.size()));
  b.u16(song.linear ? 1 : 0);
  b.u16(song.tempo);
  b.u16(song.bpm);
  for (size_t i = 0; i < 256; i++) b.u8(i < song.orders.size() ? song.orders[i] : 0);
  for (const XmSongPattern& p : song.patterns) writePattern(b, p);
  for (const XmSongInstrument& ins : song.instruments) writeInstrument(b, ins);
  return b.out;
}

void* xmMemoryOpen(const char* name) {
  auto* source = static_cast<XmMemorySource*>(std::malloc(sizeof(XmMemorySource)));
  if (source) {
    *source = *reinterpret_cast<const XmMemorySource*>(name);
    source->position = 0;
  }
  return source;
}

int xmMemoryClose(void* handle) {
  std::free(handle);
  return 0;
}

int xmMemoryRead(void* buffer, int count, void* handle) {
  auto* s = static_cast<XmMemorySource*>(handle);
  if (s->position + count >= s->size) count = s->size - s->position;
  if (count > 0) std::memcpy(buffer, s->data + s->position, static_cast<size_t>(count));
  s->position += count;
  return count;
}

int xmMemorySeek(void* handle, int32_t offset, int origin) {
  auto* s = static_cast<XmMemorySource*>(handle);
  switch (origin & 0xFF) {
    case 0: s->position = offset; break;
    case 1: s->position += offset; break;
    case 2: s->position = s->size + offset; break;
    default: break;
  }
  s->position = std::clamp(s->position, 0, s->size);
  return 0;
}

int32_t xmMemoryTell(void* handle) { return static_cast<XmMemorySource*>(handle)->position; }

XmModule* loadXmFromMemory(const uint8_t* data, size_t size) {
  xmSetIo(xmMemoryOpen, xmMemoryClose, xmMemoryRead, xmMemorySeek, xmMemoryTell);
  XmMemorySource source{data, static_cast<int>(size), 0};
  return xmLoad(reinterpret_cast<const char*>(&source));
}

std::vector<int16_t> renderXm(XmModule* module, int frames) {
  xmResetPlayback(module);
  std::vector<float> mix(2 * XM_CHUNK_FRAMES);
  std::vector<int16_t> out(2 * static_cast<size_t>(frames));
  for (int done = 0; done < frames; done += XM_CHUNK_FRAMES) {
    int n = std::min(XM_CHUNK_FRAMES, frames - done);
    xmRenderFrames(module, mix.data(), XM_CHUNK_FRAMES);
    xmConvert(out.data() + 2 * static_cast<size_t>(done), mix.data(), n);
  }
  return out;
}
