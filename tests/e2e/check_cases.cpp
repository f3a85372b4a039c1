// The toolbar's Verify backup and Preview restore on a planted backup: the
// report dialog lists the difference, and Copy puts the report on the
// clipboard.
#include <doctest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/driver.h"
#include "resource.h"

namespace {

// The SHA-256 of "abc".
constexpr char kAbcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE block = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(block))) text = chars;
    GlobalUnlock(block);
  }
  CloseClipboard();
  return text;
}

// Opens a report from the toolbar; its rows' "where" column.
std::vector<std::string> ReportPlaces(const Program& program, int command, HWND* dialog) {
  program.ClickToolbarButton(Toolbar(program), command);
  *dialog = program.WaitForDialog("the report", IDC_CHECK_LIST);
  HWND list = GetDlgItem(*dialog, IDC_CHECK_LIST);
  std::vector<std::string> places;
  for (int row = 0; row < program.ItemCount(list); ++row) places.push_back(program.ItemText(list, row, 1));
  std::sort(places.begin(), places.end());
  return places;
}

}  // namespace

TEST_CASE("verify and preview from the toolbar") {
  ScratchFolder backup("e2e_backup"), target("e2e_target");
  CreateDirectoryA((backup / "Dir").c_str(), nullptr);
  CreateDirectoryA((backup / "Dir\\0").c_str(), nullptr);
  WriteFileBytes(backup / "Dir\\0\\new.txt", "new");
  WriteFileBytes(backup / "a.txt", "abd");  // listed as "abc"
  WriteFileBytes(backup / "manifest.sha256", std::string(kAbcDigest) + "  a.txt\n");
  WriteFileBytes(backup / "Restore.bat",
                 "IF \"%FILE%\"==\"1\" xcopy \"Dir\\0\\*.*\" \"" + target.path() + "\" /e /c /q /h /r /k /y\r\n");
  Program program;
  program.TypeInto(DestinationField(program), Wide(backup.path()));

  HWND dialog = nullptr;
  CHECK(ReportPlaces(program, IDM_VERIFY_BACKUP, &dialog) ==
        std::vector<std::string>{backup / "Dir\\0\\new.txt", backup / "Restore.bat", backup / "a.txt"});
  PressButton(dialog, IDC_CHECK_COPY);
  program.Await("the report on the clipboard",
                [&] { return ClipboardText().find(Wide(backup / "a.txt")) != std::wstring::npos; });
  program.Answer(dialog, IDOK);

  CHECK(ReportPlaces(program, IDM_PREVIEW_RESTORE, &dialog) == std::vector<std::string>{target / "new.txt"});
  program.Answer(dialog, IDOK);
  // The preview wrote nothing where the restore would.
  CHECK_FALSE(FileExists(target / "new.txt"));
  CHECK(program.Close() == 0);
}
