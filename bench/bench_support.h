// What both benchmark programs need: a clock, child processes, scratch
// folders and a little arithmetic over repeated measurements.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
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
