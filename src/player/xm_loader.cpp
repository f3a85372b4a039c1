// XM module loader: reads an Extended Module through ModuleIo into the
// engine's records, converting samples to 16-bit frames with guard frames.
#include "xm_engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

XmSample xmEmptySample;
XmInstrument xmEmptyInstrument;

namespace {

ModuleIo io;

template <typename T>
T* allocZeroed(size_t count) {
  return static_cast<T*>(std::calloc(count ? count : 1, sizeof(T)));
}

// A source of known size. Every read and seek is checked against that size
// first, so a count, length or offset that points past the end of the data
// refuses the module instead of leaving fields with stale or zero contents.
struct Source {
  void* handle;
  int64_t size;
  int64_t position;
  bool failed;
};

Source openSource(void* handle) {
  io.seek(handle, 0, 2);
  int64_t size = io.tell(handle);
  io.seek(handle, 0, 0);
  return {handle, size > 0 ? size : 0, 0, false};
}

bool seekTo(Source& s, int64_t target) {
  // io.seek takes a signed 32-bit offset; the size bound keeps it in range.
  if (s.failed || target < 0 || target > s.size) {
    s.failed = true;
    return false;
  }
  io.seek(s.handle, static_cast<int32_t>(target), 0);
  s.position = target;
  return true;
}

bool skip(Source& s, int64_t count) { return seekTo(s, s.position + count); }

bool readBytes(Source& s, void* dst, int64_t count) {
  std::memset(dst, 0, static_cast<size_t>(count));
  if (s.failed || count > s.size - s.position) {
    s.failed = true;
    return false;
  }
  io.read(dst, static_cast<int>(count), s.handle);
  s.position += count;
  return true;
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16; }

uint8_t readU8(Source& s) {
  uint8_t b;
  readBytes(s, &b, 1);
  return b;
}

uint16_t readU16(Source& s) {
  uint8_t b[2];
  readBytes(s, b, 2);
  return le16(b);
}

uint32_t readU32(Source& s) {
  uint8_t b[4];
  readBytes(s, b, 4);
  return le32(b);
}

bool readPattern(Source& s, XmPattern& p, int channels) {
  skip(s, 5);  // header length and packing type: always 9 header bytes
  int rows = readU16(s);
  uint16_t packedSize = readU16(s);
  // Row indexes and the cell array both assume 1..256 rows.
  if (s.failed || rows == 0 || rows > XM_MAX_ROWS) return false;
  p.rows = rows;
  p.cells = allocZeroed<XmCell>(static_cast<size_t>(rows) * channels);
  if (!p.cells) return false;
  if (packedSize == 0) return true;
  // The cells in one read: at most six bytes each (a flag byte and five
  // fields), fewer where the source ends first. A cell that would read
  // past the source's end refuses the module, as any read there does.
  static uint8_t packed[6 * XM_MAX_ROWS * XM_MAX_CHANNELS];
  int64_t start = s.position;
  int64_t available = std::min<int64_t>(6 * static_cast<int64_t>(rows) * channels, s.size - s.position);
  if (!readBytes(s, packed, available)) return false;
  int64_t at = 0;
  auto next = [&]() -> uint8_t {
    if (at < available) return packed[at++];
    s.failed = true;
    return 0;
  };
  for (int i = 0; i < rows * channels && !s.failed; i++) {
    XmCell& c = p.cells[i];
    uint8_t b = next();
    if (b & 0x80) {
      if (b & 1) c.note = next();
      if (b & 2) c.instrument = next();
      if (b & 4) c.volume = next();
      if (b & 8) c.effect = next();
      if (b & 16) c.param = next();
    } else if (b != 0) {
      c.note = b;
      c.instrument = next();
      c.volume = next();
      c.effect = next();
      c.param = next();
    }
    // Notes index the 96-entry key map: anything past key off is no note.
    if (c.note == 97)
      c.note = XM_NOTE_KEY_OFF;
    else if (c.note > 97)
      c.note = 0;
    if (c.instrument > XM_MAX_INSTRUMENTS) c.instrument = 0;
  }
  // The next pattern follows the last byte the cells took.
  return !s.failed && seekTo(s, start + at);
}

void decodeEnvelope(const uint8_t* bytes, XmEnvelopePoint* points) {
  for (int i = 0; i < XM_MAX_ENVELOPE_POINTS; i++) points[i] = {le16(bytes + 4 * i), le16(bytes + 4 * i + 2)};
}

// The envelope step indexes points by the count and the loop start and moves
// from point to point when its tick meets the next x, with values in 16.16.
// Out-of-range fields are brought inside those assumptions here.
void tameEnvelope(XmEnvelopePoint* points, uint8_t& count, uint8_t& type, uint8_t loopStart) {
  if (count > XM_MAX_ENVELOPE_POINTS) count = XM_MAX_ENVELOPE_POINTS;
  if (count < 2) type = 0;
  if (loopStart >= count) type &= ~4;
  for (int i = 0; i < count; i++) {
    if (points[i].y > 64) points[i].y = 64;
    if (i > 0 && points[i].x < points[i - 1].x) points[i].x = points[i - 1].x;
  }
}

bool readSampleHeader(Source& s, XmSample& smp) {
  smp.length = readU32(s);
  smp.loopStart = readU32(s);
  smp.loopLength = readU32(s);
  smp.volume = readU8(s);
  smp.finetune = static_cast<int8_t>(readU8(s));
  uint8_t type = readU8(s);
  smp.panning = readU8(s);
  smp.relativeNote = static_cast<int8_t>(readU8(s));
  skip(s, 23);  // reserved byte and name
  if (s.failed) return false;
  smp.loopType = (type & 2) ? 4 : (type & 1) ? 2 : 1;
  smp.bits = (type & 16) ? 16 : 8;
  if (smp.loopType == 1) {
    smp.loopStart = 0;
    smp.loopLength = smp.length;
  }
  if (smp.bits == 16) {
    smp.length /= 2;
    smp.loopStart /= 2;
    smp.loopLength /= 2;
  }
  // The guard frame sits at the loop end and must stay inside the data.
  if (static_cast<uint64_t>(smp.loopStart) + smp.loopLength > smp.length)
    smp.loopLength = smp.loopStart < smp.length ? smp.length - smp.loopStart : 0;
  if (smp.loopLength == 0) {
    smp.loopStart = 0;
    smp.loopLength = smp.length;
    smp.loopType = 1;
  }
  // The sample bytes follow in the source: a length beyond it is refused
  // before it can size an allocation.
  if (static_cast<int64_t>(smp.length) * (smp.bits / 8) > s.size - s.position) return false;
  if (smp.length > 0) {
    smp.data = allocZeroed<int16_t>(static_cast<size_t>(smp.length) + 8);
    if (!smp.data) return false;
  }
  return true;
}

// The frames of a short forward loop again and again, then the guard frame,
// which repeats the loop's first frame as data[loop end] does.
bool repeatShortLoop(XmSample& smp) {
  if (smp.loopType != 2 || smp.loopLength >= XM_LOOP_SPAN) return true;
  uint32_t passes = (XM_LOOP_SPAN + smp.loopLength - 1) / smp.loopLength;
  smp.loopFramesLength = passes * smp.loopLength;
  smp.loopFrames = allocZeroed<int16_t>(static_cast<size_t>(smp.loopFramesLength) + 1);
  if (!smp.loopFrames) return false;
  for (uint32_t k = 0; k < smp.loopFramesLength; k += smp.loopLength)
    std::memcpy(smp.loopFrames + k, smp.data + smp.loopStart, smp.loopLength * sizeof(int16_t));
  smp.loopFrames[smp.loopFramesLength] = smp.data[smp.loopStart];
  return true;
}

bool readSampleData(Source& s, XmSample& smp) {
  uint8_t chunk[4096];
  int bytesPerFrame = smp.bits / 8;
  uint32_t done = 0;
  uint16_t sum = 0;
  while (done < smp.length) {
    uint32_t frames = std::min<uint32_t>(smp.length - done, sizeof chunk / 2);
    if (!readBytes(s, chunk, static_cast<int64_t>(frames) * bytesPerFrame)) return false;
    // Undo the delta coding in 16-bit wrapping arithmetic.
    int16_t* out = smp.data + done;
    if (bytesPerFrame == 1) {
      for (uint32_t k = 0; k < frames; k++)
        out[k] = static_cast<int16_t>(sum = static_cast<uint16_t>(sum + (chunk[k] << 8)));
    } else {
      for (uint32_t k = 0; k < frames; k++)
        out[k] = static_cast<int16_t>(sum = static_cast<uint16_t>(sum + le16(chunk + 2 * k)));
    }
    done += frames;
  }
  smp.bits = 16;
  // The mixer interpolates towards the frame after the loop end.
  uint32_t end = smp.loopStart + smp.loopLength;
  if (smp.loopType == 4)
    smp.data[end] = smp.data[end - 1];
  else if (smp.loopType == 2)
    smp.data[end] = smp.data[smp.loopStart];
  return repeatShortLoop(smp);
}

bool readInstrument(Source& s, XmInstrument& ins) {
  int64_t start = s.position;
  uint32_t headerSize = readU32(s);
  skip(s, 23);  // name and type
  int count = readU16(s);
  if (s.failed || count > XM_MAX_SAMPLES) return false;
  ins.sampleCount = count;
  // Owned slots stay null until their sample exists, for xmFree after a failure.
  for (int k = 0; k < XM_MAX_SAMPLES; k++) ins.samples[k] = k < count ? nullptr : &xmEmptySample;
  if (count == 0) return seekTo(s, start + headerSize);

  uint8_t bytes[4 + 96 + 48 + 48 + 16];
  if (!readBytes(s, bytes, sizeof bytes)) return false;
  const uint8_t* p = bytes + 4;  // sample header size: every header is 40 bytes
  std::memcpy(ins.keymap, p, 96);
  decodeEnvelope(p + 96, ins.volumeEnvelope);
  decodeEnvelope(p + 144, ins.panningEnvelope);
  p += 192;
  ins.volumePointCount = p[0];
  ins.panningPointCount = p[1];
  ins.volumeSustain = p[2];
  ins.volumeLoopStart = p[3];
  ins.volumeLoopEnd = p[4];
  ins.panningSustain = p[5];
  ins.panningLoopStart = p[6];
  ins.panningLoopEnd = p[7];
  ins.volumeType = p[8];
  ins.panningType = p[9];
  ins.vibratoType = p[10];
  ins.vibratoSweep = p[11];
  ins.vibratoDepth = p[12];
  ins.vibratoRate = p[13];
  ins.fadeout = static_cast<uint16_t>(le16(p + 14) * 2);
  tameEnvelope(ins.volumeEnvelope, ins.volumePointCount, ins.volumeType, ins.volumeLoopStart);
  tameEnvelope(ins.panningEnvelope, ins.panningPointCount, ins.panningType, ins.panningLoopStart);

  if (!seekTo(s, start + headerSize)) return false;
  for (int i = 0; i < count; i++) {
    ins.samples[i] = allocZeroed<XmSample>(1);
    if (!ins.samples[i] || !readSampleHeader(s, *ins.samples[i])) return false;
  }
  for (int i = 0; i < count; i++)
    if (ins.samples[i]->length > 0 && !readSampleData(s, *ins.samples[i])) return false;
  return true;
}

bool parseModule(Source& s, XmModule& m) {
  char magic[17];
  if (!readBytes(s, magic, 17) || std::memcmp(magic, "Extended Module: ", 17) != 0) return false;
  m.tickHandler = xmTick;
  m.initialGlobalVolume = 64;

  seekTo(s, 60);  // name, 0x1A, tracker name and version are not used
  uint32_t headerSize = readU32(s);
  int songLength = readU16(s);
  int restart = readU16(s);
  int channels = readU16(s);
  int filePatterns = readU16(s);
  int instruments = readU16(s);
  m.flags = readU16(s);
  m.defaultTempo = static_cast<int16_t>(readU16(s));
  int bpm = readU16(s);
  readBytes(s, m.orders, sizeof m.orders);
  if (s.failed) return false;
  // Limits of the order table, the channel table, the one-byte pattern and
  // instrument numbers, and the tick length (BPM 0 has none).
  if (songLength == 0 || songLength > XM_MAX_ORDERS || channels == 0 || channels > XM_MAX_CHANNELS ||
      filePatterns > 256 || instruments > XM_MAX_INSTRUMENTS || bpm == 0)
    return false;
  m.songLength = static_cast<int16_t>(songLength);
  m.restartPosition = static_cast<int16_t>(restart < songLength ? restart : 0);
  m.channelCount = static_cast<int16_t>(channels);
  m.defaultBpm = static_cast<int16_t>(bpm);
  if (!seekTo(s, 60 + static_cast<int64_t>(headerSize))) return false;

  for (int i = 0; i < songLength; i++)
    if (m.orders[i] >= m.usedPatterns) m.usedPatterns = m.orders[i] + 1;
  int patternCount = filePatterns > m.usedPatterns ? filePatterns : m.usedPatterns;
  m.patterns = allocZeroed<XmPattern>(patternCount);
  if (!m.patterns) return false;
  m.patternCount = patternCount;
  for (int i = 0; i < filePatterns; i++)
    if (!readPattern(s, m.patterns[i], channels)) return false;
  // Orders may name patterns the file does not store: they play as empty.
  for (int i = filePatterns; i < m.usedPatterns; i++) {
    m.patterns[i].rows = 64;
    m.patterns[i].cells = allocZeroed<XmCell>(64 * static_cast<size_t>(channels));
    if (!m.patterns[i].cells) return false;
  }

  m.instruments = allocZeroed<XmInstrument>(instruments);
  if (!m.instruments) return false;
  m.instrumentCount = static_cast<int16_t>(instruments);
  for (int i = 0; i < instruments; i++)
    if (!readInstrument(s, m.instruments[i])) return false;
  return true;
}

}  // namespace

void xmSetIo(void* (*open)(const char*), int (*close)(void*), int (*read)(void*, int, void*),
             int (*seek)(void*, int32_t, int), int32_t (*tell)(void*)) {
  if (open && close && read && seek && tell)
    io = {open, close, read, seek, tell};
  else
    io = {};
}

bool xmIoRegistered() { return io.open != nullptr; }

XmModule* xmLoad(const char* name) {
  if (!xmIoRegistered()) return nullptr;
  XmModule* m = allocZeroed<XmModule>(1);
  if (!m) return nullptr;
  void* handle = io.open(name);
  if (!handle) {
    std::free(m);
    return nullptr;
  }
  Source source = openSource(handle);
  bool ok = parseModule(source, *m);
  io.close(handle);
  if (!ok) {
    xmFree(m);
    return nullptr;
  }
  return m;
}

bool xmFree(XmModule* m) {
  if (!m) return false;
  while (xmPlayback.renderBusy.load(std::memory_order_acquire)) {
  }
  xmStop(m);
  // Counts are set before their arrays are filled, so a failed load may
  // leave null entries below them.
  for (int i = 0; m->instruments && i < m->instrumentCount; i++) {
    XmInstrument& ins = m->instruments[i];
    for (int k = 0; k < ins.sampleCount; k++) {
      if (ins.samples[k]) {
        std::free(ins.samples[k]->data);
        std::free(ins.samples[k]->loopFrames);
        std::free(ins.samples[k]);
      }
    }
  }
  std::free(m->instruments);
  for (int i = 0; m->patterns && i < m->patternCount; i++) std::free(m->patterns[i].cells);
  std::free(m->patterns);
  std::free(m);
  return true;
}
