// The About box's tune: the committed module is what its score makes, it has
// the layout the program expects, and rendered it sounds like music: never
// silent, never clipping, its onsets on a steady grid of eighth notes.
#include "songs.h"
#include "tune.h"

#include <doctest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string readSource(const std::string& relative) {
  std::ifstream in(std::string(XM_SOURCE_ROOT) + "/" + relative, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

XmSong composedSong() {
  XmSong song;
  std::string error;
  REQUIRE_MESSAGE(composeTune(readSource("tools/tune/score.txt"), song, error), error);
  return song;
}

// Energy of each tick of mono output, and its rises (onset strength).
std::vector<double> onsets(const std::vector<int16_t>& pcm, int hop) {
  std::vector<double> energy, rise;
  for (size_t start = 0; start + 2 * hop <= pcm.size(); start += 2 * static_cast<size_t>(hop)) {
    double e = 0;
    for (size_t i = start; i < start + 2 * hop; i += 2) {
      double x = (pcm[i] + pcm[i + 1]) / 2.0;
      e += x * x;
    }
    energy.push_back(std::sqrt(e / hop));
  }
  rise.push_back(0);
  for (size_t i = 1; i < energy.size(); i++) rise.push_back(std::max(0.0, energy[i] - energy[i - 1]));
  return rise;
}

double autocorrelation(const std::vector<double>& o, size_t lag) {
  double together = 0, alone = 0;
  for (size_t i = 0; i + lag < o.size(); i++) {
    together += o[i] * o[i + lag];
    alone += o[i] * o[i];
  }
  return together / alone;
}

}  // namespace

TEST_CASE("the committed tune is what the score makes; never silent, no clipping, onsets on the beat") {
  const XmSong song = composedSong();
  const std::vector<uint8_t> made = writeXm(song);
  CHECK(readSource("resources/tune.xm") == std::string(made.begin(), made.end()));

  LoadedSong t(song);
  REQUIRE(t.m);
  const int tick = t.m->tickFrames;
  REQUIRE(tick == 589);
  const int eighth = 16;  // ticks: four rows of four
  const int loopFrames = 8 * 12 * eighth * tick;
  std::vector<int16_t> pcm = renderXm(t.m, loopFrames);

  // Every half second holds sound, and no value reaches the 16-bit rails.
  int quiet = 0, railed = 0;
  const size_t window = 2 * XM_OUTPUT_RATE / 2;
  for (size_t start = 0; start + window <= pcm.size(); start += window) {
    double e = 0;
    for (size_t i = start; i < start + window; i++) e += double(pcm[i]) * pcm[i];
    quiet += std::sqrt(e / window) < 1000;  // -30 dBFS
  }
  for (int16_t v : pcm) railed += v == 32767 || v == -32768;
  CHECK(quiet == 0);
  CHECK(railed == 0);

  // The notes and drums start on eighth notes: the rises of loudness on the
  // first tick of an eighth outweigh those on any other tick by far, and
  // they repeat with the bar and the beat, not half an eighth apart.
  std::vector<double> o = onsets(pcm, tick);
  std::vector<double> byTick(eighth);
  for (size_t i = 0; i < o.size(); i++) byTick[i % eighth] += o[i];
  const double offGrid = *std::max_element(byTick.begin() + 1, byTick.end());
  const double bar = autocorrelation(o, 6 * eighth), beat = autocorrelation(o, 3 * eighth);
  const double halfEighth = autocorrelation(o, eighth / 2);
  MESSAGE("first tick " << byTick[0] / offGrid << " x the next strongest; bar " << bar << ", beat " << beat
                        << ", half an eighth " << halfEighth);
  CHECK(byTick[0] > 4 * offGrid);
  CHECK(bar > 0.5);
  CHECK(beat > 0.4);
  CHECK(halfEighth < bar / 3);
}
