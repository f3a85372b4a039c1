// What a person does from the main window, worked from outside the program:
// a template typed and saved, a backup restored, the destination browsers.
// Every case ends by closing the window, which must end the program.
#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "e2e/driver.h"
#include "resource.h"

namespace {

int CheckedRows(const Program& program) {
  int checked = 0;
  for (int row = 0; row < program.ItemCount(TemplateList(program)); ++row)
    checked += program.IsItemChecked(TemplateList(program), row);
  return checked;
}

}  // namespace

TEST_CASE("editor saves a typed template") {
  Program program;
  program.ClickToolbarButton(Toolbar(program), IDM_NEW_TEMPLATE);
  HWND editor = program.WaitForDialog("the template editor", IDC_NAME_EDIT);
  const std::wstring name = Localized(L"メール設定", L"Réglages courriel"), folder = Localized(L"メール", L"Courriel");
  const std::wstring files = L"C:\\Mail\\*.dbx";
  program.TypeInto(GetDlgItem(editor, IDC_NAME_EDIT), name);
  program.TypeInto(GetDlgItem(editor, IDC_DIRECTORY_EDIT), folder);
  PressButton(editor, IDC_KIND_FILE);
  program.TypeInto(GetDlgItem(editor, IDC_FILE_PATH), files);
  PressButton(editor, IDC_ADD_ENTRY);
  program.Await("the entry in the editor", [&] { return program.ItemCount(GetDlgItem(editor, IDC_ENTRY_LIST)) == 1; });
  PressButton(editor, IDOK);

  // A bare name: the dialog starts in the template folder and adds ".txt".
  // Wine names files in the Unix locale's characters, which in English are ASCII.
  const std::string file = Ansi(Localized(L"メール", L"mail"));
  program.AnswerFileDialog(program.WaitForFileDialog(), file);
  program.WaitUntilClosed(editor, "the editor to close");
  CHECK(ReadFileBytes(program.folder() + "template\\" + file + ".txt") ==
        Ansi(name) + "\r\n\r\n" + Ansi(folder) + "\r\nF:" + Ansi(files) + "\r\n");
  program.Await("the template in the main window", [&] { return program.ItemCount(TemplateList(program)) == 1; });
  CHECK(program.ItemText(TemplateList(program), 0, 0) == Ansi(name));
  CHECK(program.ItemText(TemplateList(program), 0, 3) == file + ".txt");
  CHECK(program.Close() == 0);
}

TEST_CASE("backup restored by its batch file") {
  ScratchFolder source("e2e_source"), target("e2e_target");
  TestKey key("E2E" + std::to_string(GetCurrentProcessId()));
  const std::string notes = Ansi(Localized(L"メモ", L"Café"));
  WriteFileBytes(source / "mail.txt", "mail settings");
  WriteFileBytes(source / "notes.txt", notes);
  WriteFileBytes(source / "other.dat", "not saved");
  SetString(HKEY_CURRENT_USER, key.subPath(), "Path", "C:\\Mail & More\\100%");
  SetDword(HKEY_CURRENT_USER, key.subPath() + "\\Window", "Left", 42);
  // Two sub-keys: the export reads them on its helper threads.
  SetString(HKEY_CURRENT_USER, key.subPath() + "\\Folders & \"Views\" ^%", "Last", "C:\\Mail\\Inbox");
  const RegSnapshot registry = SnapshotKey(HKEY_CURRENT_USER, key.subPath());
  Program program({.templates = {{"files.txt", "Mail files\r\n\r\nMail\r\nF:" + source / "*.txt\r\n"},
                                 {"keys.txt", "Mail keys\r\n\r\nKeys\r\nR:HKCU\\" + key.subPath() + "\r\n"},
                                 {"skipped.txt", "Skipped\r\n\r\nSkipped\r\nF:" + source / "*.dat\r\n"}}});
  const std::string destination = target / "backup";
  program.TypeInto(DestinationField(program), Wide(destination));

  HWND toolbar = Toolbar(program), list = TemplateList(program);
  program.ClickToolbarButton(toolbar, IDM_CHECK_ALL);
  program.Await("every template checked", [&] { return CheckedRows(program) == 3; });
  for (int row = 0; row < 3; ++row)
    if (program.ItemText(list, row, 3) == "skipped.txt") program.SetItemChecked(list, row, false);
  REQUIRE(CheckedRows(program) == 2);
  program.ClickToolbarButton(toolbar, IDM_DO_BACKUP);
  const MessageBoxShown question = program.WaitForMessageBox("the last confirmation");
  CHECK(question.text.find(destination) != std::string::npos);
  program.Answer(question.window, IDYES);
  const MessageBoxShown report = program.WaitForMessageBox("the report");
  program.PressKey(VK_RETURN);
  program.WaitUntilClosed(report.window, "the report to close on Enter");
  // Rows backed up without an error are unchecked.
  CHECK(CheckedRows(program) == 0);
  CHECK(program.Close() == 0);

  // The layout of the backup is backup_run_test's; here, that it comes back:
  // the unchecked template's file stays away.
  RemoveTree(source.path());
  DeleteKeyTree(HKEY_CURRENT_USER, key.subPath());
  CHECK(RunAndWait("cmd /c Restore.bat", destination, 3 * kPatience) == 0);
  CHECK(ListTree(source.path()) == std::vector<std::string>{"mail.txt", "notes.txt"});
  CHECK(ReadFileBytes(source / "mail.txt") == "mail settings");
  CHECK(ReadFileBytes(source / "notes.txt") == notes);
  CHECK(SnapshotKey(HKEY_CURRENT_USER, key.subPath()) == registry);
}

TEST_CASE("refer asks for an archive or a folder") {
  ScratchFolder place("e2e_place");
  const std::string archive = place / "old.lzh", folder = place.path().substr(0, place.path().size() - 1);
  WriteFileBytes(archive, "old");
  Program program;
  HWND toolbar = Toolbar(program), field = DestinationField(program);

  // Compress pressed asks for an archive, released for a folder.
  program.ClickToolbarButton(toolbar, IDM_COMPRESS);
  PressButton(program.main(), IDC_BROWSE_BUTTON);
  program.AnswerFileDialog(program.WaitForFileDialog(), archive);
  // The archive exists: the dialog asks before it takes the name.
  program.Answer(program.WaitForMessageBox("the overwrite prompt").window, IDYES);
  program.Await("the archive in the destination field", [&] { return TextOf(field) == archive; });
  CHECK(ReadFileBytes(archive) == "old");

  program.ClickToolbarButton(toolbar, IDM_COMPRESS);
  PressButton(program.main(), IDC_BROWSE_BUTTON);
  program.ChooseFolder(program.WaitForFolderBrowser(), folder);
  program.Await("the folder in the destination field", [&] { return TextOf(field) == folder; });
  PressButton(program.main(), IDC_BROWSE_BUTTON);
  program.Answer(program.WaitForFolderBrowser(), IDCANCEL);
  CHECK(TextOf(field) == folder);
  CHECK(program.Close() == 0);
}
