#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/paths.h"
#include "resource.h"
#include "support/test_support.h"
#include "ui/main_window_state.h"
#include "ui/template_list.h"

namespace {

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int row = 0; row < TemplateRowCount(); ++row) names.push_back(RowText(row, 0));
  std::sort(names.begin(), names.end());
  return names;
}

int RowOf(const std::string& fileName) {
  for (int row = 0; row < TemplateRowCount(); ++row)
    if (RowText(row, 3) == fileName) return row;
  return -1;
}

void SelectFiles(std::initializer_list<const char*> fileNames) {
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  for (const char* name : fileNames)
    SendMessageA(MainState().templateList, LVM_SETITEMSTATE, WPARAM(RowOf(name)), LPARAM(&item));
}

void ListNotice(UINT code) {
  NMLISTVIEW notice = {};
  notice.hdr.hwndFrom = MainState().templateList;
  notice.hdr.idFrom = IDC_TEMPLATE_LIST;
  notice.hdr.code = code;
  notice.iSubItem = 3;
  SendMessageA(MainState().window, WM_NOTIFY, IDC_TEMPLATE_LIST, LPARAM(&notice));
}

}  // namespace

TEST_CASE("New, Edit and a double click open the editor on the right file; only a save reloads the list") {
  ScriptedPerson person;
  MainWindowFixture main;
  main.AddTemplate("a.txt", "Alpha\r\nfirst\r\nA\r\n");
  main.AddTemplate("b.txt", "Bravo\r\nsecond\r\nB\r\n");
  main.Reload();
  POINT origin = {0, 0};
  ClientToScreen(main.window(), &origin);
  POINT placed = {-1, -1};
  std::vector<std::string> opened;
  auto name = [&](HWND dialog) { opened.push_back(ItemText(dialog, IDC_NAME_EDIT)); };

  DialogScript script;
  person.saveAnswer = main.templateFolder + "c.txt";
  script.Then(DialogKind::TemplateEditor, [&](HWND dialog) {
    placed = {0, 0};
    ClientToScreen(dialog, &placed);
    name(dialog);
    SetItemText(dialog, IDC_NAME_EDIT, "Charlie");
    Click(dialog, IDOK);
  });
  main.Command(IDM_NEW_TEMPLATE);
  // The editor's client area starts where the main window's does.
  CHECK(placed.x == origin.x);
  CHECK(placed.y == origin.y);
  CHECK(Names() == std::vector<std::string>{"Alpha", "Bravo", "Charlie"});

  // Two rows selected: the editors open in list order; the first is
  // cancelled, the second saves.
  SelectFiles({"a.txt", "b.txt"});
  const bool aFirst = RowOf("a.txt") < RowOf("b.txt");
  main.AddTemplate("late.txt", "Late\r\n\r\n\r\n");  // shows only after a reload
  script.Then(DialogKind::TemplateEditor, [&](HWND dialog) {
          name(dialog);
          Click(dialog, IDCANCEL);
        })
      .Then(DialogKind::TemplateEditor, [&](HWND dialog) {
        name(dialog);
        SetItemText(dialog, IDC_DESCRIPTION_EDIT, "changed");
        Click(dialog, IDOK);
      })
      .Then(DialogKind::OverwriteQuestion, [](HWND question) { Click(question, IDC_OVERWRITE); });
  main.Command(IDM_EDIT_TEMPLATES);
  CHECK(Names() == std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Late"});
  CHECK(ReadFileBytes(main.templateFolder + (aFirst ? "b.txt" : "a.txt")) ==
        (aFirst ? "Bravo\r\nchanged\r\nB\r\n" : "Alpha\r\nchanged\r\nA\r\n"));

  // A double click edits the selection; a cancelled editor reloads nothing.
  SelectFiles({"c.txt"});
  DeleteFileA((main.templateFolder + "late.txt").c_str());
  script.Then(DialogKind::TemplateEditor, [&](HWND dialog) {
    name(dialog);
    Click(dialog, IDCANCEL);
  });
  ListNotice(NM_DBLCLK);
  CHECK(Names() == std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Late"});
  CHECK(script.Done());
  CHECK(opened == (aFirst ? std::vector<std::string>{"", "Alpha", "Bravo", "Charlie"}
                          : std::vector<std::string>{"", "Bravo", "Alpha", "Charlie"}));
  CHECK(person.shown.empty());
}

TEST_CASE("a template made in the editor backs up, and Restore.bat gives back its files and keys") {
  ScriptedPerson person;
  MainWindowFixture main;
  ScratchFolder source{"made"}, target{"target"};
  TestKey key{"Made"};
  const std::string tree = source / "tree (1)";
  CreateDirectoryPath((tree + "\\sub").c_str());
  WriteFileBytes(tree + "\\a.ini", "[a]");
  WriteFileBytes(tree + "\\sub\\b.cfg", "b");
  WriteFileBytes(source / "mail.txt", "mail");
  SetString(HKEY_CURRENT_USER, key.subPath(), "Path", "C:\\Mail & More");
  SetDword(HKEY_CURRENT_USER, key.subPath() + "\\Window", "Left", 42);
  const std::vector<std::string> files = ListTree(source.path());
  const RegSnapshot registry = SnapshotKey(HKEY_CURRENT_USER, key.subPath());

  DialogScript script;
  person.saveAnswer = main.templateFolder + "made.txt";
  script
      .Then(DialogKind::TemplateEditor,
            [&](HWND dialog) {
              SetItemText(dialog, IDC_NAME_EDIT, "Made");
              SetItemText(dialog, IDC_DIRECTORY_EDIT, "Made here");
              Click(dialog, IDC_KIND_FILE);
              Click(dialog, IDC_INCLUDE_SUBDIRS);
              person.folderAnswer = tree;
              Click(dialog, IDC_BROWSE_FOLDER);
              Click(dialog, IDC_ADD_ENTRY);
              Click(dialog, IDC_INCLUDE_SUBDIRS);
              person.folderAnswer = source.path();
              Click(dialog, IDC_BROWSE_FOLDER);
              // The folder comes as "...\*.*"; only the text files are wanted.
              SetItemText(dialog, IDC_FILE_PATH, ItemText(dialog, IDC_FILE_PATH).substr(0, source.path().size()) + "*.txt");
              Click(dialog, IDC_ADD_ENTRY);
              Click(dialog, IDC_KIND_REGISTRY);
              Click(dialog, IDC_BROWSE_KEY);
            })
      .Then(DialogKind::KeyPicker, PickKey({"HKEY_CURRENT_USER", "Software", "ArkivantoTests", "Made"}))
      .Then(DialogKind::TemplateEditor, [](HWND dialog) {
        Click(dialog, IDC_ADD_ENTRY);
        Click(dialog, IDOK);
      });
  main.Command(IDM_NEW_TEMPLATE);
  CHECK(script.Done());
  CHECK(ReadFileBytes(main.templateFolder + "made.txt") == "Made\r\n\r\nMade here\r\nS:" + tree + "\\*.*\r\nF:" +
                                                               source.path() + "*.txt\r\nR:" + key.path() + "\r\n");
  REQUIRE(Names() == std::vector<std::string>{"Made"});  // the save reloaded the list
  const std::string destination = target / "backup\\";
  REQUIRE(main.BackUpAll(person, destination));

  RemoveTree(source.path());
  DeleteKeyTree(HKEY_CURRENT_USER, key.subPath());
  CHECK(RunAndWait("cmd /c Restore.bat", destination) == 0);
  CHECK(ListTree(source.path()) == files);
  CHECK(ReadFileBytes(tree + "\\sub\\b.cfg") == "b");
  CHECK(SnapshotKey(HKEY_CURRENT_USER, key.subPath()) == registry);
}
