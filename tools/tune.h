// The About box's tune: a score written as text (tools/tune/score.txt) and
// two instruments synthesised here, a tone and a drum kit, made into a song
// that writeXm stores as a standard XM module.
#pragma once

#include <string>

#include "xm_writer.h"

// Reads the score and builds the song; false with a message naming the line
// when the score is not understood.
bool composeTune(const std::string& score, XmSong& song, std::string& error);

// Instrument 1: a looping band-limited tone, one cycle of 128 frames, tuned so
// that each note sounds at its concert pitch (C-4 is 261.6 Hz), with an
// attack-decay-sustain envelope, a release after key off and a slow vibrato.
XmSongInstrument toneInstrument();

// Instrument 2: one sample holding a kick, a snare and a hi-hat one after
// the other; a note starts the kick, and a sample offset (effect 9) picks the
// others. Its envelope ends each hit before the next piece of the kit begins.
XmSongInstrument drumKit();

struct DrumPiece {
  const char* name;
  int offset;  // in 256-frame steps, as effect 9 takes it
};
inline constexpr DrumPiece kDrumPieces[] = {{"kick", 0x00}, {"snare", 0x30}, {"hat", 0x60}};
