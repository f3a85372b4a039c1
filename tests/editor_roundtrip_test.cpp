#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/messages.h"
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

}  // namespace

// New from the toolbar, through the real dialogs, is worked by the
// end-to-end case "editor saves a typed template".
TEST_CASE("Edit and a double click open the editor on the selected files; only a save reloads the list") {
  ScriptedPerson person;
  MainWindowFixture main;
  main.AddTemplate("a.txt", "Alpha\r\nfirst\r\nA\r\n");
  main.AddTemplate("b.txt", "Bravo\r\nsecond\r\nB\r\n");
  main.AddTemplate("c.txt", "Charlie\r\nthird\r\nC\r\n");
  main.Reload();
  POINT origin = {0, 0};
  ClientToScreen(main.window(), &origin);
  POINT placed = {-1, -1};
  std::vector<std::string> opened;
  auto name = [&](HWND dialog) { opened.push_back(ItemText(dialog, IDC_NAME_EDIT)); };

  // Two rows selected: the editors open in list order; the first is
  // cancelled, the second saves.
  SelectRows(MainState().templateList, {RowWith(3, "a.txt"), RowWith(3, "b.txt")});
  const bool aFirst = RowWith(3, "a.txt") < RowWith(3, "b.txt");
  main.AddTemplate("late.txt", "Late\r\n\r\n\r\n");  // shows only after a reload
  DialogScript script;
  script
      .Then(DialogKind::TemplateEditor,
            [&](HWND dialog) {
              placed = {0, 0};
              ClientToScreen(dialog, &placed);
              name(dialog);
              Click(dialog, IDCANCEL);
            })
      .Then(DialogKind::TemplateEditor,
            [&](HWND dialog) {
              name(dialog);
              SetItemText(dialog, IDC_DESCRIPTION_EDIT, "changed");
              Click(dialog, IDOK);
            })
      .Then(DialogKind::OverwriteQuestion, [](HWND question) { Click(question, IDC_OVERWRITE); });
  main.Command(IDM_EDIT_TEMPLATES);
  // The editor's client area starts where the main window's does.
  CHECK(placed.x == origin.x);
  CHECK(placed.y == origin.y);
  CHECK(Names() == std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Late"});
  CHECK(ReadFileBytes(main.templateFolder + (aFirst ? "b.txt" : "a.txt")) ==
        (aFirst ? "Bravo\r\nchanged\r\nB\r\n" : "Alpha\r\nchanged\r\nA\r\n"));

  // A double click edits the selection; a cancelled editor reloads nothing.
  SelectRows(MainState().templateList, {RowWith(3, "c.txt")});
  DeleteFileA((main.templateFolder + "late.txt").c_str());
  script.Then(DialogKind::TemplateEditor, [&](HWND dialog) {
    name(dialog);
    Click(dialog, IDCANCEL);
  });
  main.Notify(NM_DBLCLK, 3);
  CHECK(Names() == std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Late"});
  CHECK(script.Done());
  CHECK(opened == (aFirst ? std::vector<std::string>{"Alpha", "Bravo", "Charlie"}
                          : std::vector<std::string>{"Bravo", "Alpha", "Charlie"}));
  CHECK(person.shown.empty());
}
