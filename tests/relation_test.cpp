#include <doctest.h>

#include <string>

#include "operations/relation_export.h"
#include "support/test_support.h"

namespace {

const std::string kFileExts = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
const std::string kProgram = "arkmail_test.exe";

// Associations made in the test's registry and removed after it.
struct Associations {
  Associations() {
    Remove();
    // .arkt1 and .arkt2 share an identifier opened by the program.
    SetString(HKEY_CLASSES_ROOT, ".arkt1", "", "ArkTest.Mail");
    SetString(HKEY_CLASSES_ROOT, ".arkt2", "", "ArkTest.Mail");
    SetString(HKEY_CLASSES_ROOT, "ArkTest.Mail\\shell\\open\\command", "",
              "\"C:\\Program Files\\ArkMail\\ARKMAIL_TEST.EXE\" \"%1\"");
    // .arkt3's default verb is edit, which names the program; its open does not.
    SetString(HKEY_CLASSES_ROOT, ".arkt3", "", "ArkTest.Edit");
    SetString(HKEY_CLASSES_ROOT, "ArkTest.Edit\\shell", "", "edit");
    SetString(HKEY_CLASSES_ROOT, "ArkTest.Edit\\shell\\edit\\command", "", "arkmail_test.exe /edit");
    SetString(HKEY_CLASSES_ROOT, "ArkTest.Edit\\shell\\open\\command", "", "notepad.exe");
    // .arkt4 is opened by another program; .arkt5 has no identifier.
    SetString(HKEY_CLASSES_ROOT, ".arkt4", "", "ArkTest.Other");
    SetString(HKEY_CLASSES_ROOT, "ArkTest.Other\\shell\\open\\command", "", "other.exe");
    CreateKey(HKEY_CLASSES_ROOT, ".arkt5");
  }
  ~Associations() { Remove(); }
  static void Remove() {
    for (const char* k :
         {".arkt1", ".arkt2", ".arkt3", ".arkt4", ".arkt5", "ArkTest.Mail", "ArkTest.Edit", "ArkTest.Other"})
      DeleteKeyTree(HKEY_CLASSES_ROOT, k);
    DeleteKeyTree(HKEY_CURRENT_USER, kFileExts + "\\.arku1");
    DeleteKeyTree(HKEY_CURRENT_USER, kFileExts + "\\.arku2");
  }
};

std::string MailBlocks() {
  return Block("HKEY_CLASSES_ROOT\\ArkTest.Mail", "") + Block("HKEY_CLASSES_ROOT\\ArkTest.Mail\\shell", "") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Mail\\shell\\open", "") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Mail\\shell\\open\\command",
               "@=\"\\\"C:\\\\Program Files\\\\ArkMail\\\\ARKMAIL_TEST.EXE\\\" \\\"%1\\\"\"\r\n");
}

std::string EditBlocks() {
  return Block("HKEY_CLASSES_ROOT\\ArkTest.Edit", "") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Edit\\shell", "@=\"edit\"\r\n") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Edit\\shell\\edit", "") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Edit\\shell\\edit\\command", "@=\"arkmail_test.exe /edit\"\r\n") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Edit\\shell\\open", "") +
         Block("HKEY_CLASSES_ROOT\\ArkTest.Edit\\shell\\open\\command", "@=\"notepad.exe\"\r\n");
}

std::string Header(const std::string& program) { return "REGEDIT4\r\n\r\n; Relation with " + program + "\r\n\r\n"; }

std::string Export(const std::string& program, const ScratchFolder& folder, int* result) {
  *result = ExportRelation(program.c_str(), (folder / "5\\").c_str(), 1);
  return ReadFileBytes(folder / "5.reg");
}

}  // namespace

TEST_CASE("both passes find the extensions whose command names the program") {
  Associations associations;
  ScratchFolder folder;
  int result = -1;
  const std::string firstPass = Block("HKEY_CLASSES_ROOT\\.arkt1", "@=\"ArkTest.Mail\"\r\n") + MailBlocks() +
                                Block("HKEY_CLASSES_ROOT\\.arkt2", "@=\"ArkTest.Mail\"\r\n") + MailBlocks() +
                                Block("HKEY_CLASSES_ROOT\\.arkt3", "@=\"ArkTest.Edit\"\r\n") + EditBlocks();

  SUBCASE("without the user's FileExts key the machine-wide findings are written") {
    // Missing on a fresh system: no per-user choices, not a failure.
    DeleteKeyTree(HKEY_CURRENT_USER, kFileExts);
    REQUIRE(SnapshotKey(HKEY_CURRENT_USER, kFileExts).keys.empty());
    CHECK(Export("ArkMail_Test.exe", folder, &result) == Header("ArkMail_Test.exe") + firstPass);
    CHECK(result == 0);
  }
  SUBCASE("the user's own choices follow, by their ProgID") {
    SetString(HKEY_CURRENT_USER, kFileExts + "\\.arku1", "ProgID", "ArkTest.Mail");
    SetString(HKEY_CURRENT_USER, kFileExts + "\\.arku2", "Other", "no ProgID here");
    const std::string userKey = "HKEY_CURRENT_USER\\" + kFileExts + "\\.arku1";
    CHECK(Export(kProgram, folder, &result) ==
          Header(kProgram) + firstPass + Block(userKey, "\"ProgID\"=\"ArkTest.Mail\"\r\n") + MailBlocks());
    CHECK(result == 0);
  }
}

TEST_CASE("a program no command names gives the header alone; an empty program text matches every command") {
  Associations associations;
  ScratchFolder folder;
  int result = -1;
  CHECK(Export("nobody_uses_this.exe", folder, &result) == Header("nobody_uses_this.exe"));
  CHECK(result == 0);
  const std::string file = Export("", folder, &result);
  CHECK(result == 0);
  for (const char* key : {"[HKEY_CLASSES_ROOT\\.arkt1]", "[HKEY_CLASSES_ROOT\\.arkt3]", "[HKEY_CLASSES_ROOT\\.arkt4]"})
    CHECK(file.find(key) != std::string::npos);
  CHECK(file.find("[HKEY_CLASSES_ROOT\\.arkt5]") == std::string::npos);
}

TEST_CASE("a file that cannot be written fails with its code") {
  ScratchFolder folder;
  CreateDirectoryA((folder / "5.reg").c_str(), nullptr);  // a folder where the file should go
  CHECK(ExportRelation(kProgram.c_str(), (folder / "5\\").c_str(), 0) == 1);
  CHECK(GetLastError() == ERROR_ACCESS_DENIED);
}
