// Templates are shared between users: nothing a template names may reach
// cmd or regedit as anything but data, and the restore works from anywhere.
#include <doctest.h>

#include <windows.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/paths.h"
#include "resource.h"
#include "support/test_support.h"

namespace {

struct Backup : LoggedBackup {
  Backup() : LoggedBackup("my backup (1) & more\\") {}
  bool Planted() const {
    return FileExists(destination + "pwned.txt") || FileExists(target / "pwned.txt") ||
           FileExists(destination + "x\\pwned.txt");
  }
};

}  // namespace

// The other folder names a template may not use are refused by the
// interpreter's own test; this one shows that nothing runs.
TEST_CASE("a folder line that is no plain folder name fails its template and writes nothing") {
  Backup backup;
  CHECK_FALSE(backup.Run("Evil\r\n\r\nx\" & echo INJECTED> pwned.txt & rem \"\r\nF:C:\\no-such-folder\\*.none\r\n"));
  CHECK(backup.Log().find(TextOf(IDS_UNSAFE_DIRECTORY).substr(0, 20)) != std::string::npos);
  CHECK(ListTree(backup.destination) == std::vector<std::string>{"Restore.bat", "log.txt", "manifest.sha256"});
  CHECK(backup.Restore() == 0);
  CHECK_FALSE(backup.Planted());
}

TEST_CASE("a key or value name that would break the lines of a .reg file fails its entry") {
  TestKey key{"Planting"};
  const std::string planted = "Software\\ArkivantoTests\\Planted";
  DeleteKeyTree(HKEY_CURRENT_USER, planted);
  SUBCASE("key name") {
    SetString(HKEY_CURRENT_USER, key.subPath() + "\\p]\r\n[HKEY_CURRENT_USER\\" + planted + "\\Run", "x", "planted");
  }
  SUBCASE("value name") {
    SetString(HKEY_CURRENT_USER, key.subPath(), "v\"=\"\"\r\n[HKEY_CURRENT_USER\\" + planted + "]\r\n\"x", "planted");
  }
  Backup backup;
  CHECK_FALSE(backup.Run("Keys\r\n\r\nKeys\r\nR:HKCU\\" + key.subPath() + "\r\n"));
  const std::string log = backup.Log();
  CHECK(log.find(TextOf(IDS_REGISTRY_BACKUP_FAILED) + ": HKCU\\" + key.subPath()) != std::string::npos);
  // The line names what failed, its line break shown, not taken.
  CHECK(log.find("\\r\\n[HKEY_CURRENT_USER") != std::string::npos);
  CHECK(log.find("\r\n[HKEY_CURRENT_USER") == std::string::npos);
  CHECK_FALSE(FileExists(backup.destination + "Keys\\0.reg"));
  backup.Restore();
  RegKey opened;
  CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, planted.c_str(), 0, KEY_READ, opened.out()) == ERROR_FILE_NOT_FOUND);
}

TEST_CASE("Restore.bat restores from any current folder and says when a line fails") {
  ScratchFolder source{"source"};
  std::string folder = source / "data\\";
  if (JapaneseSystem()) folder = source / "\x83\x5c\x83\x74\x83\x67\\";  // a trail byte 0x5C
  CreateDirectoryPath(folder.c_str());
  WriteFileBytes(folder + "a.ini", "settings");
  Backup backup;
  if (JapaneseSystem()) backup.destination = backup.target / "\x95\x5c (1) & more\\";
  REQUIRE(backup.Run("Data\r\n\r\nData\r\nF:" + folder + "*.ini\r\n"));
  DeleteFileA((folder + "a.ini").c_str());
  char system[MAX_PATH];
  GetSystemDirectoryA(system, sizeof system);
  CHECK(backup.Restore(system) == 0);
  CHECK(ReadFileBytes(folder + "a.ini") == "settings");

  RemoveTree(backup.destination + "Data\\0");
  CHECK(backup.Restore(system) != 0);
}

TEST_CASE("the registry editor's export gets the key with its root written out and its variables expanded") {
  TestKey key{"ByRegedit"};
  SetString(HKEY_CURRENT_USER, key.subPath(), "Path", "C:\\Mail");
  SetDword(HKEY_CURRENT_USER, key.subPath() + "\\Window", "Left", 42);
  SetString(HKEY_CURRENT_USER, key.subPath(), "Where", "ByRegedit");
  const RegSnapshot saved = SnapshotKey(HKEY_CURRENT_USER, key.subPath());
  Backup backup;
  backup.main.SetPressed(IDM_USE_REGEDIT, true);
  INFO("log: " << backup.Log());
  REQUIRE(backup.Run("Keys\r\n\r\nKeys\r\nR:HKCU\\Software\\ArkivantoTests\\%HKCU\\" + key.subPath() + "\\Where%\r\n"));
  DeleteKeyTree(HKEY_CURRENT_USER, key.subPath());
  CHECK(backup.Restore() == 0);
  CHECK(SnapshotKey(HKEY_CURRENT_USER, key.subPath()) == saved);
}

TEST_CASE("a template name of any length reaches the log whole") {
  Backup backup;
  const std::string name(20000, 'N');
  REQUIRE(backup.Run(name + "\r\n\r\nLong\r\n"));
  CHECK(backup.Log().find(">" + TextOf(IDS_LOG_BACKING_UP) + name + "\r\n") != std::string::npos);
}

namespace {

// Names whose bytes mean other characters in another code page: a
// Shift-JIS character whose trail byte is "|", a Latin letter that Shift-JIS
// reads as a lead byte swallowing the "^" before "&", and the same before a
// quote and a "%". What follows needs no escaping of its own to run.
const char* const kHostileNames[] = {
    "\x83\x7c mkdir pwned1.txt",
    "caf\xe9& mkdir pwned2.txt",
    "\xe9\" & mkdir pwned3.txt",
    "\xe9%ComSpec% & mkdir pwned4.txt",
};

void BackUpHostileNames(Backup& backup) {
  unsigned n = 0;
  for (const char* name : kHostileNames) {
    const std::string number = std::to_string(++n);
    backup.main.AddTemplate("t" + number + ".txt", std::string(name) + "\r\n\r\nT" + number + "\r\n");
  }
  backup.main.Reload();
  REQUIRE(backup.main.BackUpAll(backup.person, backup.destination));
}

bool AnyPlanted(const std::string& folder) {
  for (unsigned n = 1; n <= std::size(kHostileNames); ++n)
    if (FileExists(folder + "pwned" + std::to_string(n) + ".txt")) return true;
  return false;
}

}  // namespace

TEST_CASE("names that another code page reads differently run nothing and read as written") {
  Backup backup;
  BackUpHostileNames(backup);
  const std::string script = ReadFileBytes(backup.destination + "Restore.bat");
  for (const char* name : kHostileNames) {
    // The first letter as cmd reads it: in the console's code page.
    const std::string letter(name, 1);
    CHECK(script.find("ECHO Restoreing: \"" + (GetACP() == GetOEMCP() ? letter : Oem(Wide(letter)))) !=
          std::string::npos);
  }
  CHECK(backup.Restore() == 0);
  CHECK_FALSE(AnyPlanted(backup.destination));
}

TEST_SUITE("across code pages") {
  TEST_CASE("written for another code page") {
    Backup backup;
    backup.destination = GivenFolder("ARK_ACROSS_FOLDER");
    RemoveTree(backup.destination);
    BackUpHostileNames(backup);
  }
  TEST_CASE("run in another code page") {
    const std::string folder = GivenFolder("ARK_ACROSS_FOLDER");
    REQUIRE(FileExists(folder + "Restore.bat"));
    CHECK(RunAndWait("cmd /c Restore.bat", folder) == 0);
    CHECK_FALSE(AnyPlanted(folder));
  }
}
