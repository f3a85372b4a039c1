#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/handles.h"
#include "operations/progress_window.h"

Stopwatch::Stopwatch() { QueryPerformanceCounter(&start_); }

double Stopwatch::Seconds() const {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start_.QuadPart) / double(frequency.QuadPart);
}

int RunChild(const std::string& commandLine, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  FileHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr));
  if (!nul) return -1;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
  PROCESS_INFORMATION started = {};
  std::string line = commandLine;  // CreateProcessA may write into it
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started))
    return -1;
  FileHandle thread(started.hThread), process(started.hProcess);
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    return -1;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return -1;
  return int(code);
}

namespace {

template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
  if (!search) return;
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) visit(found);
  } while (FindNextFileA(search.get(), &found));
}

bool IsFolder(const WIN32_FIND_DATAA& found) { return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

std::string WithoutSeparator(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

void RemoveTree(const std::string& path) {
  const std::string base = WithoutSeparator(path);
  const DWORD attributes = GetFileAttributesA(base.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(base.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(base.c_str());
    return;
  }
  ForEachEntry(base, [&](const WIN32_FIND_DATAA& found) { RemoveTree(base + "\\" + found.cFileName); });
  RemoveDirectoryA(base.c_str());
}

TreeCount CountTree(const std::string& folder) {
  TreeCount count;
  const std::string base = WithoutSeparator(folder);
  ForEachEntry(base, [&](const WIN32_FIND_DATAA& found) {
    if (IsFolder(found)) {
      const TreeCount below = CountTree(base + "\\" + found.cFileName);
      count.folders += below.folders + 1;
      count.files += below.files;
      count.bytes += below.bytes;
    } else {
      count.files += 1;
      count.bytes += uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    }
  });
  return count;
}

ScratchFolder::ScratchFolder(const char* name) {
  char temp[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  path_ = std::string(temp, length < sizeof temp ? length : 0);
  if (!path_.empty() && path_.back() != '\\') path_ += '\\';
  path_ += name;
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
  path_ += '\\';
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

double TimeProgressWindow(int captionId) {
  const Stopwatch clock;
  { const ProgressWindow window(captionId); }
  return clock.Seconds();
}

unsigned Argument(int argc, char** argv, int index, unsigned fallback) {
  return argc > index ? unsigned(strtoul(argv[index], nullptr, 10)) : fallback;
}

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string JoinSeconds(const std::vector<double>& values) {
  std::string out;
  for (double v : values) {
    char piece[32];
    snprintf(piece, sizeof piece, "%s%.3f", out.empty() ? "" : " ", v);
    out += piece;
  }
  return out;
}
