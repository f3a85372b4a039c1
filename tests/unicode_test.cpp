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

// Text in four scripts and beyond the basic plane: no code page holds it all.
const std::wstring kMixed = L"caf\u00e9 \u65e5\u672c\u8a9e\u30e1\u30e2 \u20ac \ud55c\uad6d\uc5b4 \U0001F600";
const std::wstring kNames[] = {L"caf\u00e9", L"\u65e5\u672c\u8a9e\u30e1\u30e2.txt", L"\ud55c\uad6d", L"\U0001F600"};

// Text the system's code page carries.
std::wstring Local() { return JapaneseSystem() ? L"\u65e5\u672c\u8a9e" : L"caf\u00e9"; }

void SetWide(const std::wstring& key, const std::wstring& name, DWORD type, const std::wstring& data) {
  RegKey k;
  RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(), nullptr);
  RegSetValueExW(k.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 DWORD(data.size() * sizeof(wchar_t)));
}

// Files below a folder by wide names, with their contents, sorted.
std::vector<std::pair<std::wstring, std::string>> FilesWide(const std::wstring& folder) {
  std::vector<std::pair<std::wstring, std::string>> files;
  for (const std::wstring& name : ListTreeWide(folder))
    files.push_back({name, name.back() == L'\\' ? "" : ReadFileWide(folder + name)});
  return files;
}

}  // namespace

TEST_CASE("keys, value names and strings beyond the code page come back exactly") {
  TestKey key("Unicode");
  const std::wstring base = Wide(key.subPath());
  for (const std::wstring& name : kNames) {
    SetWide(base + L"\\" + name, name, REG_SZ, kMixed + L'\0');
    SetWide(base + L"\\" + name, L"expand " + name, REG_EXPAND_SZ, L"%USERPROFILE%\\" + name + L'\0');
    SetWide(base + L"\\" + name, L"multi", REG_MULTI_SZ, name + L'\0' + kMixed + L'\0' + L'\0');
  }
  SetWide(base, L"\u20ac binary", REG_BINARY, L"\u65e5\u672c");
  const RegSnapshot saved = SnapshotKey(HKEY_CURRENT_USER, key.subPath());
  TestKey local("UnicodeLocal");
  SetWide(Wide(local.subPath()) + L"\\" + Local(), Local(), REG_SZ, Local() + L'\0');
  const RegSnapshot savedLocal = SnapshotKey(HKEY_CURRENT_USER, local.subPath());

  LoggedBackup backup;
  REQUIRE(backup.Run("Unicode\r\n\r\nU\r\nR:HKCU\\" + key.subPath() + "\r\nR:HKCU\\" + local.subPath() + "\r\n"));
  // The registry editor's Unicode form where the code page cannot carry the
  // text; REGEDIT4 in the code page where it can.
  CHECK(ReadFileBytes(backup.destination + "U\\0.reg").substr(0, 2) == "\xff\xfe");
  CHECK(ReadFileBytes(backup.destination + "U\\1.reg").rfind("REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER", 0) == 0);
  CHECK(ReadFileBytes(backup.destination + "U\\1.reg").find(Ansi(Local())) != std::string::npos);

  DeleteKeyTree(HKEY_CURRENT_USER, key.subPath());
  DeleteKeyTree(HKEY_CURRENT_USER, local.subPath());
  CHECK(backup.Restore() == 0);
  CHECK(SnapshotKey(HKEY_CURRENT_USER, key.subPath()) == saved);
  CHECK(SnapshotKey(HKEY_CURRENT_USER, local.subPath()) == savedLocal);
}

TEST_CASE("files the code page cannot spell are copied and restored under their own names") {
  ScratchFolder source("unicode");
  const std::wstring folder = Wide(source.path());
  for (const std::wstring& name : kNames) WriteFileWide(folder + name, Ansi(L"x") + "1");
  CreateDirectoryW((folder + L"\u00dcn\u00efc\u00f6d\u00e9 \u65e5").c_str(), nullptr);
  WriteFileWide(folder + L"\u00dcn\u00efc\u00f6d\u00e9 \u65e5\\\ud55c.txt", "inner");
  const auto saved = FilesWide(folder);
  REQUIRE(saved.size() == 6);

  LoggedBackup backup;
  REQUIRE(backup.Run("Files\r\n\r\nF\r\nS:" + source.path() + "*.*\r\n"));
  RemoveTree(source.path());
  CreateDirectoryA(source.path().c_str(), nullptr);
  CHECK(backup.Restore() == 0);
  CHECK(FilesWide(folder) == saved);

  SUBCASE("a file that cannot be copied is named readably, and said so") {
    FileHandle held(CreateFileW((folder + kNames[3]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LoggedBackup again;
    CHECK_FALSE(again.Run("Files\r\n\r\nF\r\nS:" + source.path() + "*.*\r\n"));
    CHECK(again.Log().find(TextOf(IDS_NOT_SHOWN_CHARACTERS)) != std::string::npos);
  }
}

TEST_CASE("a restore folder the code page cannot spell fails its entry instead of naming another") {
  ScratchFolder source("unicode");
  const std::wstring folder = Wide(source.path()) + kNames[2] + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  WriteFileWide(folder + L"a.ini", "a");
  TestKey key("UnicodeFolder");
  SetWide(Wide(key.subPath()), L"Dir", REG_SZ, folder + L'\0');
  LoggedBackup backup;
  CHECK_FALSE(backup.Run("Far\r\n\r\nFar\r\nF:%HKCU\\" + key.subPath() + "\\Dir%*.ini\r\n"));
  CHECK(backup.Log().find(SystemText(ERROR_NO_UNICODE_TRANSLATION)) != std::string::npos);
  CHECK(ReadFileBytes(backup.destination + "Restore.bat").find("xcopy") == std::string::npos);
}
