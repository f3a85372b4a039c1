// Writes the About box's tune from its score:
//   make_tune SCORE OUT.xm [--wav FILE [--seconds N]]
// With --wav it also renders the module with the player engine, as the
// wave-out ring plays it, into a 16-bit stereo WAV file for listening.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "tune.h"
#include "xm_engine.h"

namespace {

bool writeFile(const char* path, const void* bytes, size_t size) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

std::string wav(const std::vector<int16_t>& frames) {
  const uint32_t dataBytes = static_cast<uint32_t>(frames.size() * 2);
  std::string out = "RIFF";
  put(out, 36 + dataBytes, 4);
  out += "WAVEfmt ";
  put(out, 16, 4);
  put(out, 1, 2);  // PCM
  put(out, 2, 2);
  put(out, XM_OUTPUT_RATE, 4);
  put(out, XM_OUTPUT_RATE * 4, 4);
  put(out, 4, 2);
  put(out, 16, 2);
  out += "data";
  put(out, dataBytes, 4);
  for (int16_t v : frames) put(out, static_cast<uint16_t>(v), 2);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5 && argc != 7) {
    std::fprintf(stderr, "usage: make_tune SCORE OUT.xm [--wav FILE [--seconds N]]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string score((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  XmSong song;
  std::string error;
  if (!composeTune(score, song, error)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::vector<uint8_t> module = writeXm(song);
  if (!writeFile(argv[2], module.data(), module.size())) {
    std::fprintf(stderr, "%s: cannot write\n", argv[2]);
    return 1;
  }
  if (argc == 3) return 0;
  if (std::strcmp(argv[3], "--wav") != 0 || (argc == 7 && std::strcmp(argv[5], "--seconds") != 0)) {
    std::fprintf(stderr, "unknown option\n");
    return 2;
  }
  int seconds = argc == 7 ? std::atoi(argv[6]) : 25;
  XmModule* m = loadXmFromMemory(module);
  if (!m || seconds <= 0) {
    std::fprintf(stderr, "the written module does not load\n");
    return 1;
  }
  std::string file = wav(renderXm(m, seconds * XM_OUTPUT_RATE));
  xmFree(m);
  if (!writeFile(argv[4], file.data(), file.size())) {
    std::fprintf(stderr, "%s: cannot write\n", argv[4]);
    return 1;
  }
  return 0;
}
