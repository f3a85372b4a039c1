#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/messages.h"
#include "resource.h"
#include "support/test_support.h"
#include "ui/main_window_state.h"
#include "ui/template_list.h"

namespace {

std::vector<std::string> Column(int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < TemplateRowCount(); ++row) texts.push_back(RowText(row, column));
  return texts;
}

}  // namespace

// Which dialog the browse button opens, and what it puts in the field, is
// worked from outside by the end-to-end case "refer asks for an archive or a folder".
TEST_CASE("the grid and compression buttons, the About item, the smallest size") {
  ScriptedPerson person;
  MainWindowFixture main;
  const MainWindowState& s = MainState();
  // The grid button turns the grid lines off, the list's other styles kept.
  main.SetPressed(IDM_GRID, false);
  main.Command(IDM_GRID);
  const DWORD style = DWORD(SendMessageA(s.templateList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  CHECK((style & (LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT)) ==
        (LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT));
  // The compression button enables the drop-down, which keeps its choice.
  CHECK_FALSE(IsWindowEnabled(s.compressionCombo));
  SendMessageA(s.compressionCombo, CB_SETCURSEL, 2, 0);
  main.SetPressed(IDM_COMPRESS, true);
  main.Command(IDM_COMPRESS);
  CHECK(IsWindowEnabled(s.compressionCombo));
  main.SetPressed(IDM_COMPRESS, false);
  main.Command(IDM_COMPRESS);
  CHECK_FALSE(IsWindowEnabled(s.compressionCombo));
  CHECK(SendMessageA(s.compressionCombo, CB_GETCURSEL, 0, 0) == 2);
  // The About item closes the system menu.
  HMENU menu = GetSystemMenu(s.window, FALSE);
  CHECK(GetMenuItemID(menu, GetMenuItemCount(menu) - 1) == IDM_ABOUT);
  // The smallest window keeps "DO BACKUP!", a few rows and the whole of
  // "Refer..." in view.
  SetWindowPos(s.window, nullptr, 0, 0, 40, 40, SWP_NOMOVE | SWP_NOZORDER);
  RECT client = {}, backup = {}, list = {}, refer = {};
  GetClientRect(s.window, &client);
  SendMessageA(s.toolbar, TB_GETRECT, IDM_DO_BACKUP, LPARAM(&backup));
  CHECK(client.right >= backup.right);
  GetClientRect(s.templateList, &list);
  CHECK(list.bottom > 0);
  GetClientRect(s.browseButton, &refer);
  HDC dc = GetDC(s.browseButton);
  const HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageA(s.browseButton, WM_GETFONT, 0, 0)));
  SIZE extent = {};
  GetTextExtentPoint32A(dc, LoadMessage(IDS_REFER), int(strlen(LoadMessage(IDS_REFER))), &extent);
  SelectObject(dc, old);
  ReleaseDC(s.browseButton, dc);
  CHECK(refer.right >= extent.cx);
  CHECK(person.shown.empty());
}

TEST_CASE("the list shows every *.txt file of the template folder") {
  ScriptedPerson person;
  MainWindowFixture main;
  main.AddTemplate("a.txt", "Alpha\r\nFirst\rA\r\nF:x\r\n");  // a lone CR ends a line too
  main.AddTemplate("b.txt", "Bravo\nSecond\nB\n");
  main.AddTemplate("notes.TXT", "");
  main.AddTemplate("readme.doc", "Not a template\r\n");
  main.AddTemplate("lf.txt", "LF\n\nDirectory\n");
  main.Reload();
  std::vector<std::string> files = Column(3);
  std::sort(files.begin(), files.end());
  CHECK(files == std::vector<std::string>{"a.txt", "b.txt", "lf.txt", "notes.TXT"});
  for (int row = 0; row < TemplateRowCount(); ++row) {
    CHECK_FALSE(IsTemplateRowChecked(row));
    CHECK_FALSE(IsTemplateRowSelected(row));
    const std::string file = RowText(row, 3);
    if (file == "a.txt") CHECK(RowText(row, 1) == "First");
    if (file == "notes.TXT") CHECK(RowText(row, 0).empty());
    // Two LFs in a row are one line end here: the directory shows as the description.
    if (file == "lf.txt") CHECK(RowText(row, 1) == "Directory");
  }
  CHECK(person.shown.empty());

  SUBCASE("a file that cannot be opened is reported by its name and left out") {
    FileHandle held(
        CreateFileA((main.templateFolder + "b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    main.Reload();
    CHECK(TemplateRowCount() == 3);
    CHECK(person.shown == std::vector<ShownMessage>{{TextOf(IDS_CANT_OPEN_FILE), "b.txt", MB_ICONERROR}});
  }
  SUBCASE("uncheck all (check all is what every whole backup of the tests presses)") {
    main.Command(IDM_CHECK_ALL);
    main.Command(IDM_UNCHECK_ALL);
    for (int row = 0; row < TemplateRowCount(); ++row) CHECK_FALSE(IsTemplateRowChecked(row));
  }
  SUBCASE("sorting by a column, both ways, survives a reload") {
    main.ClickColumn(0);
    CHECK(Column(0) == std::vector<std::string>{"", "Alpha", "Bravo", "LF"});
    main.ClickColumn(0);
    CHECK(Column(0) == std::vector<std::string>{"LF", "Bravo", "Alpha", ""});
    main.ClickColumn(3);
    CHECK(Column(3) == std::vector<std::string>{"a.txt", "b.txt", "lf.txt", "notes.TXT"});
    main.Reload();
    main.ClickColumn(3);  // the last sorted column flips again after a reload
    CHECK(Column(3) == std::vector<std::string>{"notes.TXT", "lf.txt", "b.txt", "a.txt"});
  }
  SUBCASE("delete asks first, and only deletes on Yes") {
    main.Command(IDM_DELETE_TEMPLATES);
    REQUIRE(person.shown.size() == 1);
    CHECK(person.shown[0].text == TextOf(IDS_NO_TEMPLATES_SELECTED));
    CHECK(person.shown[0].type == MB_ICONINFORMATION);
    main.ClickColumn(3);
    SelectRows(MainState().templateList, {0, 2});
    person.answers = {IDNO};
    main.Command(IDM_DELETE_TEMPLATES);
    REQUIRE(person.shown.size() == 2);
    char question[512];
    wsprintfA(question, LoadMessage(IDS_DELETE_TEMPLATES_QUESTION), 2);
    CHECK(person.shown[1].text == question);
    CHECK(person.shown[1].type == (MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    CHECK(TemplateRowCount() == 4);
    person.answers = {IDYES};
    main.Command(IDM_DELETE_TEMPLATES);
    CHECK(Column(3) == std::vector<std::string>{"b.txt", "notes.TXT"});
    CHECK_FALSE(FileExists(main.templateFolder + "a.txt"));
    CHECK_FALSE(FileExists(main.templateFolder + "lf.txt"));
    CHECK(FileExists(main.templateFolder + "b.txt"));
  }
}
