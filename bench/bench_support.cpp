#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

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

void SettleDisk() {
  // start /unix does not wait for the host's program, even with /wait: the
  // program leaves a mark when done, where the prefix's Z: drive sees the
  // host's root.
  const std::string mark = "/tmp/ark_bench_settled_" + std::to_string(GetCurrentProcessId());
  std::string seen = "Z:" + mark;
  for (char& c : seen)
    if (c == '/') c = '\\';
  DeleteFileA(seen.c_str());
  if (RunChild("start.exe /unix /bin/sh -c \"sync; : >" + mark + "\"", 60000) != 0) return;
  for (int waited = 0; waited < 60000 && GetFileAttributesA(seen.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 5)
    Sleep(5);
  DeleteFileA(seen.c_str());
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

TreeGenerator::TreeGenerator(unsigned subKeys, unsigned values) : random_(20040106) {
  leaves_ = subKeys > kGroups * (1 + kSections) ? (subKeys - kGroups * (1 + kSections)) / (kGroups * kSections) : 1;
  valuesPerKey_.assign(size_t(kGroups) * (1 + kSections * (1 + leaves_)), 0);
  for (unsigned v = 0; v < values; ++v) ++valuesPerKey_[random_() % valuesPerKey_.size()];
}

namespace {

std::string Numbered(const char* stem, unsigned n) {
  char name[48];
  snprintf(name, sizeof name, "%s%03u", stem, n);
  return name;
}

}  // namespace

LONG TreeGenerator::Create(HKEY parent, const char* name) {
  nextKey_ = 0;
  RegKey top;
  LONG status = RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_WRITE, nullptr, top.out(), nullptr);
  for (unsigned g = 0; g < kGroups && status == ERROR_SUCCESS; ++g)
    status = CreateKey(top.get(), Numbered("Group", g), 0);
  return status;
}

LONG TreeGenerator::CreateKey(HKEY parent, const std::string& name, int level) {
  RegKey key;
  LONG status = RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.out(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  const unsigned valueCount = valuesPerKey_[nextKey_++];
  for (unsigned i = 0; i < valueCount && status == ERROR_SUCCESS; ++i) status = SetValue(key.get(), i);
  const unsigned children = level == 0 ? kSections : level == 1 ? leaves_ : 0;
  for (unsigned c = 0; c < children && status == ERROR_SUCCESS; ++c)
    status = CreateKey(key.get(), Numbered(level == 0 ? "Section" : "Leaf", c), level + 1);
  return status;
}

std::string TreeGenerator::Text(size_t length) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .-_";
  std::string text(length, ' ');
  for (char& c : text) {
    const unsigned pick = Below(100);
    c = pick == 0 ? '"' : pick < 4 ? '\\' : kChars[Below(sizeof kChars - 1)];
  }
  return text;
}

size_t TreeGenerator::BinaryLength() {
  const unsigned pick = Below(100);
  if (pick < 5) return 0;
  if (pick < 60) return 1 + Below(16);
  if (pick < 90) return 17 + Below(112);
  if (pick < 99) return 129 + Below(896);
  return 1025 + Below(7168);
}

LONG TreeGenerator::SetValue(HKEY key, unsigned index) {
  std::string name;
  if (index > 0 || Below(4) != 0) name = Numbered("Value", index) + (Below(20) == 0 ? " \"quoted\" \\ name" : "");
  DWORD type;
  std::string data;
  const unsigned pick = Below(100);
  if (pick < 35) {
    type = REG_SZ;
    data = Text(Below(64)) + '\0';
  } else if (pick < 60) {
    type = REG_DWORD;
    const uint32_t value = uint32_t(random_());
    data.assign(reinterpret_cast<const char*>(&value), sizeof value);
  } else if (pick < 80) {
    type = REG_BINARY;
    data.resize(BinaryLength());
    for (char& c : data) c = char(random_());
  } else if (pick < 90) {
    type = REG_EXPAND_SZ;
    data = "%SystemRoot%\\System32\\" + Text(4 + Below(20)) + ".dll" + '\0';
  } else {
    type = REG_MULTI_SZ;
    for (unsigned n = 1 + Below(5); n > 0; --n) data += Text(1 + Below(24)) + '\0';
    data += '\0';
  }
  return RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
}

unsigned CountSections(std::string_view bytes) {
  const bool wide = bytes.size() >= 2 && bytes[0] == '\xff' && bytes[1] == '\xfe';
  const size_t step = wide ? 2 : 1;
  unsigned sections = 0;
  for (size_t i = 0; i + 2 * step < bytes.size(); i += step)
    if (bytes[i] == '\n' && bytes[i + step] == '[' && bytes[i + 2 * step] != '-') ++sections;
  return sections;
}

std::string ReadFileBytes(const std::string& path) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes(size_t(FileSize(path)), '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size()) return {};
  return bytes;
}

// Writes bytes `repeat` times over into a new file.
static bool WriteRepeated(const std::string& path, const std::string& bytes, unsigned repeat) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  for (unsigned i = 0; i < repeat; ++i) {
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) || written != bytes.size())
      return false;
  }
  return true;
}

bool CreateSourceTree(const std::string& root, unsigned smallFiles, unsigned folders, unsigned largeFiles,
                      unsigned largeMegabytes) {
  constexpr unsigned kSubFolders = 5;
  std::mt19937 random(20040106);
  std::string block(1 << 20, '\0');
  for (char& c : block) c = char(random());
  for (unsigned i = 0; i < largeFiles; ++i)
    if (!WriteRepeated(root + "large" + std::to_string(i) + ".bin", block, largeMegabytes)) return false;

  std::vector<std::string> leaves;
  for (unsigned f = 0; f * kSubFolders < folders; ++f) {
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
