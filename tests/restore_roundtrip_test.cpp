#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/messages.h"
#include "core/paths.h"
#include "resource.h"
#include "support/test_support.h"
#include "ui/template_list.h"

namespace {

const char kEvilName[] = "Mail & echo PWNED> pwned.txt";

// Settings spread over files, a tree, a registry key and an association;
// backed up through the main window, then deleted.
struct Saved {
  ScriptedPerson person;
  MainWindowFixture main;
  ScratchFolder source{"source"};
  ScratchFolder target{"target"};
  TestKey key{"Restored"};
  std::string destination, percentFolder, tree;
  std::vector<std::string> files, treeFiles;
  RegSnapshot registry, association;

  Saved() {
    percentFolder = source / "100%\\";
    tree = source / "tree (copy)\\";
    CreateDirectoryPath(percentFolder.c_str());
    WriteFileBytes(percentFolder + "mail.txt", "mail settings");
    WriteFileBytes(percentFolder + "other.dat", "not saved");
    CreateDirectoryPath((tree + "sub\\empty").c_str());
    WriteFileBytes(tree + "a.ini", "[a]");
    WriteFileBytes(tree + "sub\\hidden.cfg", "h");
    SetFileAttributesA((tree + "sub\\hidden.cfg").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetString(HKEY_CURRENT_USER, key.subPath(), "Path", "C:\\Mail & More\\100%");
    SetDword(HKEY_CURRENT_USER, key.subPath() + "\\Window", "Left", 42);
    SetValue(HKEY_CURRENT_USER, key.subPath() + "\\Window", "Bytes", REG_BINARY, std::string("\0\1\2\3", 4));
    SetString(HKEY_CLASSES_ROOT, ".arkrt", "", "ArkRoundTrip.Doc");
    SetString(HKEY_CLASSES_ROOT, "ArkRoundTrip.Doc\\shell\\open\\command", "", "arkroundtrip.exe \"%1\"");
    files = ListTree(percentFolder);
    treeFiles = ListTree(tree);
    registry = SnapshotKey(HKEY_CURRENT_USER, key.subPath());
    association = SnapshotKey(HKEY_CLASSES_ROOT, "ArkRoundTrip.Doc");

    main.AddTemplate("mail.txt", std::string(kEvilName) + "\r\nfiles and keys\r\nMail\r\n" + "F:" + percentFolder +
                                     "*.txt\r\n" + "S:" + tree + "*.*\r\n" + "R:HKCU\\" + key.subPath() + "\r\n" +
                                     "X:arkroundtrip.exe\r\n");
    main.Reload();
    destination = target / "backup\\";
    REQUIRE(main.BackUpAll(person, destination));

    RemoveTree(source.path());
    DeleteKeyTree(HKEY_CURRENT_USER, key.subPath());
    DeleteKeyTree(HKEY_CLASSES_ROOT, ".arkrt");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "ArkRoundTrip.Doc");
  }
  ~Saved() {
    DeleteKeyTree(HKEY_CLASSES_ROOT, ".arkrt");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "ArkRoundTrip.Doc");
  }
  int Restore(const std::string& mode) {
    return RunAndWait("cmd /c Restore.bat" + (mode.empty() ? "" : " " + mode), destination);
  }
  bool FilesBack() const {
    return ListTree(percentFolder) == std::vector<std::string>{"mail.txt"} &&
           ReadFileBytes(percentFolder + "mail.txt") == "mail settings" && ListTree(tree) == treeFiles &&
           (GetFileAttributesA((tree + "sub\\hidden.cfg").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  }
  bool RegistryBack() const {
    return SnapshotKey(HKEY_CURRENT_USER, key.subPath()) == registry &&
           SnapshotKey(HKEY_CLASSES_ROOT, "ArkRoundTrip.Doc") == association;
  }
  bool NothingRan() const { return !FileExists(destination + "pwned.txt") && !FileExists(target / "pwned.txt"); }
};

}  // namespace

TEST_CASE("Restore.bat puts back every file and registry value") {
  Saved saved;
  const std::string script = ReadFileBytes(saved.destination + "Restore.bat");
  CHECK(script.find("ECHO Restoreing: Mail ^& echo PWNED^> pwned.txt\r\n") != std::string::npos);
  CHECK(script.find("100%%\\") != std::string::npos);
  SUBCASE("both") {
    CHECK(saved.Restore("") == 0);
    CHECK(saved.FilesBack());
    CHECK(saved.RegistryBack());
  }
  SUBCASE("files only") {
    CHECK(saved.Restore("/f") == 0);
    CHECK(saved.FilesBack());
    CHECK(SnapshotKey(HKEY_CURRENT_USER, saved.key.subPath()).keys.empty());
  }
  SUBCASE("registry only") {
    CHECK(saved.Restore("/r") == 0);
    CHECK(saved.RegistryBack());
    CHECK_FALSE(IsDirectory(saved.percentFolder));
  }
  CHECK(saved.NothingRan());
}
