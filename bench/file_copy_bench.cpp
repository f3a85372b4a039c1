// Copies a generated tree of many small files and a few large ones with the
// own copy (CopyFiles on "<tree>\*.*" with sub-directories) and with the
// system's xcopy (/e /h /k), each into a fresh destination, and prints how the
// times compare.
//
// Usage: file_copy_bench [small files [large files [MB per large file [rounds]]]]
// (default 5000 small files, 4 large files of 64 MB, 3 rounds). Every copy is
// checked against the source tree (files, folders, bytes) and removed before
// the next one, so at most two trees are on disk at a time.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/handles.h"
#include "message_ids.h"
#include "operations/file_copy.h"

namespace {

constexpr DWORD kXcopyTimeoutMs = 10 * 60 * 1000;
constexpr unsigned kLeafFolders = 50;  // where the small files go

}  // namespace

int main(int argc, char** argv) {
  const unsigned smallFiles = Argument(argc, argv, 1, 5000);
  const unsigned largeFiles = Argument(argc, argv, 2, 4);
  const unsigned largeMegabytes = Argument(argc, argv, 3, 64);
  const unsigned rounds = Argument(argc, argv, 4, 3);
  if (!rounds) {
    printf("usage: file_copy_bench [small files [large files [MB per large file [rounds]]]]\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);

  const ScratchFolder folder("ArkivantoBenchFiles");
  const std::string source = folder / "source\\";
  CreateDirectoryA(source.c_str(), nullptr);
  const Stopwatch generation;
  if (!CreateSourceTree(source, smallFiles, kLeafFolders, largeFiles, largeMegabytes)) {
    printf("creating the source tree failed with error %lu\n", GetLastError());
    return 1;
  }
  const TreeCount expected = CountTree(source);
  printf("file copy: generated %llu files in %llu folders, %.1f MB, in %.1f s\n",
         static_cast<unsigned long long>(expected.files), static_cast<unsigned long long>(expected.folders),
         double(expected.bytes) / (1 << 20), generation.Seconds());

  std::vector<double> own, xcopy, windowTimes;
  // Each copy goes into a fresh destination that the next copy never sees.
  const auto timeCopy = [&](const char* who, unsigned round, std::vector<double>* times, auto copy) {
    const std::string destination = folder / (std::string(who) + std::to_string(round) + "\\");
    const Stopwatch clock;
    const int result = copy(destination);
    const double seconds = clock.Seconds();
    const TreeCount copied = CountTree(destination);
    RemoveTree(destination);
    if (result != 0 || !(copied == expected)) {
      printf("%s failed: result %d, %llu of %llu files, %llu of %llu bytes\n", who, result,
             static_cast<unsigned long long>(copied.files), static_cast<unsigned long long>(expected.files),
             static_cast<unsigned long long>(copied.bytes), static_cast<unsigned long long>(expected.bytes));
      return false;
    }
    times->push_back(seconds);
    return true;
  };
  const auto ownCopy = [&](const std::string& destination) {
    CopyReport report;
    return CopyFiles((source + "*.*").c_str(), destination.c_str(), 1, &report);
  };
  const auto systemCopy = [&](const std::string& destination) {
    return RunChild("xcopy.exe \"" + source + "*.*\" \"" + destination + "\" /e /h /k /i /q /y", kXcopyTimeoutMs);
  };
  for (unsigned round = 0; round < rounds; ++round) {
    // Alternate which copy goes first, so neither always meets the
    // write-back of the other.
    const bool ok = round % 2 ? timeCopy("xcopy", round, &xcopy, systemCopy) && timeCopy("own", round, &own, ownCopy)
                              : timeCopy("own", round, &own, ownCopy) && timeCopy("xcopy", round, &xcopy, systemCopy);
    if (!ok) return 1;
    windowTimes.push_back(TimeProgressWindow(IDS_CAPTION_COPYING));
  }

  printf("file copy (%llu files, %.1f MB): own %.3f s [%s], xcopy %.3f s [%s]\n",
         static_cast<unsigned long long>(expected.files), double(expected.bytes) / (1 << 20), Median(own),
         JoinSeconds(own).c_str(), Median(xcopy), JoinSeconds(xcopy).c_str());
  printf("file copy progress window shown and destroyed alone: %.3f s [%s]\n", Median(windowTimes),
         JoinSeconds(windowTimes).c_str());
  printf("file copy ratio own/xcopy: %.2f (target: at most 1.00)\n", Median(own) / Median(xcopy));
  return 0;
}
