#include "tune.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBaseRate = 8363;  // the rate at which a sample plays its own pitch on C-4
constexpr int kToneFrames = 128;    // one cycle
constexpr int kToneRelativeNote = 24;
constexpr int kKitRelativeNote = 24;  // the kit plays at 4 x 8363 = 33452 frames/s on C-4
constexpr uint8_t kNoteC4 = 49;
constexpr uint8_t kKeyOff = 97;
constexpr uint8_t kEffectArpeggio = 0, kEffectVibrato = 4, kEffectOffset = 9;

int16_t toSample(double x) { return static_cast<int16_t>(std::lround(std::clamp(x, -1.0, 1.0) * 32767)); }

// The same every run: the kit's noise is part of the committed module.
struct Noise {
  uint32_t state = 0x2545F491;
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  }
};

// Steps of 256 frames covered by a kit piece of the given length in seconds.
int kitSteps(double seconds) { return static_cast<int>(std::ceil(seconds * kBaseRate * 4 / 256)); }

void addKick(std::vector<double>& kit, int start) {
  const double rate = kBaseRate * 4;
  double phase = 0;
  for (int i = 0; i < static_cast<int>(0.30 * rate); i++) {
    double t = i / rate;
    double f = 45 + 110 * std::exp(-t / 0.035);  // the pitch falls fast: a thump
    phase += 2 * kPi * f / rate;
    double body = std::sin(phase) * std::exp(-t / 0.11);
    double click = i < 60 ? (1 - i / 60.0) * 0.35 : 0;
    kit[start + i] += 0.95 * body + click;
  }
}

void addSnare(std::vector<double>& kit, int start, Noise& noise) {
  const double rate = kBaseRate * 4;
  for (int i = 0; i < static_cast<int>(0.24 * rate); i++) {
    double t = i / rate;
    double tone = std::sin(2 * kPi * 185 * t) * std::exp(-t / 0.045);
    double rattle = noise.next() * std::exp(-t / 0.07);
    kit[start + i] += 0.45 * tone + 0.6 * rattle;
  }
}

void addHat(std::vector<double>& kit, int start, Noise& noise) {
  const double rate = kBaseRate * 4;
  double previous = 0;
  for (int i = 0; i < static_cast<int>(0.08 * rate); i++) {
    double t = i / rate;
    double n = noise.next();
    kit[start + i] += (n - previous) * 0.5 * std::exp(-t / 0.018);  // the difference keeps the highs
    previous = n;
  }
}

// Finetune (1/128 semitone) that brings rate / cycle frames to the pitch of
// C-4 plus the relative note.
int8_t finetuneFor(double rate, int frames, int relativeNote) {
  double played = rate * std::exp2(relativeNote / 12.0) / frames;
  double semitones = 12 * std::log2(261.6256 / played);
  return static_cast<int8_t>(std::lround(semitones * 128));
}

// ---------------------------------------------------------------------------
// Score

struct Channel {
  std::string name;
  enum Kind { Notes, Chords, Drums } kind = Notes;
  int volume = 64;
  int pan = -1;        // 0..15 in the volume column, -1 for the sample's own
  int vibrato = 0x24;  // effect 4 parameter for "~"
};

struct Drum {
  int offset;
  int volume;
};

struct Score {
  XmSong song;
  int rows = 64, step = 1;
  std::vector<Channel> channels;
  std::map<char, Drum> drums;
};

int noteNumber(const std::string& t) {
  static const int semitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
  if (t.size() != 3 || t[0] < 'A' || t[0] > 'G' || (t[1] != '-' && t[1] != '#') || t[2] < '0' || t[2] > '7') return 0;
  return (t[2] - '0') * 12 + semitone[t[0] - 'A'] + (t[1] == '#') + 1;
}

// "Am", "F#", "C": the root between E-3 and D#4, so the three notes of every
// chord stay in the middle of the keyboard, and the arpeggio of its third
// and fifth.
bool chord(const std::string& t, uint8_t& note, uint8_t& arpeggio) {
  size_t i = 1;
  if (t.empty() || t[0] < 'A' || t[0] > 'G') return false;
  bool sharp = i < t.size() && t[i] == '#';
  i += sharp;
  bool minor = i < t.size() && t[i] == 'm';
  i += minor;
  if (i != t.size()) return false;
  int n = noteNumber(std::string{t[0], sharp ? '#' : '-', '3'});
  if ((n - 1) % 12 < 4)  // C, C#, D, D#
    n += 12;
  note = static_cast<uint8_t>(n);
  arpeggio = minor ? 0x37 : 0x47;
  return true;
}

struct Writer {
  XmSongPattern& pattern;
  const Channel& channel;
  int index;
  uint8_t arpeggio = 0;  // the chord still sounding

  XmSongCell& cell(int row) { return pattern.at(row, index); }

  void note(int row, uint8_t number, int instrument, int volume) {
    cell(row) = {number, static_cast<uint8_t>(instrument), static_cast<uint8_t>(0x10 + volume), 0, 0};
    if (channel.pan >= 0 && row + 1 < pattern.rows && cell(row + 1).volume == 0)
      cell(row + 1).volume = static_cast<uint8_t>(0xC0 + channel.pan);
  }

  bool token(const std::string& t, int row, int rows, const Score& score, std::string& error) {
    if (t.find(',') != std::string::npos) {
      std::vector<std::string> parts;
      std::stringstream in(t);
      for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
      int each = rows / static_cast<int>(parts.size());
      if (each * static_cast<int>(parts.size()) != rows) {
        error = "'" + t + "' does not divide " + std::to_string(rows) + " rows";
        return false;
      }
      for (size_t k = 0; k < parts.size(); k++)
        if (!token(parts[k], row + static_cast<int>(k) * each, each, score, error)) return false;
      return true;
    }
    if (t == ".") {
      continueChord(row, rows);
      return true;
    }
    if (t == "^") {
      cell(row).note = kKeyOff;
      arpeggio = 0;
      return true;
    }
    if (t == "~" && channel.kind == Channel::Notes) {
      for (int r = row; r < row + rows; r++) {
        cell(r).effect = kEffectVibrato;
        cell(r).param = static_cast<uint8_t>(channel.vibrato);
      }
      return true;
    }
    switch (channel.kind) {
      case Channel::Notes:
        if (int n = noteNumber(t)) {
          note(row, static_cast<uint8_t>(n), 1, channel.volume);
          return true;
        }
        break;
      case Channel::Chords: {
        uint8_t n, a;
        if (chord(t, n, a)) {
          note(row, n, 1, channel.volume);
          arpeggio = a;
          continueChord(row, rows);
          return true;
        }
        break;
      }
      case Channel::Drums:
        if (t.size() == 1 && score.drums.count(t[0])) {
          const Drum& d = score.drums.at(t[0]);
          note(row, kNoteC4, 2, d.volume);
          if (d.offset) {  // the kick starts at 0, where a note starts anyway
            cell(row).effect = kEffectOffset;
            cell(row).param = static_cast<uint8_t>(d.offset);
          }
          return true;
        }
        break;
    }
    error = "'" + t + "' is no " + (channel.kind == Channel::Drums ? "drum" : "note or chord") + " of " + channel.name;
    return false;
  }

  void continueChord(int row, int rows) {
    if (!arpeggio) return;
    for (int r = row; r < row + rows; r++)
      if (cell(r).effect == kEffectArpeggio && cell(r).param == 0)
        cell(r).param = arpeggio;  // the effect number is 0 already
  }
};

// The words of a line up to a comment, a word that begins with "#" (a sharp
// inside a note or chord, as in G#5 or C#m, is no comment).
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string w; in >> w && w[0] != '#';)
    if (w != "|") out.push_back(w);
  return out;
}

bool number(const std::string& w, int low, int high, int& value) {
  char* end = nullptr;
  long v = std::strtol(w.c_str(), &end, 0);
  if (w.empty() || *end || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

bool header(const std::vector<std::string>& w, Score& s, std::string& error) {
  XmSong& song = s.song;
  int v = 0;
  const std::string& key = w[0];
  auto one = [&](int low, int high) { return w.size() == 2 && number(w[1], low, high, v); };
  if (key == "name" && w.size() >= 2) {
    song.name = w[1];
    for (size_t i = 2; i < w.size(); i++) song.name += " " + w[i];
  } else if (key == "tempo" && one(1, 31)) {
    song.tempo = static_cast<uint16_t>(v);
  } else if (key == "bpm" && one(32, 255)) {
    song.bpm = static_cast<uint16_t>(v);
  } else if (key == "rows" && one(1, 256)) {
    s.rows = v;
  } else if (key == "step" && one(1, 256)) {
    s.step = v;
  } else if (key == "restart" && one(0, 255)) {
    song.restart = static_cast<uint16_t>(v);
  } else if (key == "orders" && w.size() >= 2) {
    for (size_t i = 1; i < w.size(); i++) {
      if (!number(w[i], 0, 255, v)) return error = "bad order '" + w[i] + "'", false;
      song.orders.push_back(static_cast<uint8_t>(v));
    }
  } else if (key == "channel" && w.size() >= 3) {
    Channel c;
    c.name = w[1];
    if (w[2] == "notes")
      c.kind = Channel::Notes;
    else if (w[2] == "chords")
      c.kind = Channel::Chords;
    else if (w[2] == "drums")
      c.kind = Channel::Drums;
    else
      return error = "unknown channel kind '" + w[2] + "'", false;
    for (size_t i = 3; i + 1 < w.size(); i += 2) {
      int* field = w[i] == "volume" ? &c.volume : w[i] == "pan" ? &c.pan : w[i] == "vibrato" ? &c.vibrato : nullptr;
      int high = w[i] == "volume" ? 64 : w[i] == "pan" ? 15 : 255;
      if (!field || !number(w[i + 1], 0, high, *field)) return error = "bad channel setting '" + w[i] + "'", false;
    }
    s.channels.push_back(c);
  } else if (key == "drum" && w.size() == 4 && w[1].size() == 1) {
    const DrumPiece* piece = nullptr;
    for (const DrumPiece& p : kDrumPieces)
      if (w[2] == p.name) piece = &p;
    if (!piece || !number(w[3], 0, 64, v)) return error = "bad drum '" + w[2] + "'", false;
    s.drums[w[1][0]] = {piece->offset, v};
  } else {
    return error = "not understood: '" + key + "'", false;
  }
  return true;
}

}  // namespace

XmSongInstrument toneInstrument() {
  XmSongInstrument ins;
  ins.name = "tone";
  XmSongSample s;
  s.name = "tone";
  // Odd harmonics fall off as 1/h, even ones are half as strong: between a
  // square and a saw, and nothing above the twelfth so high notes stay clean.
  for (int i = 0; i < kToneFrames; i++) {
    double x = 0;
    for (int h = 1; h <= 12; h++) x += (h % 2 ? 1.0 : 0.5) / h * std::sin(2 * kPi * h * i / kToneFrames);
    s.frames.push_back(toSample(0.62 * x));
  }
  s.loopType = 1;
  s.loopStart = 0;
  s.loopLength = kToneFrames;
  s.relativeNote = kToneRelativeNote;
  s.finetune = finetuneFor(kBaseRate, kToneFrames, kToneRelativeNote);
  ins.samples.push_back(s);
  // Attack, decay to a sustain level held until key off, then a release.
  ins.volume.points = {{0, 64}, {4, 52}, {16, 40}, {28, 0}};
  ins.volume.sustain = 2;
  ins.volume.type = 1 | 2;
  ins.fadeout = 0x200;
  ins.vibratoType = 0;
  ins.vibratoSweep = 0x18;
  ins.vibratoDepth = 3;
  ins.vibratoRate = 6;
  return ins;
}

XmSongInstrument drumKit() {
  int frames = (kDrumPieces[2].offset + kitSteps(0.08)) * 256;
  std::vector<double> kit(static_cast<size_t>(frames), 0.0);
  Noise noise;
  addKick(kit, kDrumPieces[0].offset * 256);
  addSnare(kit, kDrumPieces[1].offset * 256, noise);
  addHat(kit, kDrumPieces[2].offset * 256, noise);
  XmSongInstrument ins;
  ins.name = "drum kit";
  XmSongSample s;
  s.name = "kick snare hat";
  for (double x : kit) s.frames.push_back(toSample(x));
  s.relativeNote = kKitRelativeNote;
  ins.samples.push_back(s);
  // Each piece is 48 steps of 256 frames apart (0.37 s at 33452 frames/s);
  // the envelope is silent from tick 22 (0.29 s at tempo 4, BPM 187) on.
  ins.volume.points = {{0, 64}, {16, 64}, {22, 0}};
  ins.volume.type = 1;
  return ins;
}

bool composeTune(const std::string& text, XmSong& song, std::string& error) {
  Score s;
  s.song.instruments = {toneInstrument(), drumKit()};
  std::stringstream in(text);
  int lineNumber = 0;
  XmSongPattern* pattern = nullptr;
  std::vector<Writer> writers;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  for (std::string line; std::getline(in, line);) {
    lineNumber++;
    std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    int index = 0;
    if (w[0] == "pattern" && w.size() == 2 && number(w[1], 0, 255, index)) {
      if (index != static_cast<int>(s.song.patterns.size()))
        return fail("patterns come in order: expected " + std::to_string(s.song.patterns.size()));
      if (s.channels.empty() || s.rows % s.step)
        return fail("channels and a step that divides the rows come before the patterns");
      s.song.channels = static_cast<int>(s.channels.size());
      s.song.patterns.push_back(makeXmPattern(s.rows, s.song.channels));
      pattern = &s.song.patterns.back();
      writers.clear();
      for (size_t c = 0; c < s.channels.size(); c++) writers.push_back({*pattern, s.channels[c], static_cast<int>(c)});
      continue;
    }
    auto channel = std::find_if(s.channels.begin(), s.channels.end(), [&](const Channel& c) { return c.name == w[0]; });
    if (channel == s.channels.end()) {
      if (pattern) return fail("no channel '" + w[0] + "'");
      if (!header(w, s, error)) return fail(error);
      continue;
    }
    if (!pattern) return fail("channel line before the first pattern");
    if (static_cast<int>(w.size()) - 1 != s.rows / s.step)
      return fail(std::to_string(w.size() - 1) + " steps, not " + std::to_string(s.rows / s.step));
    Writer& writer = writers[static_cast<size_t>(channel - s.channels.begin())];
    for (size_t i = 1; i < w.size(); i++)
      if (!writer.token(w[i], static_cast<int>(i - 1) * s.step, s.step, s, error)) return fail(error);
  }
  for (uint8_t order : s.song.orders)
    if (order >= s.song.patterns.size())
      return fail("order names pattern " + std::to_string(order) + ", which the score lacks");
  if (s.song.orders.empty()) return fail("no orders");
  song = s.song;
  return true;
}
