// What the benchmark programs need: a clock, child processes, scratch
// folders, the generated key and file trees they work on, and a little
// arithmetic over repeated measurements.
#pragma once

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// Seconds since construction, from the performance counter.
class Stopwatch {
 public:
  Stopwatch();
  double Seconds() const;

 private:
  LARGE_INTEGER start_;
};

// Runs a command line with no window and its output thrown away, waits for it
// (at most timeoutMs) and returns its exit code, or -1 when it could not be
// started or did not end in time.
int RunChild(const std::string& commandLine, DWORD timeoutMs);

// Has the host write back what earlier rounds left in its page cache, so
// that no timed run pays for another's writes. Under wine this is the host's
// sync(1), waited for; where there is no host, it does nothing.
void SettleDisk();

// A fresh, empty folder below the temporary folder (ends in "\\"); an older
// one of the same name is removed first. The destructor removes it again.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

// Removes a file or a folder with everything below it (read-only files too).
void RemoveTree(const std::string& path);

struct TreeCount {
  uint64_t files = 0, folders = 0, bytes = 0;
  bool operator==(const TreeCount&) const = default;
};
// Files, folders and file bytes below a folder (the folder itself not counted).
TreeCount CountTree(const std::string& folder);

// What showing and destroying the operations' progress window costs by
// itself, in seconds: a share of every operation that does not grow with its
// work.
double TimeProgressWindow(int captionId);

// The number given as command-line argument `index`, or fallback without one.
unsigned Argument(int argc, char** argv, int index, unsigned fallback);

uint64_t FileSize(const std::string& path);  // 0 when missing
double Median(std::vector<double> values);
// "1.234 2.345 3.456": every round, for the record beside the median.
std::string JoinSeconds(const std::vector<double>& values);

// A key tree for the registry benchmarks: groups of sections of leaves, three
// levels deep, with the values scattered at random over all its keys (so some
// keys hold none and a few hold a dozen or more), of every type the writers
// format, with now and then a backslash or a quote to escape.
class TreeGenerator {
 public:
  TreeGenerator(unsigned subKeys, unsigned values);
  unsigned KeyCount() const { return unsigned(valuesPerKey_.size()); }
  // Creates the tree below parent as the key `name`. Returns the first
  // registry failure, or ERROR_SUCCESS.
  LONG Create(HKEY parent, const char* name);

 private:
  static constexpr unsigned kGroups = 20, kSections = 9;
  LONG CreateKey(HKEY parent, const std::string& name, int level);
  unsigned Below(unsigned n) { return unsigned(random_() % n); }
  std::string Text(size_t length);
  size_t BinaryLength();
  LONG SetValue(HKEY key, unsigned index);

  std::mt19937 random_;
  unsigned leaves_ = 0;
  std::vector<unsigned> valuesPerKey_;  // in creation order, depth first
  size_t nextKey_ = 0;
};

// The number of keys in the text of a registration file: its section lines,
// in the own writer's 8-bit text or in the UTF-16 text the registry editor
// writes. Deletion lines ("[-") are not counted.
unsigned CountSections(std::string_view bytes);
// A whole file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The file tree for the copy benchmarks: `largeFiles` files of
// `largeMegabytes` MB at the top of root, and `smallFiles` files of 64 bytes
// to 16 KB (one in a hundred hidden) spread evenly over `folders` leaf
// folders (a multiple of five: five sub-folders in each folder of the top).
// False when it could not be written.
bool CreateSourceTree(const std::string& root, unsigned smallFiles, unsigned folders, unsigned largeFiles,
                      unsigned largeMegabytes);
