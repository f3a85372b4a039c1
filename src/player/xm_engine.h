// Inside the XM player: module records, loader, replayer, channel state and
// mixer, for the engine's own files, its tests and its tools.
//
// Portable C++ with no platform headers. The engine reaches module bytes only
// through the ModuleIo table and renders into caller-visible float and s16
// buffers. The wave-out device and its refill thread live in the one file
// that includes the platform's headers; builds without a device link a
// device-less output instead.
#pragma once

#include "xm_player.h"

#include <atomic>
#include <cstdint>

// ---------------------------------------------------------------------------
// Data source

// Five operations the loader reads through. Note the argument orders: read
// takes the handle last, seek and tell take it first. Seek origins: 0 start,
// 1 current position, 2 end.
struct ModuleIo {
  void* (*open)(const char* name);
  int (*close)(void* handle);
  int (*read)(void* buffer, int count, void* handle);
  int (*seek)(void* handle, int32_t offset, int origin);
  int32_t (*tell)(void* handle);
};

bool xmIoRegistered();

// ---------------------------------------------------------------------------
// Module records (allocated zero-filled with calloc, released with free)

constexpr int XM_MAX_CHANNELS = 32;
constexpr int XM_VOICE_COUNT = 64;
constexpr int XM_MAX_ORDERS = 256;
constexpr int XM_MAX_ROWS = 256;
constexpr int XM_MAX_INSTRUMENTS = 128;
constexpr int XM_MAX_SAMPLES = 16;
constexpr int XM_MAX_ENVELOPE_POINTS = 12;
constexpr int XM_NOTE_KEY_OFF = 255;

struct XmCell {
  uint8_t note;        // 0 none, 1..96, 255 key off
  uint8_t instrument;  // 0 none, 1..128
  uint8_t volume;      // volume-column byte
  uint8_t effect;      // an XmEffect
  uint8_t param;
};

// The effect column, by the number stored in the cell (trackers show 0..F,
// then letters: G is 16, X is 33).
enum class XmEffect : uint8_t {
  Arpeggio = 0x0,
  PortaUp = 0x1,
  PortaDown = 0x2,
  TonePorta = 0x3,
  Vibrato = 0x4,
  TonePortaVolumeSlide = 0x5,
  VibratoVolumeSlide = 0x6,
  Tremolo = 0x7,
  SetPanning = 0x8,
  SampleOffset = 0x9,
  VolumeSlide = 0xA,
  PositionJump = 0xB,
  SetVolume = 0xC,
  PatternBreak = 0xD,
  Extended = 0xE,  // an XmExtended in the parameter's high nibble
  SetSpeed = 0xF,
  SetGlobalVolume = 16,      // G
  GlobalVolumeSlide = 17,    // H
  KeyOff = 20,               // K
  SetEnvelopePosition = 21,  // L
  PanningSlide = 25,         // P
  MultiRetrigger = 27,       // R
  Tremor = 29,               // T
  ExtraFinePorta = 33,       // X1x up, X2x down
};

// E-x: the high nibble of an Extended effect's parameter.
enum class XmExtended : uint8_t {
  FinePortaUp = 0x1,
  FinePortaDown = 0x2,
  VibratoWaveform = 0x4,
  SetFinetune = 0x5,
  PatternLoop = 0x6,
  TremoloWaveform = 0x7,
  SetPanning = 0x8,
  Retrigger = 0x9,
  FineVolumeUp = 0xA,
  FineVolumeDown = 0xB,
  NoteCut = 0xC,
  NoteDelay = 0xD,
  PatternDelay = 0xE,
};

// The volume column's command, its high nibble; 1..5 set the volume
// (0x10..0x50 is 0..64).
enum class XmVolumeCommand : uint8_t {
  SlideDown = 0x6,
  SlideUp = 0x7,
  FineSlideDown = 0x8,
  FineSlideUp = 0x9,
  VibratoSpeed = 0xA,
  Vibrato = 0xB,
  SetPanning = 0xC,
  PanningSlideLeft = 0xD,
  PanningSlideRight = 0xE,
  TonePorta = 0xF,
};

struct XmPattern {
  int rows;
  XmCell* cells;  // rows x channelCount, row-major
};

struct XmSample {
  int16_t* data;    // length + 8 frames, zero beyond the sample
  uint32_t length;  // frames
  uint32_t loopStart;
  uint32_t loopLength;  // equals length when the sample does not loop
  uint8_t volume;
  int8_t finetune;
  int panning;
  uint8_t bits;
  uint8_t loopType;  // 1 none, 2 forward, 4 ping-pong (0 only for the empty sample)
  int8_t relativeNote;
  // A forward loop shorter than XM_LOOP_SPAN frames, repeated to at least
  // that span and followed by its guard frame, so the mixer plays many
  // passes without stopping at each loop end; nullptr for other samples.
  int16_t* loopFrames;
  uint32_t loopFramesLength;  // whole loop lengths, the guard frame not counted
};

constexpr uint32_t XM_LOOP_SPAN = 4096;

struct XmEnvelopePoint {
  uint16_t x;  // tick
  uint16_t y;  // 0..64
};

struct XmInstrument {
  int sampleCount;
  XmSample* samples[XM_MAX_SAMPLES];  // slots from sampleCount on point at xmEmptySample
  uint8_t keymap[96];
  XmEnvelopePoint volumeEnvelope[20];
  XmEnvelopePoint panningEnvelope[20];
  uint8_t volumePointCount, panningPointCount;
  uint8_t volumeSustain, volumeLoopStart, volumeLoopEnd;
  uint8_t panningSustain, panningLoopStart, panningLoopEnd;
  uint8_t volumeType, panningType;  // bit 0 on, bit 1 sustain, bit 2 loop
  uint8_t vibratoType, vibratoSweep, vibratoDepth, vibratoRate;
  uint16_t fadeout;
};

struct XmModule {
  XmPattern* patterns;
  XmInstrument* instruments;
  int tickFramesLeft;
  int tickFrames;
  int16_t songLength;
  int16_t restartPosition;
  int16_t channelCount;
  int usedPatterns;
  int patternCount;
  int16_t instrumentCount;
  uint16_t flags;  // bit 0: linear frequency table
  int16_t defaultTempo;
  int16_t defaultBpm;
  uint8_t orders[XM_MAX_ORDERS];
  uint8_t initialGlobalVolume;
  // playback state, owned by the replayer
  int globalVolume;
  uint8_t globalSlideMemory;
  int tick;
  int speed;
  int bpm;
  int row;
  int orderIndex;
  int patternDelay;
  int nextRow;
  int nextOrder;
  void (*tickHandler)(XmModule* module);
};

// Shared placeholders for missing samples and instruments.
extern XmSample xmEmptySample;
extern XmInstrument xmEmptyInstrument;

// ---------------------------------------------------------------------------
// Channels and voices

struct XmVoice {
  int index;
  int volume;   // 0..127
  int panning;  // 0..255
  int startOffset;
  XmSample* sample;         // nullptr = silent
  int gainLeft, gainRight;  // targets 0..127
  uint32_t position;
  uint32_t fraction;
  uint32_t stepFraction, stepWhole;
  int direction;  // 1 forward, 2 backward
  // owned by the mixer
  int lastGainLeft, lastGainRight;
  int currentLeft, currentRight;  // gain x 256
  float rampStepLeft, rampStepRight;
  int rampFramesLeft;
};

// Bits of XmChannel::updateFlags.
enum : uint8_t {
  XM_UPDATE_FREQUENCY = 1,
  XM_UPDATE_VOLUME = 2,
  XM_UPDATE_PANNING = 4,
  XM_UPDATE_TRIGGER = 8,
  XM_UPDATE_RESTART = 0x20,
};

struct XmChannel {
  uint8_t key;
  uint8_t updateFlags;
  XmVoice* voice;
  int period;
  int volume;
  int panning;
  int tremoloDelta;
  int periodDelta;
  int volumeEnvTick, volumeEnvPoint, volumeEnvValue, volumeEnvOut, volumeEnvStep;
  uint8_t volumeEnvDone;
  int panningEnvTick, panningEnvPoint, panningEnvValue, panningEnvOut, panningEnvStep;
  uint8_t panningEnvDone;
  int fadeoutVolume;
  int autoVibratoPos;
  int autoVibratoSweep;
  uint8_t keyReleased;
  uint8_t instrumentIndex;
  uint8_t realNote;
  int notePeriod;
  uint8_t lastEffect;
  int offsetMemory;
  uint8_t portaDownMemory, portaUpMemory;
  uint8_t extraFineDownMemory, extraFineUpMemory;
  uint8_t volumeSlideMemory;
  uint8_t panningSlideMemory;
  uint8_t retrigType, retrigInterval;
  int portaTarget;
  uint8_t portaSpeed;
  int8_t vibPos;
  uint8_t vibSpeed, vibDepth;
  int8_t tremPos;
  uint8_t tremSpeed, tremDepth;
  uint8_t tremorCounter, tremorOn, tremorOff;
  int loopRow, loopCount;
  uint8_t waveControl;
  uint8_t fineVolumeMemory;
  uint8_t finePortaUpMemory, finePortaDownMemory;
};

// Channel n drives voice n or n + 32; the other one carries the fading tail.
extern XmChannel xmChannels[XM_MAX_CHANNELS];
extern XmVoice xmVoices[XM_VOICE_COUNT];

enum class XmEnvelope { Volume, Panning };

void xmEnvelopeStep(XmChannel& ch, const XmInstrument& ins, XmEnvelope which);
// Effect L: moves the volume envelope to tick p.
void xmSetEnvelopePosition(XmChannel& ch, const XmInstrument& ins, int p);
void xmVibrato(XmChannel& ch);
void xmAdvanceVibrato(XmChannel& ch);
void xmTremolo(XmChannel& ch);
void xmTremor(XmChannel& ch);
void xmAutoVibrato(XmChannel& ch, const XmInstrument& ins);
void xmTonePorta(XmChannel& ch);
int xmNotePeriod(int realNote, int finetune, bool linear);
void xmInstrumentReset(XmChannel& ch, const XmSample& s);
void xmVoiceUpdate(XmChannel& ch, XmSample* s, const XmModule& m);

// ---------------------------------------------------------------------------
// Replayer

void xmTick(XmModule* m);
void xmSetBpm(XmModule* m, int bpm);
// The start state of playback: position, speed, BPM, global volume, the voice
// pool and the module's channels.
void xmResetPlayback(XmModule* m);

// ---------------------------------------------------------------------------
// Mixer and chunk rendering

constexpr int XM_OUTPUT_RATE = 44100;
constexpr int XM_CHUNK_FRAMES = (XM_OUTPUT_RATE * 20 / 1000 + 3) & ~3;  // 884, 20 ms
constexpr int XM_RING_CHUNKS = 2 * (1000 / 20);
constexpr int XM_RING_FRAMES = XM_RING_CHUNKS * XM_CHUNK_FRAMES;
constexpr int XM_RAMP_FRAMES = XM_OUTPUT_RATE * 128 / 44100;

// Adds every voice into count interleaved stereo frames.
void xmMix(float* out, int count);
// Rounds to nearest (ties to even) and clips to the s16 range.
void xmConvert(int16_t* dst, const float* src, int frames);
// Clears count stereo frames of out and renders the module into them, running
// its tick handler whenever the frames of the previous tick are done.
void xmRenderFrames(XmModule* m, float* out, int count);

// Process-wide playback state shared with the output layer. While the refill
// thread runs, everything here but the three flags is its alone; the flags are
// one byte each, written by one thread and read by the other with release and
// acquire ordering.
struct XmPlayback {
  XmModule* playingModule;
  int16_t* ringBuffer;  // XM_RING_FRAMES x 2, interleaved
  float* mixArea;       // XM_RING_FRAMES x 2, 16-byte aligned
  void* mixAllocation;
  int writeChunk;
  std::atomic<uint8_t> stopRequest;  // set by the user-interface thread
  std::atomic<uint8_t> renderBusy;   // set by the refill thread around a chunk
  std::atomic<uint8_t> threadEnded;  // set by the refill thread when it leaves
  void* waveDevice;                  // the open wave-out device, nullptr when closed
  void* refillThread;                // its thread handle, nullptr when none runs
};
static_assert(sizeof(std::atomic<uint8_t>) == 1);
extern XmPlayback xmPlayback;

bool xmAllocateRenderBuffers();
void xmReleaseRenderBuffers();
// Renders chunk writeChunk of the playing module into mixArea and ringBuffer,
// then moves writeChunk on.
void xmRenderChunk();
// Renders chunks until writeChunk wraps to 0: the whole ring.
void xmRenderRing();

// The steps every output shares. Begin: a running playback ends first, then
// the replayer starts the module from its first tick and it becomes the
// playing module; false without a module or a registered data source.
// Raise stop: asks the refill thread to end and waits out a chunk in progress.
// End: releases the render buffers and forgets the playing module.
bool xmBeginPlayback(XmModule* module);
void xmRaiseStop();
void xmEndPlayback();
