#include "support/scratch.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "core/handles.h"

ScratchFolder::ScratchFolder(const char* name) {
  static unsigned counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  char unique[64];
  snprintf(unique, sizeof unique, "%s%lu_%u\\", name, GetCurrentProcessId(), ++counter);
  path_ = std::string(temp) + unique;
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

// Calls visit with the name of each file and folder in a folder, by the
// wide calls: names the code page cannot spell stay apart.
static void ForEachEntry(const std::wstring& folder, const std::function<void(const std::wstring&, bool)>& visit) {
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW((folder + L"*").c_str(), &found));
  if (!search) return;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") visit(name, found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  } while (FindNextFileW(search.get(), &found));
}

void RemoveTree(const std::string& path) {
  std::wstring folder = Wide(path);
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  std::function<void(const std::wstring&)> remove = [&](const std::wstring& at) {
    ForEachEntry(at + L"\\", [&](const std::wstring& name, bool isFolder) {
      const std::wstring child = at + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      isFolder ? remove(child) : void(DeleteFileW(child.c_str()));
    });
    RemoveDirectoryW(at.c_str());
  };
  remove(folder);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) { WriteFileWide(Wide(path), bytes); }

std::string ReadFileBytes(const std::string& path) { return ReadFileWide(Wide(path)); }

std::string ReadFileWide(const std::wstring& path) {
  FileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes(GetFileSize(file.get(), nullptr), '\0');
  DWORD got = 0;
  if (!bytes.empty()) ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr);
  bytes.resize(got);
  return bytes;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListTreeWide(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::function<void(const std::wstring&)> walk = [&](const std::wstring& relative) {
    ForEachEntry(folder + relative, [&](const std::wstring& name, bool isFolder) {
      const std::wstring entry = relative + name + (isFolder ? L"\\" : L"");
      names.push_back(entry);
      if (isFolder) walk(entry);
    });
  };
  walk(L"");
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListTree(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::wstring& name : ListTreeWide(Wide(folder))) names.push_back(Ansi(name));
  std::sort(names.begin(), names.end());
  return names;
}

TestKey::TestKey(const std::string& name)
    : subPath_("Software\\ArkivantoTests\\" + name), path_("HKEY_CURRENT_USER\\" + subPath_) {
  DeleteKeyTree(HKEY_CURRENT_USER, subPath_);
  CreateKey(HKEY_CURRENT_USER, subPath_);
}

TestKey::~TestKey() { DeleteKeyTree(HKEY_CURRENT_USER, subPath_); }

void CreateKey(HKEY root, const std::string& key) {
  RegKey k;
  RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(), nullptr);
}

void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& data) {
  RegKey k;
  RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(), nullptr);
  RegSetValueExA(k.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
}

void SetString(HKEY root, const std::string& key, const std::string& name, const std::string& text) {
  SetValue(root, key, name, REG_SZ, text + '\0');
}

void SetDword(HKEY root, const std::string& key, const std::string& name, DWORD value) {
  SetValue(root, key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
}

void DeleteKeyTree(HKEY root, const std::string& key) { RegDeleteTreeA(root, key.c_str()); }

// Through the wide calls: names the code page cannot spell stay apart.
static void SnapshotInto(HKEY root, const std::wstring& key, const std::string& relative, RegSnapshot* out) {
  RegKey k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.out()) != ERROR_SUCCESS) return;
  std::vector<RegValue> values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    std::string data(1 << 20, '\0');
    DWORD nameLength = 16384, size = DWORD(data.size()), type = 0;
    if (RegEnumValueW(k.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
      break;
    data.resize(size);
    values.push_back({Utf8(name), type, data});
  }
  std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
  out->keys.push_back({relative, values});
  std::vector<std::wstring> children;
  for (DWORD j = 0;; ++j) {
    wchar_t name[1024];
    DWORD length = 1024;
    if (RegEnumKeyExW(k.get(), j, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.push_back(name);
  }
  std::sort(children.begin(), children.end());
  for (const std::wstring& c : children) SnapshotInto(root, key + L"\\" + c, relative + "\\" + Utf8(c), out);
}

RegSnapshot SnapshotKey(HKEY root, const std::string& key) {
  RegSnapshot snapshot;
  SnapshotInto(root, Wide(key), "", &snapshot);
  return snapshot;
}

HANDLE StartProcess(const std::string& commandLine, const std::string& workingDirectory) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

int RunAndWait(const std::string& commandLine, const std::string& workingDirectory, DWORD timeoutMs) {
  FileHandle process(StartProcess(commandLine, workingDirectory));
  if (!process) return -1;
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return int(code);
}

bool JapaneseSystem() { return GetACP() == 932; }

static std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size_t(size), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string Ansi(const std::wstring& text) { return Narrow(text, CP_ACP); }
std::string Oem(const std::wstring& text) { return Narrow(text, CP_OEMCP); }
std::string Utf8(const std::wstring& text) { return Narrow(text, CP_UTF8); }

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring characters(size_t(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), characters.data(), size);
  return characters;
}

void WriteFileWide(const std::wstring& path, const std::string& bytes, DWORD attributes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}
