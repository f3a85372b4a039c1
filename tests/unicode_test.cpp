// Names, values and file names beyond the code page come back exactly after
// a backup and Restore.bat. Runs under code page 1252 (with UTF-8 file names
// on the Unix side, so wine can make such files at all) and 932.
#include <doctest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/handles.h"
#include "resource.h"
#include "support/test_support.h"

namespace {

using Wide = std::wstring;

// Text in four scripts and beyond the basic plane: no code page holds it all.
const Wide kMixed = L"caf\u00e9 \u65e5\u672c\u8a9e\u30e1\u30e2 \u20ac \ud55c\uad6d\uc5b4 \U0001F600";
const Wide kNames[] = {L"caf\u00e9", L"\u65e5\u672c\u8a9e\u30e1\u30e2.txt", L"\ud55c\uad6d", L"\U0001F600"};

bool Japanese() { return GetACP() == 932; }
// Text the system's code page carries.
Wide Local() { return Japanese() ? L"\u65e5\u672c\u8a9e" : L"caf\u00e9"; }

std::string Narrow(const Wide& text) {
  std::string out(text.size() * 4 + 1, '\0');
  out.resize(size_t(WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), out.data(), int(out.size()),
                                        nullptr, nullptr)));
  return out;
}

void SetWide(const Wide& key, const Wide& name, DWORD type, const Wide& data) {
  RegKey k;
  RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(), nullptr);
  RegSetValueExW(k.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 DWORD(data.size() * sizeof(wchar_t)));
}

// Every key below key and every value, by wide names, sorted.
using Snapshot = std::vector<std::pair<Wide, std::vector<std::pair<Wide, std::string>>>>;
void SnapshotInto(const Wide& key, const Wide& relative, Snapshot* out) {
  RegKey k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, k.out()) != ERROR_SUCCESS) return;
  std::vector<std::pair<Wide, std::string>> values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    std::string data(65536, '\0');
    DWORD nameLength = 512, size = DWORD(data.size()), type = 0;
    if (RegEnumValueW(k.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size))
      break;
    data.resize(size);
    values.push_back({name, std::to_string(type) + ":" + data});
  }
  std::sort(values.begin(), values.end());
  out->push_back({relative, values});
  std::vector<Wide> children;
  for (DWORD j = 0;; ++j) {
    wchar_t name[512];
    DWORD length = 512;
    if (RegEnumKeyExW(k.get(), j, name, &length, nullptr, nullptr, nullptr, nullptr)) break;
    children.push_back(name);
  }
  std::sort(children.begin(), children.end());
  for (const Wide& c : children) SnapshotInto(key + L"\\" + c, relative + L"\\" + c, out);
}
Snapshot SnapshotWide(const Wide& key) {
  Snapshot s;
  SnapshotInto(key, L"", &s);
  return s;
}

// Files below a folder by wide names, with their contents, sorted.
std::vector<std::pair<Wide, std::string>> FilesWide(const Wide& folder, const Wide& relative = L"") {
  std::vector<std::pair<Wide, std::string>> files;
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW((folder + relative + L"*").c_str(), &found));
  if (!search) return files;
  do {
    const Wide name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files.push_back({relative + name + L"\\", ""});
      const auto inner = FilesWide(folder, relative + name + L"\\");
      files.insert(files.end(), inner.begin(), inner.end());
    } else {
      FileHandle file(CreateFileW((folder + relative + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
      char buffer[256] = {};
      DWORD got = 0;
      ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr);
      files.push_back({relative + name, std::string(buffer, got)});
    }
  } while (FindNextFileW(search.get(), &found));
  std::sort(files.begin(), files.end());
  return files;
}

void WriteWide(const Wide& path, const std::string& bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

Wide ToWide(const std::string& text) {
  Wide out(text.size() + 1, L'\0');
  out.resize(size_t(MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), out.data(), int(out.size()))));
  return out;
}

struct Backup {
  ScriptedPerson person;
  MainWindowFixture main;
  ScratchFolder target{"target"};
  std::string destination = target / "backup\\";
  Backup() { main.SetPressed(IDM_LOG, true); }
  bool Run(const std::string& content) {
    main.AddTemplate("u.txt", content);
    main.Reload();
    return main.BackUpAll(person, destination);
  }
  int Restore() const { return RunAndWait("cmd /c Restore.bat", destination); }
  std::string Log() const { return ReadFileBytes(destination + "log.txt"); }
};

}  // namespace

TEST_CASE("keys, value names and strings beyond the code page come back exactly") {
  TestKey key("Unicode");
  const Wide base = ToWide(key.subPath());
  for (const Wide& name : kNames) {
    SetWide(base + L"\\" + name, name, REG_SZ, kMixed + L'\0');
    SetWide(base + L"\\" + name, L"expand " + name, REG_EXPAND_SZ, L"%USERPROFILE%\\" + name + L'\0');
    SetWide(base + L"\\" + name, L"multi", REG_MULTI_SZ, name + L'\0' + kMixed + L'\0' + L'\0');
  }
  SetWide(base, L"\u20ac binary", REG_BINARY, L"\u65e5\u672c");
  const Snapshot saved = SnapshotWide(base);
  TestKey local("UnicodeLocal");
  SetWide(ToWide(local.subPath()) + L"\\" + Local(), Local(), REG_SZ, Local() + L'\0');
  const Snapshot savedLocal = SnapshotWide(ToWide(local.subPath()));

  Backup backup;
  REQUIRE(backup.Run("Unicode\r\n\r\nU\r\nR:HKCU\\" + key.subPath() + "\r\nR:HKCU\\" + local.subPath() + "\r\n"));
  // The registry editor's Unicode form where the code page cannot carry the
  // text; REGEDIT4 in the code page where it can.
  CHECK(ReadFileBytes(backup.destination + "U\\0.reg").substr(0, 2) == "\xff\xfe");
  CHECK(ReadFileBytes(backup.destination + "U\\1.reg").rfind("REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER", 0) == 0);
  CHECK(ReadFileBytes(backup.destination + "U\\1.reg").find(Narrow(Local())) != std::string::npos);

  DeleteKeyTree(HKEY_CURRENT_USER, key.subPath());
  DeleteKeyTree(HKEY_CURRENT_USER, local.subPath());
  CHECK(backup.Restore() == 0);
  CHECK(SnapshotWide(base) == saved);
  CHECK(SnapshotWide(ToWide(local.subPath())) == savedLocal);
}

TEST_CASE("files the code page cannot spell are copied and restored under their own names") {
  ScratchFolder source("unicode");
  const Wide folder = ToWide(source.path());
  for (const Wide& name : kNames) WriteWide(folder + name, Narrow(L"x") + "1");
  CreateDirectoryW((folder + L"\u00dcn\u00efc\u00f6d\u00e9 \u65e5").c_str(), nullptr);
  WriteWide(folder + L"\u00dcn\u00efc\u00f6d\u00e9 \u65e5\\\ud55c.txt", "inner");
  const auto saved = FilesWide(folder);
  REQUIRE(saved.size() == 6);

  Backup backup;
  REQUIRE(backup.Run("Files\r\n\r\nF\r\nS:" + source.path() + "*.*\r\n"));
  RemoveTree(source.path());
  CreateDirectoryA(source.path().c_str(), nullptr);
  CHECK(backup.Restore() == 0);
  CHECK(FilesWide(folder) == saved);

  SUBCASE("a file that cannot be copied is named readably, and said so") {
    FileHandle held(CreateFileW((folder + kNames[3]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    Backup again;
    CHECK_FALSE(again.Run("Files\r\n\r\nF\r\nS:" + source.path() + "*.*\r\n"));
    CHECK(again.Log().find(TextOf(IDS_NOT_SHOWN_CHARACTERS)) != std::string::npos);
  }
}

TEST_CASE("a restore folder the code page cannot spell fails its entry instead of naming another") {
  ScratchFolder source("unicode");
  const Wide folder = ToWide(source.path()) + kNames[2] + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteWide(folder + L"a.ini", "a");
  TestKey key("UnicodeFolder");
  SetWide(ToWide(key.subPath()), L"Dir", REG_SZ, folder + L'\0');
  Backup backup;
  CHECK_FALSE(backup.Run("Far\r\n\r\nFar\r\nF:%HKCU\\" + key.subPath() + "\\Dir%*.ini\r\n"));
  CHECK(backup.Log().find(SystemText(ERROR_NO_UNICODE_TRANSLATION)) != std::string::npos);
  CHECK(ReadFileBytes(backup.destination + "Restore.bat").find("xcopy") == std::string::npos);
}
