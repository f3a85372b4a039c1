// Offline rendering speed of the player, as multiples of real time, and a
// count of the allocations made while rendering (there should be none).
//
//   xm_bench                 the built-in 4- and 32-channel modules
//   xm_bench FILE [SECONDS]  any module file, SECONDS of music (default 60)
#include "xm_engine.h"
#include "xm_writer.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Counting allocator. The engine allocates with calloc; the C++ operators
// land in malloc. Sanitizers bring their own malloc, so there only operator
// new is counted.

namespace {
std::atomic<long> allocations{0};
}

// g++ sets __SANITIZE_ADDRESS__; clang answers through __has_feature, which
// g++ before 14 lacks, and an undefined function-like macro in the same #if
// as its defined() test does not parse.
#if defined(__SANITIZE_ADDRESS__)
#define XM_BENCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XM_BENCH_ASAN 1
#endif
#endif

#if defined(__GLIBC__) && !defined(XM_BENCH_ASAN)
#define XM_BENCH_COUNTS_MALLOC 1
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  allocations++;
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
  allocations++;
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  allocations++;
  return __libc_realloc(p, n);
}
}
#else
void* operator new(size_t n) {
  allocations++;
  if (void* p = std::malloc(n ? n : 1)) return p;
  std::abort();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

XmSongSample sine(int frames, int cycles, uint8_t loopType) {
  XmSongSample s;
  for (int i = 0; i < frames; i++)
    s.frames.push_back(static_cast<int16_t>(std::lround(9000 * std::sin(2 * std::numbers::pi * cycles * i / frames))));
  s.loopType = loopType;
  s.loopStart = loopType == 2 ? static_cast<uint32_t>(frames / 4) : 0;
  s.loopLength = static_cast<uint32_t>(frames) - s.loopStart;
  return s;
}

// Every channel starts a note on every row, so each channel keeps its voice
// and the partner voice fading the previous note busy, under envelopes,
// vibrato, arpeggio and slides.
XmSong busySong(int channels) {
  XmSong song;
  song.channels = channels;
  song.tempo = 3;
  song.bpm = 140;
  song.orders = {0, 1};
  const uint8_t effects[4][2] = {{0x4, 0x46}, {0x0, 0x37}, {0xA, 0x01}, {0x6, 0x10}};
  for (int p = 0; p < 2; p++) {
    XmSongPattern pattern = makeXmPattern(64, channels);
    for (int row = 0; row < 64; row++)
      for (int c = 0; c < channels; c++) {
        const uint8_t* e = effects[(row + c + p) % 4];
        pattern.at(row, c) = {static_cast<uint8_t>(37 + (row * 5 + c * 7 + p * 3) % 36),
                              static_cast<uint8_t>(1 + (c + row) % 3), 0, e[0], e[1]};
      }
    song.patterns.push_back(pattern);
  }
  const XmSongSample samples[3] = {sine(2048, 16, 1), sine(1000, 10, 2), sine(4410, 30, 1)};
  for (const XmSongSample& s : samples) {
    XmSongInstrument ins;
    ins.samples.push_back(s);
    ins.volume = {{{0, 64}, {20, 48}, {60, 40}}, -1, 0, 0, 0, 1};
    ins.vibratoDepth = 4;
    ins.vibratoRate = 10;
    song.instruments.push_back(ins);
  }
  return song;
}

// Renders seconds of music through the ring, as the refill thread does.
bool bench(const char* label, const uint8_t* bytes, size_t size, double seconds) {
  long atLoad = allocations.load();
  XmModule* m = loadXmFromMemory(bytes, size);
  atLoad = allocations.load() - atLoad;
  if (!m) {
    std::fprintf(stderr, "%s: not a module the player loads\n", label);
    return false;
  }
  xmResetPlayback(m);
  if (!xmAllocateRenderBuffers()) {
    xmFree(m);
    return false;
  }
  xmPlayback.playingModule = m;
  xmPlayback.writeChunk = 0;
  long chunks = std::lround(seconds * XM_OUTPUT_RATE / XM_CHUNK_FRAMES);
  long before = allocations.load();
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < chunks; i++) xmRenderChunk();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long during = allocations.load() - before;
  int busy = 0;
  for (const XmVoice& v : xmVoices) busy += v.sample != nullptr;
  double frames = static_cast<double>(chunks) * XM_CHUNK_FRAMES;
  std::printf(
      "%-28s %2d channels, %2d voices sounding: %10.0f frames/s, %6.0fx real time; "
      "allocations: %ld loading, %ld rendering\n",
      label, m->channelCount, busy, frames / elapsed, frames / XM_OUTPUT_RATE / elapsed, atLoad, during);
  xmFree(m);
  return true;
}

// The file mapped with its pages present: reading it into a growing buffer
// would copy it several times and take a page fault per 4 KiB, costs the
// timed process would pay before the player starts.
struct MappedFile {
  const uint8_t* bytes = nullptr;
  size_t size = 0;

  explicit MappedFile(const char* path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
      void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (p != MAP_FAILED) {
        bytes = static_cast<const uint8_t*>(p);
        size = static_cast<size_t>(st.st_size);
      }
    }
    close(fd);
  }
  ~MappedFile() {
    if (bytes) munmap(const_cast<uint8_t*>(bytes), size);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
};

}  // namespace

int main(int argc, char** argv) {
#ifndef XM_BENCH_COUNTS_MALLOC
  std::printf("(sanitizer build: only operator new is counted, and speeds are not representative)\n");
#endif
  if (argc >= 2) {
    MappedFile file(argv[1]);
    if (!file.bytes) {
      std::perror(argv[1]);
      return 1;
    }
    double seconds = argc >= 3 ? std::atof(argv[2]) : 60;
    return bench(argv[1], file.bytes, file.size, seconds > 0 ? seconds : 60) ? 0 : 1;
  }
  std::vector<uint8_t> small = writeXm(busySong(4)), large = writeXm(busySong(32));
  bool ok = bench("4 channels (target 1500x)", small.data(), small.size(), 600);
  ok = bench("32 channels (target 300x)", large.data(), large.size(), 120) && ok;
  return ok ? 0 : 1;
}
