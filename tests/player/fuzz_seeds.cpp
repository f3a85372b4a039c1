// Writes the fuzz target's seed corpus: valid modules made by the XM writer.
#include "songs.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  int n = 0;
  for (const XmSong& song : seedSongs()) {
    std::vector<uint8_t> bytes = writeXm(song);
    std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".xm";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      std::perror(path.c_str());
      return 1;
    }
    std::fclose(f);
  }
  return 0;
}
