// A run that is killed, or that meets a full or read-only disk, never damages
// the last good backup in its destination: every entry holds either its whole
// previous copy or its whole new one, and the earlier Restore.bat still works.
#include <doctest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/paths.h"
#include "resource.h"
#include "support/test_support.h"

namespace {

using Names = std::vector<std::string>;

// Settings in a folder of many files and in a registry key, at a version.
struct Settings {
  ScratchFolder source{"settings"};
  TestKey key{"CrashSafety"};
  std::string folder = source / "app\\";
  unsigned files;
  size_t size;

  Settings(unsigned fileCount, size_t fileSize) : files(fileCount), size(fileSize) {
    CreateDirectoryPath(folder.c_str());
  }
  std::string Content(int version, unsigned i) const {
    return std::string(size, char('a' + version)) + std::to_string(i);
  }
  void Write(int version) {
    RemoveTree(folder);
    CreateDirectoryPath((folder + "sub").c_str());
    // Version 2 has lost the last file of version 1.
    for (unsigned i = 0; i < files - (version == 2 ? 1 : 0); ++i)
      WriteFileBytes(folder + "sub\\f" + std::to_string(i) + ".dat", Content(version, i));
    SetDword(HKEY_CURRENT_USER, key.subPath(), "Version", DWORD(version));
  }
  bool Holds(const std::string& copy, int version) const {
    const unsigned count = files - (version == 2 ? 1 : 0);
    Names expected{"sub\\"};
    for (unsigned i = 0; i < count; ++i) expected.push_back("sub\\f" + std::to_string(i) + ".dat");
    std::sort(expected.begin(), expected.end());
    if (ListTree(copy) != expected) return false;
    for (unsigned i = 0; i < count; ++i)
      if (ReadFileBytes(copy + "sub\\f" + std::to_string(i) + ".dat") != Content(version, i)) return false;
    return true;
  }
  std::string Template() const { return "App\r\n\r\nApp\r\nS:" + folder + "*.*\r\nR:HKCU\\" + key.subPath() + "\r\n"; }
};

}  // namespace

TEST_CASE("a run killed in the middle of a copy leaves the previous backup whole") {
  Settings settings(600, 128 * 1024);
  settings.Write(1);
  LoggedBackup first;
  REQUIRE(first.Run(settings.Template()));
  const std::string script = ReadFileBytes(first.destination + "Restore.bat");
  const std::string copy = first.destination + "App\\0\\";
  REQUIRE(settings.Holds(copy, 1));

  settings.Write(2);
  // The program itself, from the command line, backs up the new version
  // over the first backup.
  const std::string app = first.target / "app\\";
  CreateDirectoryPath((app + "template").c_str());
  REQUIRE(CopyFileA("Z:" ARK_PROGRAM, (app + "Arkivanto2.exe").c_str(), FALSE));
  WriteFileBytes(app + "template\\app.txt", settings.Template());
  const std::string destination = first.destination.substr(0, first.destination.size() - 1);
  FileHandle child(
      StartProcess("\"" + app + "Arkivanto2.exe\" /backup \"" + destination + "\" /overwrite app.txt", app));
  REQUIRE(child);
  // Kill it once a quarter of the new files are staged. A run that wrote
  // over the copy in place would stage nothing and end before the kill.
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (GetTickCount64() < deadline && WaitForSingleObject(child.get(), 0) == WAIT_TIMEOUT &&
         ListTree(first.destination + "App\\0.tmp\\sub\\").size() < settings.files / 4) {
  }
  DWORD early = 0;
  GetExitCodeProcess(child.get(), &early);
  REQUIRE_MESSAGE(early == STILL_ACTIVE, "the run ended with " << early << " before it could be killed");
  TerminateProcess(child.get(), 9);
  WaitForSingleObject(child.get(), 10000);

  CHECK(settings.Holds(copy, 1));
  CHECK(ReadFileBytes(first.destination + "Restore.bat") == script);
  RemoveTree(settings.folder);
  DeleteKeyTree(HKEY_CURRENT_USER, settings.key.subPath());
  CHECK(first.Restore() == 0);
  CHECK(settings.Holds(settings.folder, 1));

  SUBCASE("the next whole run replaces the copy, files gone from the source included") {
    settings.Write(2);
    LoggedBackup second;
    second.destination = first.destination;
    CHECK(second.Run(settings.Template()));
    CHECK(settings.Holds(copy, 2));
    // Only the new copies, App\1.reg, Restore.bat, log.txt and the manifest: nothing staged or left over.
    CHECK(ListTree(first.destination).size() == 3 + 599 + 4);  // App\, App\0\, App\0\sub\ and the files
  }
}

TEST_CASE("a full disk keeps the previous copies, .reg files, Restore.bat and log.txt") {
  const std::string drive = GivenFolder("ARK_SMALL_DRIVE");
  Settings settings(8, 1024);
  settings.Write(1);
  LoggedBackup first;
  first.destination = drive + "backup\\";
  RemoveTree(first.destination);
  REQUIRE(first.Run(settings.Template()));
  const std::string script = ReadFileBytes(first.destination + "Restore.bat");
  const std::string log = ReadFileBytes(first.destination + "log.txt");
  const std::string reg = ReadFileBytes(first.destination + "App\\1.reg");

  settings.Write(2);
  {
    FilledDrive full;
    LoggedBackup second;
    second.destination = first.destination;
    CHECK_FALSE(second.Run(settings.Template()));  // overwrite
    CHECK(second.person.shown.back().type == MB_ICONERROR);
  }

  CHECK(settings.Holds(first.destination + "App\\0\\", 1));
  CHECK(ReadFileBytes(first.destination + "App\\1.reg") == reg);
  CHECK(ReadFileBytes(first.destination + "Restore.bat") == script);
  CHECK(ReadFileBytes(first.destination + "log.txt") == log);
  RemoveTree(first.destination);
}

TEST_CASE("a destination where nothing can be written reports every template as failed") {
  const std::string drive = GivenFolder("ARK_READ_ONLY_DRIVE");
  Settings settings(1, 10);
  settings.Write(1);
  LoggedBackup run;
  run.destination = drive;
  CHECK_FALSE(run.Run(settings.Template()));
  CHECK(run.person.shown.back().type == MB_ICONERROR);
}

TEST_CASE("a destination that cannot be created stops the run before it starts") {
  Settings settings(1, 10);
  settings.Write(1);
  for (const char* path : {"Q:\\nowhere\\", "Z:\\proc\\arkivanto\\"}) {
    CAPTURE(path);
    LoggedBackup run;
    run.destination = path;
    CHECK_FALSE(run.Run(settings.Template()));
    REQUIRE(run.person.shown.size() == 2);  // the last question and why it cannot start
    CHECK(run.person.shown[1].caption == TextOf(IDS_CAPTION_ERROR));
    CHECK(run.person.shown[1].text.find(path) != std::string::npos);
    CHECK(IsWindowEnabled(run.main.window()));
  }
}

TEST_CASE("a file that cannot be copied fails its entry; the rest is copied and restored") {
  ScratchFolder source("source");
  const std::string tree = source / "tree\\";
  CreateDirectoryPath((tree + "hidden").c_str());
  SetFileAttributesA((tree + "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
  WriteFileBytes(tree + "hidden\\a.ini", "a");
  // A file whose path passes 259 bytes, made with the long-path form.
  std::wstring deep = L"\\\\?\\";
  for (char c : tree) deep += wchar_t(c);
  while (deep.size() < 300) {
    deep += L"d123456789\\";
    CreateDirectoryW(deep.c_str(), nullptr);
  }
  FileHandle(CreateFileW((deep + L"too-deep.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  LoggedBackup run;
  CHECK_FALSE(run.Run("Tree\r\n\r\nTree\r\nS:" + tree + "*.*\r\n"));
  CHECK(run.Log().find(tree + "d123456789\\d123456789") != std::string::npos);
  CHECK((GetFileAttributesA((run.destination + "Tree\\0\\hidden").c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0);
  RemoveTree(tree + "hidden");
  CHECK(run.Restore() == 0);
  CHECK(ReadFileBytes(tree + "hidden\\a.ini") == "a");
}
