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
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/handles.h"
#include "message_ids.h"
#include "operations/file_copy.h"

namespace {

constexpr DWORD kXcopyTimeoutMs = 10 * 60 * 1000;
constexpr unsigned kFolders = 10, kSubFolders = 5;  // small files go into the sub-folders

// Writes bytes `repeat` times over into a new file.
bool WriteRepeated(const std::string& path, const std::string& bytes, unsigned repeat) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) return false;
  for (unsigned i = 0; i < repeat; ++i) {
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) || written != bytes.size())
      return false;
  }
  return true;
}

// The source tree: the large files at the top, the small ones (64 bytes to
// 16 KB, one in a hundred hidden) spread evenly over the sub-folders of a
// few folders.
bool CreateSourceTree(const std::string& root, unsigned smallFiles, unsigned largeFiles, unsigned largeMegabytes) {
  std::mt19937 random(20040106);
  std::string block(1 << 20, '\0');
  for (char& c : block) c = char(random());
  for (unsigned i = 0; i < largeFiles; ++i)
    if (!WriteRepeated(root + "large" + std::to_string(i) + ".bin", block, largeMegabytes)) return false;

  std::vector<std::string> leaves;
  for (unsigned f = 0; f < kFolders; ++f) {
    const std::string folder = root + "folder" + std::to_string(f) + "\\";
    if (!CreateDirectoryA(folder.c_str(), nullptr)) return false;
    for (unsigned s = 0; s < kSubFolders; ++s) {
      leaves.push_back(folder + "sub" + std::to_string(s) + "\\");
      if (!CreateDirectoryA(leaves.back().c_str(), nullptr)) return false;
    }
  }
  for (unsigned i = 0; i < smallFiles; ++i) {
    const std::string path = leaves[i % leaves.size()] + "file" + std::to_string(i) + ".dat";
    const size_t size = 64 + random() % (16 * 1024 - 64);
    if (!WriteRepeated(path, block.substr(random() % (block.size() - size), size), 1)) return false;
    if (i % 100 == 99 && !SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN)) return false;
  }
  return true;
}

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
  if (!CreateSourceTree(source, smallFiles, largeFiles, largeMegabytes)) {
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
