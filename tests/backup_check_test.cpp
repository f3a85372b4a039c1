#include <doctest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backup/backup_check.h"
#include "core/paths.h"
#include "resource.h"
#include "support/test_support.h"

namespace {

// A name no code page of the tests can spell: it is found and hashed by its
// wide name, and the registry key that holds it is exported in the Unicode form.
const std::wstring kKorean = L"\uD55C\uAE00";

void SetWideString(const std::string& key, const std::wstring& name, const std::wstring& text) {
  REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, Wide(key).c_str(), name.c_str(), REG_SZ, text.c_str(),
                          DWORD((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS);
}

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// A check's findings as "what|where|how" and as "what|where", sorted, in UTF-8.
struct Checked {
  int result;
  std::vector<std::string> rows, places;
};
Checked Check(CheckKind kind, const std::string& destination) {
  CheckReport report;
  Checked checked{RunBackupCheck(kind, destination.c_str(), &report), {}, {}};
  for (const CheckFinding& f : report.findings()) {
    checked.rows.push_back(TextOf(f.whatId) + "|" + Utf8(f.where) + "|" + Utf8(f.how));
    checked.places.push_back(TextOf(f.whatId) + "|" + Utf8(f.where));
  }
  checked.places = Sorted(checked.places);
  return checked;
}
std::string Row(int whatId, const std::wstring& where) { return TextOf(whatId) + "|" + Utf8(where); }

}  // namespace

TEST_CASE("verify finds a changed byte, a missing copy and an unlisted file") {
  ScriptedPerson person;
  MainWindowFixture main;
  ScratchFolder source("source"), target("target");
  CreateDirectoryPath((source / "sub").c_str());
  WriteFileBytes(source / "a.txt", "alpha");
  WriteFileBytes(source / "sub\\b.txt", "beta");
  WriteFileWide(Wide(source.path()) + kKorean + L".txt", "korean");
  WriteFileBytes(target / "other.txt", "other");
  main.AddTemplate("files.txt", "Files\r\n\r\nFiles\r\nS:" + source / "*.*\r\n");
  main.Reload();
  const std::string destination = target / "backup\\";
  REQUIRE(main.BackUpAll(person, destination));
  CHECK(Check(CheckKind::kVerify, destination).result == kCheckClean);

  // A later run that writes another template keeps the earlier lines.
  REQUIRE(DeleteFileA((main.templateFolder + "files.txt").c_str()));
  main.AddTemplate("more.txt", "More\r\n\r\nMore\r\nF:" + target / "other.txt\r\n");
  main.Reload();
  REQUIRE(main.BackUpAll(person, destination));
  CheckReport intact;
  CHECK(RunBackupCheck(CheckKind::kVerify, destination.c_str(), &intact) == kCheckClean);
  CHECK(intact.compared == 5);  // three copies, the other copy, Restore.bat
  const std::string written = ReadFileBytes(destination + "verify.txt");
  CHECK(written.rfind("\xEF\xBB\xBF", 0) == 0);
  CHECK(written.find(Utf8(Wide(destination))) != std::string::npos);

  const std::string copy = destination + "Files\\0\\";
  std::string bytes = ReadFileBytes(copy + "a.txt");
  bytes[2] ^= 1;
  WriteFileBytes(copy + "a.txt", bytes);
  REQUIRE(DeleteFileW((Wide(copy) + kKorean + L".txt").c_str()));
  WriteFileBytes(copy + "sub\\new.txt", "new");
  const Checked changed = Check(CheckKind::kVerify, destination);
  CHECK(changed.result == kCheckDifferent);
  CHECK(changed.places ==
        Sorted({Row(IDS_CHECK_CHANGED, Wide(copy + "a.txt")), Row(IDS_CHECK_MISSING, Wide(copy) + kKorean + L".txt"),
                Row(IDS_CHECK_UNLISTED, Wide(copy + "sub\\new.txt"))}));

  REQUIRE(DeleteFileA((destination + "manifest.sha256").c_str()));
  CHECK(Check(CheckKind::kVerify, destination).result == kCheckNoBackup);
}

TEST_CASE("preview lists what Restore.bat would change, and nothing once it ran") {
  ScriptedPerson person;
  MainWindowFixture main;
  // Where cmd reads scripts in another code page than the system's (437
  // beside 1252), Latin letters are spelled differently in Restore.bat.
  const bool latin = !JapaneseSystem();
  ScratchFolder source(latin ? "caf\xe9" : "source"), target("target");
  const std::string folder = latin ? "D\xe9j\xe0" : "All";
  TestKey plain("CheckPlain"), wide("CheckWide");
  WriteFileBytes(source / "a.txt", "alpha");
  WriteFileBytes(source / "b.txt", "beta");
  SetString(HKEY_CURRENT_USER, plain.subPath(), "Name", "old");
  SetDword(HKEY_CURRENT_USER, plain.subPath(), "Count", 1);
  SetString(HKEY_CURRENT_USER, plain.subPath() + "\\Sub", "", "deep");
  SetWideString(wide.subPath(), kKorean, L"\uAC12");
  main.AddTemplate("all.txt", "All\r\n\r\n" + folder + "\r\nF:" + source / "*.txt\r\nR:HKCU\\" + plain.subPath() +
                                  "\r\nR:HKCU\\" + wide.subPath() + "\r\n");
  main.Reload();
  const std::string destination = target / "backup\\";
  REQUIRE(main.BackUpAll(person, destination));
  CHECK(ReadFileBytes(destination + folder + "\\1.reg").rfind("REGEDIT4", 0) == 0);
  CHECK(ReadFileBytes(destination + folder + "\\2.reg").rfind("\xFF\xFEW", 0) == 0);  // the Unicode form
  CHECK(Check(CheckKind::kPreview, destination).result == kCheckClean);

  WriteFileBytes(source / "a.txt", "changed");
  REQUIRE(DeleteFileA((source / "b.txt").c_str()));
  SetString(HKEY_CURRENT_USER, plain.subPath(), "Name", "new");
  SetString(HKEY_CURRENT_USER, plain.subPath(), "Extra", "added");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, plain.subPath().c_str(), "Count");
  CreateKey(HKEY_CURRENT_USER, plain.subPath() + "\\Added");
  SetWideString(wide.subPath(), kKorean, L"\uB2E4");
  const std::wstring plainKey = Wide(plain.path()), wideKey = Wide(wide.path());
  const Checked changed = Check(CheckKind::kPreview, destination);
  CHECK(changed.result == kCheckDifferent);
  // The how texts name values and sizes; the changed value's is looked at below.
  CHECK(changed.places ==
        Sorted({Row(IDS_CHECK_FILE_OVERWRITTEN, Wide(source / "a.txt")),
                Row(IDS_CHECK_FILE_CREATED, Wide(source / "b.txt")), Row(IDS_CHECK_VALUE_CHANGED, plainKey + L": Name"),
                Row(IDS_CHECK_VALUE_ADDED, plainKey + L": Count"), Row(IDS_CHECK_VALUE_DELETED, plainKey + L": Extra"),
                Row(IDS_CHECK_KEY_DELETED, plainKey + L"\\Added"),
                Row(IDS_CHECK_VALUE_CHANGED, wideKey + L": " + kKorean)}));
  CHECK(std::count_if(changed.rows.begin(), changed.rows.end(), [](const std::string& row) {
          return row.find("\"new\"") != std::string::npos && row.find("\"old\"") != std::string::npos;
        }) == 1);

  REQUIRE(RunAndWait("cmd /c Restore.bat", destination) == 0);
  const Checked restored = Check(CheckKind::kPreview, destination);
  CHECK(restored.rows == std::vector<std::string>{});
  CHECK(restored.result == kCheckClean);
}
