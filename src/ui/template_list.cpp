#include "ui/template_list.h"

#include <commctrl.h>

#include "core/handles.h"
#include "core/interaction.h"
#include "core/memory.h"
#include "core/messages.h"
#include "core/files.h"
#include "core/notices.h"
#include "core/program_folder.h"
#include "core/paths.h"
#include "ui/main_window_state.h"

namespace {

HWND List() { return MainState().templateList; }

void SetRowText(int row, int column, const char* text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  SendMessageA(List(), LVM_SETITEMTEXTA, WPARAM(row), LPARAM(&item));
}

void AddRow(HANDLE file, const char* fileName) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = TemplateRowCount();
  item.lParam = item.iItem;
  const int row = int(SendMessageA(List(), LVM_INSERTITEMA, 0, LPARAM(&item)));
  if (row < 0) return;
  for (int column = 0; column < 3; ++column) {
    char* line = ReadLineFromFile(file);
    if (line) SetRowText(row, column, line);
    MemFree(line);
  }
  SetRowText(row, 3, fileName);
  SetTemplateRowChecked(row, false);
}

int RowOfItemData(LPARAM data) {
  LVFINDINFOA find = {};
  find.flags = LVFI_PARAM;
  find.lParam = data;
  return int(SendMessageA(List(), LVM_FINDITEMA, WPARAM(-1), LPARAM(&find)));
}

}  // namespace

int TemplateRowCount() { return List() ? int(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0)) : 0; }

bool IsTemplateRowChecked(int row) {
  const UINT state = UINT(SendMessageA(List(), LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK));
  return (state >> 12) != 1;
}

void SetTemplateRowChecked(int row, bool checked) {
  LVITEMA item = {};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  SendMessageA(List(), LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item));
}

bool IsTemplateRowSelected(int row) {
  return SendMessageA(List(), LVM_GETITEMSTATE, WPARAM(row), LVIS_SELECTED) & LVIS_SELECTED;
}

int SelectedTemplateRowCount() { return List() ? int(SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0)) : 0; }

// Reads a column's text into room bytes, always terminated: the list view
// does not terminate a text it had to cut.
static void ReadRowText(int row, int column, char* text, int room) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = room;
  text[0] = '\0';
  SendMessageA(List(), LVM_GETITEMTEXTA, WPARAM(row), LPARAM(&item));
  text[room - 1] = '\0';
}

char* CopyTemplateRowText(int row, int column) {
  return ReadWholeText([row, column](char* text, size_t room) { ReadRowText(row, column, text, int(room)); });
}

bool TemplateRowPath(int row, PathText* path) {
  HeapBlock name(CopyTemplateRowText(row, 3));
  return name && TemplateFilePath(name.get(), path);
}

void LoadTemplateList(HWND owner) {
  if (!List()) return;
  SendMessageA(List(), LVM_DELETEALLITEMS, 0, 0);
  PathText folder;
  if (!TemplateFolderPath(&folder)) return;
  PathText pattern = folder;
  if (!pattern.Append("*.txt")) return;
  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileA(pattern.s, &found));
  if (!search) return;
  // One repaint at the end instead of one per row.
  SendMessageA(List(), WM_SETREDRAW, FALSE, 0);
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    PathText path = folder;
    FileHandle file;
    if (path.Append(found.cFileName))
      file.reset(
          CreateFileA(path.s, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      TellWithCaption(owner, LoadMessage(IDS_CANT_OPEN_FILE), found.cFileName, MB_ICONERROR);
      continue;
    }
    AddRow(file.get(), found.cFileName);
  } while (FindNextFileA(search.get(), &found));
  SendMessageA(List(), WM_SETREDRAW, TRUE, 0);
  InvalidateRect(List(), nullptr, TRUE);
}

void SortTemplateList(int column) {
  MainWindowState& state = MainState();
  if (column == state.sortColumn) {
    state.sortDescending = !state.sortDescending;
  } else {
    state.sortColumn = column;
    state.sortDescending = 0;
  }
  SendMessageA(List(), LVM_SORTITEMS, WPARAM(column), LPARAM(CompareTemplateRows));
}

int CALLBACK CompareTemplateRows(LPARAM first, LPARAM second, LPARAM column) {
  // Texts are compared on their first 29 bytes.
  char a[30], b[30];
  ReadRowText(RowOfItemData(first), int(column), a, sizeof a);
  ReadRowText(RowOfItemData(second), int(column), b, sizeof b);
  const int order = lstrcmpA(a, b);
  return MainState().sortDescending ? -order : order;
}
