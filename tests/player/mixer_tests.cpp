// Mixing, chunk rendering and conversion, checked sample by sample, and the
// pitch of rendered notes measured from the output.
#include "songs.h"
#include "values.h"

#include <doctest.h>

#include <cmath>
#include <vector>

namespace {

// Songs of 64 rows, longer than a second: no repeated notes. Their modules
// provide the samples with the loader's conversions and guard frame.
constexpr int ROWS = 64;

// A voice that plays s at a fixed step with settled gains (no ramp).
XmVoice& settledVoice(int index, XmSample* s, uint64_t step, int gainLeft, int gainRight) {
  XmVoice& v = xmVoices[index];
  v = XmVoice{};
  v.index = index;
  v.sample = s;
  v.direction = 1;
  v.stepWhole = static_cast<uint32_t>(step >> 32);
  v.stepFraction = static_cast<uint32_t>(step);
  v.gainLeft = v.lastGainLeft = gainLeft;
  v.gainRight = v.lastGainRight = gainRight;
  v.currentLeft = gainLeft * 256;
  v.currentRight = gainRight * 256;
  return v;
}

std::vector<float> mix(int frames) {
  std::vector<float> out(2 * static_cast<size_t>(frames), 0.0f);
  xmMix(out.data(), frames);
  return out;
}

// The left channel of mixed frames, frame by frame: exact, or within a
// relative epsilon.
void checkLeft(const std::vector<float>& out, const std::vector<float>& left, double epsilon = 0) {
  REQUIRE(out.size() >= 2 * left.size());
  for (size_t i = 0; i < left.size(); i++) {
    CAPTURE(i);
    if (epsilon > 0)
      CHECK(out[2 * i] == doctest::Approx(left[i]).epsilon(epsilon));
    else
      CHECK(out[2 * i] == left[i]);
  }
}

constexpr uint64_t ONE = 1ull << 32;

}  // namespace

TEST_CASE("a sample without loop plays to its end and falls silent; the empty sample adds nothing") {
  LoadedSong s(basicSong(1, ROWS, {.frames = {100, 200, 300, 400}}));
  XmVoice& v = settledVoice(0, s.m->instruments[0].samples[0], ONE / 2, 255, 0);
  XmVoice& empty = settledVoice(1, &xmEmptySample, ONE, 255, 255);
  std::vector<float> out = mix(12);  // 200: towards the zero past the end
  checkLeft(out, {100, 150, 200, 250, 300, 350, 400, 200, 0, 0, 0, 0});
  for (size_t i = 1; i < out.size(); i += 2) CHECK(out[i] == 0);
  CHECK(v.sample == nullptr);
  CHECK(v.position == 0);
  CHECK(empty.sample == nullptr);
}

TEST_CASE("a forward loop shorter than the step wraps by whole loop lengths") {
  const std::vector<int16_t> rising = {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000};
  LoadedSong s(basicSong(1, ROWS, {.frames = rising, .loopStart = 4, .loopLength = 4, .loopType = 1}));
  XmVoice& v = settledVoice(0, s.m->instruments[0].samples[0], 5 * ONE, 255, 255);
  checkLeft(mix(9), {0, 5000, 6000, 7000, 4000, 5000, 6000, 7000, 4000});
  CHECK(v.position == 5);

  // Started past the loop end, a voice plays on to the sample end first.
  LoadedSong early(basicSong(1, ROWS, {.frames = rising, .loopLength = 4, .loopType = 1}));
  settledVoice(0, early.m->instruments[0].samples[0], ONE, 255, 255).position = 5;
  checkLeft(mix(5), {5000, 6000, 7000, 0, 1000});
}

TEST_CASE("a ping-pong loop reflects at both ends and keeps its direction across chunks") {
  LoadedSong s(basicSong(
      1, ROWS, {.frames = {0, 1000, 2000, 3000, 4000, 5000}, .loopStart = 2, .loopLength = 4, .loopType = 2}));
  XmSample* smp = s.m->instruments[0].samples[0];
  const int frames = 600;
  settledVoice(0, smp, ONE * 3 / 4, 255, 255);
  std::vector<float> whole = mix(frames);
  XmVoice end = xmVoices[0];

  settledVoice(0, smp, ONE * 3 / 4, 255, 255);
  std::vector<float> pieces(2 * frames, 0.0f);
  const int sizes[] = {1, 7, 13, 2, 100, 31};
  for (int done = 0, k = 0; done < frames; k++) {
    int n = std::min(sizes[k % 6], frames - done);
    xmMix(pieces.data() + 2 * done, n);
    done += n;
  }
  CHECK(pieces == whole);
  CHECK(Values{xmVoices[0].position, xmVoices[0].fraction, xmVoices[0].direction} ==
        Values{end.position, end.fraction, end.direction});

  // Landing exactly on the loop start plays that frame before turning.
  LoadedSong z(basicSong(1, ROWS, {.frames = {0, 1000, 2000, 3000, 4000}, .loopLength = 4, .loopType = 2}));
  XmVoice& back = settledVoice(0, z.m->instruments[0].samples[0], ONE, 255, 255);
  back.position = 2;
  back.direction = 2;
  checkLeft(mix(6), {2000, 1000, 0, 1000, 2000, 3000}, 0.001);
  CHECK(back.direction == 1);

  // Unfolded, the position runs 0..6 once, then round the loop [2, 6)
  // forward and back; the frames rise by 1000 to 5000 at frame 5.
  for (int t = 0; t < frames; t++) {
    double p = 0.75 * t;
    if (p >= 6) {
      double u = std::fmod(p - 2, 8);
      p = u < 4 ? 2 + u : 10 - u;
    }
    CAPTURE(t);
    CHECK(whole[2 * t] == doctest::Approx(1000 * std::min(p, 5.0)).epsilon(0.001));
  }
}

TEST_CASE("gain changes ramp over 128 frames, also across calls") {
  LoadedSong s(basicSong(1, ROWS, flatSample(64, 10000)));
  XmVoice& v = settledVoice(0, s.m->instruments[0].samples[0], ONE, 0, 0);
  v.gainLeft = 127;  // a new note: from silence up to its target
  std::vector<float> first = mix(50), rest = mix(250);
  first.insert(first.end(), rest.begin(), rest.end());
  const double full = 10000.0 * 127 / 255;
  for (int i = 0; i < 300; i++) {
    CAPTURE(i);
    double expected = i < 128 ? full * i / 128 : full;
    CHECK(first[2 * i] == doctest::Approx(expected).epsilon(1e-4));
    CHECK(first[2 * i + 1] == 0);
  }
  CHECK(Values{v.currentLeft, v.rampFramesLeft} == Values{127 * 256, 0});
  v.gainLeft = 0;
  std::vector<float> down = mix(200);
  CHECK(down[2 * 64] == doctest::Approx(full / 2).epsilon(1e-3));
  CHECK(down[2 * 128] == 0);
  CHECK(v.sample != nullptr);  // silent, but still running
}

TEST_CASE("a new note crossfades with the old one on its partner voice") {
  XmSong song = basicSong(1, ROWS, flatSample(64, 16000));
  song.patterns[0].at(0, 0) = {49, 1, 0, 0, 0};
  song.patterns[0].at(1, 0) = {49, 1, 0, 0, 0};
  LoadedSong s(song);
  const int row = 6 * 882;
  std::vector<float> out(2 * row);
  xmRenderFrames(s.m, out.data(), row);
  const float steady = out[2 * (row - 1)];
  CHECK(steady == doctest::Approx(16000.0 * 63 / 255));
  xmRenderFrames(s.m, out.data(), 300);
  for (int i = 0; i < 300; i++) CHECK(out[2 * i] == doctest::Approx(steady).epsilon(1e-4));
  CHECK(xmVoices[0].sample != nullptr);
  CHECK(Values{xmVoices[0].currentLeft, xmVoices[32].currentLeft} == Values{0, 63 * 256});
}

TEST_CASE("conversion rounds to nearest even and clips; hard-panned voices clip beyond two") {
  const float in[8] = {0.5f, 1.5f, 2.5f, -0.5f, -1.5f, 40000.0f, -40000.0f, 32767.4f};
  int16_t out[8];
  xmConvert(out, in, 4);
  CHECK(Values(out, out + 8) == Values{0, 2, 2, 0, -2, 32767, -32768, 32767});

  for (int voices : {1, 3}) {
    XmSongSample loud = flatSample(64, 32767);
    loud.panning = 0;
    XmSong song = basicSong(voices, ROWS, loud);
    for (int c = 0; c < voices; c++) song.patterns[0].at(0, c) = {49, 1, 0, 0, 0};
    LoadedSong s(song);
    std::vector<float> mixed(2 * 400);
    xmRenderFrames(s.m, mixed.data(), 400);
    int16_t frame[2];
    xmConvert(frame, &mixed[2 * 399], 1);
    CAPTURE(voices);
    CHECK(frame[0] == (voices == 1 ? 16319 : 32767));  // 32767 x 127/255, or clipped
    CHECK(frame[1] == 0);
  }
}

TEST_CASE("BPM 125 ticks of 882 frames carry across 884-frame chunks into the ring") {
  XmSong song = basicSong(1, 8);
  song.patterns[0].at(0, 0) = {49, 1, 0, 0, 0};
  LoadedSong s(song);
  static int ticks;
  ticks = 0;
  s.m->tickHandler = [](XmModule* m) {
    ticks++;
    xmTick(m);
  };
  REQUIRE(xmAllocateRenderBuffers());
  xmPlayback.playingModule = s.m;
  xmPlayback.writeChunk = 0;
  xmRenderChunk();
  CHECK(Values{ticks, s.m->tickFramesLeft, xmPlayback.writeChunk} == Values{2, 880, 1});
  xmRenderChunk();
  CHECK(Values{ticks, s.m->tickFramesLeft} == Values{3, 878});
  for (int i = 2; i < XM_RING_CHUNKS; i++) xmRenderChunk();
  CHECK(Values{ticks, s.m->tickFramesLeft, xmPlayback.writeChunk} == Values{101, 101 * 882 - XM_RING_FRAMES, 0});
  int differences = 0, sounding = 0;
  for (int i = 0; i < XM_RING_FRAMES * 2; i++) {
    differences += xmPlayback.ringBuffer[i] != std::lrint(xmPlayback.mixArea[i]);
    sounding += xmPlayback.ringBuffer[i] != 0;
  }
  CHECK(differences == 0);
  CHECK(sounding > XM_RING_FRAMES);
  CHECK(xmStop(s.m));
  CHECK(xmPlayback.ringBuffer == nullptr);
  CHECK(xmPlayback.playingModule == nullptr);
}

#ifndef _WIN32
// The Windows build plays through its wave-out device; tests/about_test.cpp
// covers that output, with and without a device.
TEST_CASE("without a device xmPlay resets the replayer and fails; stop still succeeds") {
  LoadedSong s(basicSong(1, 8));
  CHECK_FALSE(xmPlay(nullptr));
  xmTick(s.m);
  xmTick(s.m);
  xmVoices[40].sample = &xmEmptySample;
  CHECK_FALSE(xmPlay(s.m));
  CHECK(Values{s.m->tick, s.m->row, s.m->tickFramesLeft} == Values{0, 0, 0});
  CHECK(xmVoices[40].sample == nullptr);
  CHECK(xmPlayback.playingModule == s.m);
  CHECK(xmStop(s.m));
  CHECK(xmPlayback.playingModule == nullptr);
}
#endif

TEST_CASE("rendered notes have the pitch of their table") {
  struct Case {
    bool linear;
    uint8_t note;
    int8_t relativeNote;
    double hz;  // the sample rate of the note over 64 frames a cycle
  };
  const Case cases[] = {
      {true, 49, 0, 8363 / 64.0},
      {true, 73, 0, 8363 * 4 / 64.0},
      {true, 49, 9, 8363 * std::pow(2, 9 / 12.0) / 64},
      {false, 49, 0, 8362 / 64.0},
      {false, 73, 0, 14317056 / 428 / 64.0},
      {false, 58, 0, 14317056 / 1017 / 64.0},
  };
  for (const Case& c : cases) {
    XmSongSample sine = sineSample(256, 4);
    sine.relativeNote = c.relativeNote;
    XmSong song = basicSong(1, ROWS, sine);
    song.linear = c.linear;
    song.patterns[0].at(0, 0) = {c.note, 1, 0, 0, 0};
    LoadedSong s(song);
    const int frames = 44100;
    std::vector<float> out(2 * frames);
    xmRenderFrames(s.m, out.data(), frames);
    // Rising zero crossings, placed between frames by linear interpolation.
    double first = -1, last = 0;
    int crossings = 0;
    for (int i = 1000; i < frames; i++) {
      float a = out[2 * (i - 1)], b = out[2 * i];
      if (a < 0 && b >= 0) {
        last = i - 1 + a / (a - b);
        if (first < 0) first = last;
        crossings++;
      }
    }
    CAPTURE(c.note);
    CAPTURE(c.linear);
    CHECK((crossings - 1) / (last - first) * 44100 == doctest::Approx(c.hz).epsilon(0.001));
  }
}
