#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
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

RECT ChildRect(HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Select(int row) {
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageA(MainState().templateList, LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item));
}

void ClickColumn(int column) {
  NMLISTVIEW click = {};
  click.hdr.hwndFrom = MainState().templateList;
  click.hdr.idFrom = IDC_TEMPLATE_LIST;
  click.hdr.code = LVN_COLUMNCLICK;
  click.iSubItem = column;
  SendMessageA(MainState().window, WM_NOTIFY, IDC_TEMPLATE_LIST, LPARAM(&click));
}

}  // namespace

TEST_CASE("a first start") {
  ScriptedPerson person;
  MainWindowFixture main;
  const MainWindowState& s = MainState();
  for (int id : {IDM_ADD_DATE, IDM_COMPRESS, IDM_USE_REGEDIT, IDM_LOG}) CHECK_FALSE(main.Pressed(id));
  CHECK(main.Pressed(IDM_GRID));
  CHECK((SendMessageA(s.templateList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_GRIDLINES) != 0);
  CHECK_FALSE(IsWindowEnabled(s.compressionCombo));
  CHECK(SendMessageA(s.compressionCombo, CB_GETCURSEL, 0, 0) == 0);
  CHECK(SendMessageA(s.compressionCombo, CB_GETCOUNT, 0, 0) == 5);
  CHECK(main.StatusText() == TextOf(IDS_STATUS_READY));
  CHECK(TemplateRowCount() == 0);
  for (int id : {IDM_PLACEHOLDER_1, IDM_PLACEHOLDER_2, IDM_PLACEHOLDER_3})
    CHECK_FALSE(SendMessageA(s.toolbar, TB_ISBUTTONENABLED, WPARAM(id), 0));
  // The window is as wide as the toolbar's buttons.
  RECT client = {}, last = {};
  GetClientRect(s.window, &client);
  const int count = int(SendMessageA(s.toolbar, TB_BUTTONCOUNT, 0, 0));
  CHECK(count == 24);
  SendMessageA(s.toolbar, TB_GETITEMRECT, WPARAM(count - 1), LPARAM(&last));
  CHECK(client.right == last.right);
  // The About item closes the system menu, after a separator.
  HMENU menu = GetSystemMenu(s.window, FALSE);
  const int items = GetMenuItemCount(menu);
  CHECK(GetMenuItemID(menu, items - 1) == IDM_ABOUT);
  CHECK((GetMenuState(menu, items - 2, MF_BYPOSITION) & MF_SEPARATOR) != 0);
  char about[128] = {};
  GetMenuStringA(menu, IDM_ABOUT, about, sizeof about, MF_BYCOMMAND);
  CHECK(std::string(about) == TextOf(IDS_ABOUT_MENU));
  CHECK(person.shown.empty());
}

TEST_CASE("the tooltips come from the catalogue") {
  MainWindowFixture main;
  const MainWindowState& s = MainState();
  CHECK(SendMessageA(s.tooltip, TTM_GETTOOLCOUNT, 0, 0) == 15 + 2);  // 15 buttons, the drop-down twice
  for (auto [command, text] : std::vector<std::pair<int, int>>{{IDM_DO_BACKUP, IDS_DO_BACKUP},
                                                               {IDM_USE_REGEDIT, IDS_USE_REGEDIT},
                                                               {IDM_GRID, IDS_TOGGLE_GRID}}) {
    char buffer[256] = {};
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.hwnd = s.toolbar;
    tool.uId = UINT_PTR(command);
    tool.lpszText = buffer;
    SendMessageA(s.tooltip, TTM_GETTEXTA, sizeof buffer, LPARAM(&tool));
    CHECK(std::string(buffer) == TextOf(text));
  }
}

TEST_CASE("the compression button drives the drop-down and the browse dialog") {
  ScriptedPerson person;
  MainWindowFixture main;
  const MainWindowState& s = MainState();
  SendMessageA(s.compressionCombo, CB_SETCURSEL, 2, 0);
  main.SetPressed(IDM_COMPRESS, true);
  main.Command(IDM_COMPRESS);
  CHECK(IsWindowEnabled(s.compressionCombo));
  person.saveAnswer = "D:\\backup.lzh";
  main.Command(IDM_BROWSE);
  char text[260] = {};
  GetWindowTextA(s.destinationEdit, text, sizeof text);
  CHECK(std::string(text) == "D:\\backup.lzh");
  main.SetPressed(IDM_COMPRESS, false);
  main.Command(IDM_COMPRESS);
  CHECK_FALSE(IsWindowEnabled(s.compressionCombo));
  CHECK(SendMessageA(s.compressionCombo, CB_GETCURSEL, 0, 0) == 2);
  person.folderAnswer = "E:\\Saved";
  main.Command(IDM_BROWSE);
  GetWindowTextA(s.destinationEdit, text, sizeof text);
  CHECK(std::string(text) == "E:\\Saved");
  person.folderAnswer.clear();
  main.Command(IDM_BROWSE);  // Cancel changes nothing
  GetWindowTextA(s.destinationEdit, text, sizeof text);
  CHECK(std::string(text) == "E:\\Saved");
  CHECK(person.dialogTitles == std::vector<std::string>{"save:" + TextOf(IDS_CAPTION_SAVE_FILE),
                                                        "folder:" + TextOf(IDS_SELECT_DESTINATION),
                                                        "folder:" + TextOf(IDS_SELECT_DESTINATION)});
}

TEST_CASE("the grid button turns the grid lines on and off, other styles kept") {
  MainWindowFixture main;
  const HWND list = MainState().templateList;
  main.SetPressed(IDM_GRID, false);
  main.Command(IDM_GRID);
  const DWORD style = DWORD(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  CHECK((style & LVS_EX_GRIDLINES) == 0);
  CHECK((style & LVS_EX_CHECKBOXES) != 0);
  CHECK((style & LVS_EX_FULLROWSELECT) != 0);
  main.SetPressed(IDM_GRID, true);
  main.Command(IDM_GRID);
  CHECK((SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_GRIDLINES) != 0);
}

TEST_CASE("the list shows every *.txt file of the template folder") {
  ScriptedPerson person;
  MainWindowFixture main;
  main.AddTemplate("a.txt", "Alpha\r\nFirst\r\nA\r\nF:x\r\n");
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
    FileHandle held(CreateFileA((main.templateFolder + "b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                0, nullptr));
    main.Reload();
    CHECK(TemplateRowCount() == 3);
    REQUIRE(person.shown.size() == 1);
    CHECK(person.shown[0].text == TextOf(IDS_CANT_OPEN_FILE));
    CHECK(person.shown[0].caption == "b.txt");
    CHECK(person.shown[0].type == MB_ICONERROR);
  }
  SUBCASE("check all and uncheck all") {
    main.Command(IDM_CHECK_ALL);
    for (int row = 0; row < TemplateRowCount(); ++row) CHECK(IsTemplateRowChecked(row));
    main.Command(IDM_UNCHECK_ALL);
    for (int row = 0; row < TemplateRowCount(); ++row) CHECK_FALSE(IsTemplateRowChecked(row));
  }
  SUBCASE("sorting by a column, both ways, survives a reload") {
    ClickColumn(0);
    CHECK(Column(0) == std::vector<std::string>{"", "Alpha", "Bravo", "LF"});
    ClickColumn(0);
    CHECK(Column(0) == std::vector<std::string>{"LF", "Bravo", "Alpha", ""});
    ClickColumn(3);
    CHECK(Column(3) == std::vector<std::string>{"a.txt", "b.txt", "lf.txt", "notes.TXT"});
    main.Reload();
    ClickColumn(3);  // the last sorted column flips again after a reload
    CHECK(Column(3) == std::vector<std::string>{"notes.TXT", "lf.txt", "b.txt", "a.txt"});
  }
  SUBCASE("delete asks first, and only deletes on Yes") {
    main.Command(IDM_DELETE_TEMPLATES);
    REQUIRE(person.shown.size() == 1);
    CHECK(person.shown[0].text == TextOf(IDS_NO_TEMPLATES_SELECTED));
    CHECK(person.shown[0].type == MB_ICONINFORMATION);
    ClickColumn(3);
    Select(0);
    Select(2);
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

TEST_CASE("the layout follows the window's size") {
  MainWindowFixture main;
  const MainWindowState& s = MainState();
  SetWindowPos(s.window, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
  RECT client = {};
  GetClientRect(s.window, &client);
  const RECT edit = ChildRect(s.destinationEdit), button = ChildRect(s.browseButton), list = ChildRect(s.templateList);
  const RECT toolbar = ChildRect(s.toolbar), status = ChildRect(s.statusBar);
  CHECK(edit.top == toolbar.bottom);
  CHECK(edit.bottom - edit.top == 18);
  // "Refer..." at the right edge, 50 wide or as its text needs.
  CHECK(edit.right == button.left);
  CHECK(button.right == client.right);
  CHECK(button.right - button.left >= 50);
  CHECK(button.bottom - button.top == 18);
  CHECK(list.top == edit.bottom);
  CHECK(list.bottom == status.top);
  CHECK(list.right == client.right);
  RECT part = {};
  SendMessageA(s.statusBar, SB_GETRECT, 1, LPARAM(&part));
  const RECT upper = ChildRect(s.overallProgress), lower = ChildRect(s.templateProgress);
  CHECK(upper.left == part.left);
  CHECK(upper.right == part.right);
  CHECK(upper.top == part.top);
  CHECK(lower.top == upper.bottom);
  CHECK(upper.bottom - upper.top == (part.bottom - part.top) / 2);
  CHECK(lower.bottom - lower.top == (part.bottom - part.top) / 2);
}
