#include "ui/registry_key_picker.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "core/handles.h"
#include "core/interaction.h"
#include "core/memory.h"
#include "core/messages.h"
#include "core/notices.h"
#include "core/registry_roots.h"
#include "core/paths.h"
#include "resource.h"
#include "ui/dialog_layout.h"

namespace {

// An item's data while its sub-keys have not been read yet.
constexpr LPARAM kNotFilled = 1;

struct RegistryKeyPickerState {
  char* result = nullptr;  // the chosen path, handed to the caller
  DialogLayout layout;
};

// On a larger window the tree grows down, the value list takes the rest.
constexpr ControlAnchor kAnchors[] = {
    {IDC_KEY_TREE, kGrowDown}, {IDC_VALUE_LIST, kGrow}, {IDOK, kMoveRightAndDown}, {IDCANCEL, kMoveRightAndDown}};

RegistryKeyPickerState* StateOf(HWND dialog) {
  return reinterpret_cast<RegistryKeyPickerState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

HWND Tree(HWND dialog) { return GetDlgItem(dialog, IDC_KEY_TREE); }
HWND ValueList(HWND dialog) { return GetDlgItem(dialog, IDC_VALUE_LIST); }

// Shows the wait cursor for as long as it lives.
class WaitCursor {
 public:
  WaitCursor() { SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); }   // IDC_WAIT
  ~WaitCursor() { SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512))); }  // IDC_ARROW
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

bool AppendItemPath(HWND tree, HTREEITEM item, const char* separator, TextBuffer* path) {
  if (!item || item == TVI_ROOT) return true;
  const auto parent = HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, LPARAM(item)));
  if (!AppendItemPath(tree, parent, separator, path)) return false;
  HeapBlock text(GetTreeItemText(tree, item));
  return text && TextBufferAppend(path, text.get()) && TextBufferAppend(path, separator);
}

// Opens the key a path names: its root by the first component, the rest
// below it (none for a root item, which opens the root itself).
bool OpenKeyOfPath(const char* path, RegKey* key) {
  const HKEY root = LookupRootKey(path);
  if (!root) return false;
  const char* separator = FindChar(path, '\\');
  return RegOpenKeyExA(root, separator ? separator + 1 : nullptr, 0, KEY_READ, key->out()) == ERROR_SUCCESS;
}

bool OpenKeyOfItem(HWND dialog, HTREEITEM item, RegKey* key) {
  HeapBlock path(GetTreeItemPath(Tree(dialog), item, "\\"));
  if (path && OpenKeyOfPath(path.get(), key)) return true;
  ShowError(dialog, LoadMessage(IDS_CANT_OPEN_KEY_PERMISSION));
  return false;
}

void InsertKeyItem(HWND tree, HTREEITEM parent, HTREEITEM after, const char* name, bool hasChildren) {
  TVINSERTSTRUCTA insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = after;
  insert.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_PARAM;
  insert.item.pszText = const_cast<char*>(name);
  insert.item.cChildren = hasChildren ? 1 : 0;
  insert.item.lParam = kNotFilled;
  SendMessageA(tree, TVM_INSERTITEMA, 0, LPARAM(&insert));
}

bool HasSubKeys(HKEY parent, const char* name) {
  RegKey key;
  // A key listed but closed to us keeps its button; opening it then says why.
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return true;
  DWORD count = 0;
  RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  return count > 0;
}

// Reads an item's sub-keys into the tree; false when its key cannot be opened.
bool FillSubKeys(HWND dialog, HTREEITEM item) {
  HWND tree = Tree(dialog);
  TVITEMA mark = {};
  mark.mask = TVIF_HANDLE | TVIF_PARAM;
  mark.hItem = item;
  mark.lParam = 0;
  SendMessageA(tree, TVM_SETITEMA, 0, LPARAM(&mark));
  RegKey key;
  if (!OpenKeyOfItem(dialog, item, &key)) return false;
  DWORD count = 0, longest = 0;
  RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  // Lengths are counted in characters; a character may take two bytes here.
  const DWORD room = 2 * longest + 2;
  HeapBlock name(MemAlloc(room));
  if (!name) return true;
  WaitCursor wait;
  for (DWORD i = 0; i < count; ++i) {
    if (RegEnumKeyA(key.get(), i, name.get(), room) != ERROR_SUCCESS) continue;  // removed meanwhile
    InsertKeyItem(tree, item, TVI_SORT, name.get(), HasSubKeys(key.get(), name.get()));
  }
  return true;
}

const char* TypeText(DWORD type, char* number) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: sprintf(number, "%d", int(type)); return number;
  }
}

// The value column's text. data has one byte beyond size for a terminator.
const char* ValueText(DWORD type, char* data, DWORD size, char* dump) {
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    data[size] = '\0';  // stored strings need not end in a NUL
    return data;
  }
  if (type == REG_DWORD && size >= 4) {
    DWORD value;
    memcpy(&value, data, 4);
    sprintf(dump, "0x%08X(%d)", unsigned(value), int(value));
    return dump;
  }
  // Everything else, and a DWORD too short to be one, as its first bytes.
  char* out = dump;
  for (DWORD i = 0; i < size && i < 16; ++i) out += sprintf(out, "%02X ", unsigned(BYTE(data[i])));
  strcpy(out, size > 16 ? "..." : "");
  return dump;
}

void SetCell(HWND list, int row, int column, const char* text) {
  LVITEMA cell = {};
  cell.iSubItem = column;
  cell.pszText = const_cast<char*>(text);
  SendMessageA(list, LVM_SETITEMTEXTA, WPARAM(row), LPARAM(&cell));
}

void ShowValues(HWND dialog, HTREEITEM item) {
  RegKey key;
  if (!OpenKeyOfItem(dialog, item, &key)) return;
  DWORD count = 0, longestName = 0, longestData = 0;
  RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName, &longestData,
                   nullptr, nullptr);
  const DWORD nameRoom = 2 * longestName + 2, dataRoom = 2 * longestData + 2;
  HeapBlock name(MemAlloc(nameRoom)), data(MemAlloc(dataRoom + 1));
  if (!name || !data) return;
  HWND list = ValueList(dialog);
  SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
  WaitCursor wait;
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameSize = nameRoom, dataSize = dataRoom, type = 0;
    if (RegEnumValueA(key.get(), i, name.get(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.get()),
                      &dataSize) != ERROR_SUCCESS)
      continue;  // removed or grown meanwhile
    LVITEMA row = {};
    row.mask = LVIF_TEXT;
    row.iItem = int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    row.pszText = name.get();
    const int at = int(SendMessageA(list, LVM_INSERTITEMA, 0, LPARAM(&row)));
    if (at < 0) continue;
    char number[16], dump[16 * 3 + 4];
    SetCell(list, at, 1, TypeText(type, number));
    SetCell(list, at, 2, ValueText(type, data.get(), dataSize, dump));
  }
  FitListColumns(list);
}

void OnInitDialog(HWND dialog, RegistryKeyPickerState* state) {
  SetWindowLongPtrA(dialog, DWLP_USER, LONG_PTR(state));
  state->layout.Start(dialog, kAnchors, sizeof kAnchors / sizeof kAnchors[0]);
  for (const RegistryRoot& root : kRegistryRoots) InsertKeyItem(Tree(dialog), TVI_ROOT, TVI_LAST, root.fullName, true);
  const int kHeaders[] = {IDS_COLUMN_NAME, IDS_COLUMN_TYPE, IDS_COLUMN_VALUE};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(LoadMessage(kHeaders[i]));
    column.iSubItem = i;
    SendMessageA(ValueList(dialog), LVM_INSERTCOLUMNA, WPARAM(i), LPARAM(&column));
  }
  FitListColumns(ValueList(dialog));
}

// True refuses the expansion.
bool OnItemExpanding(HWND dialog, const NMTREEVIEWA* change) {
  HTREEITEM item = change->itemNew.hItem;
  if (!item || !(change->action & TVE_EXPAND)) return false;
  TVITEMA current = {};
  current.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
  current.hItem = item;
  current.stateMask = TVIS_EXPANDEDONCE;
  if (!SendMessageA(Tree(dialog), TVM_GETITEMA, 0, LPARAM(&current))) return false;
  if ((current.state & TVIS_EXPANDEDONCE) || current.lParam != kNotFilled) return false;
  return !FillSubKeys(dialog, item);
}

INT_PTR OnNotify(HWND dialog, const NMHDR* header) {
  if (header->idFrom != IDC_KEY_TREE) return FALSE;
  const auto* change = reinterpret_cast<const NMTREEVIEWA*>(header);
  switch (header->code) {
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW:
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, OnItemExpanding(dialog, change) ? TRUE : FALSE);
      return TRUE;
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW:
      if (change->itemNew.hItem) ShowValues(dialog, change->itemNew.hItem);
      return TRUE;
    default: return FALSE;
  }
}

void OnOk(HWND dialog) {
  RegistryKeyPickerState* state = StateOf(dialog);
  HWND tree = Tree(dialog);
  const auto selected = HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  state->result = GetTreeItemPath(tree, selected, "\\");
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK RegistryKeyPickerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog, reinterpret_cast<RegistryKeyPickerState*>(lParam)); return TRUE;
    case WM_SIZE:
    case WM_GETMINMAXINFO:
      if (StateOf(dialog)) OnLayoutMessage(StateOf(dialog)->layout, dialog, message, lParam, ValueList(dialog));
      return FALSE;
    case WM_NOTIFY: return OnNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        OnOk(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

char* GetTreeItemText(HWND tree, HTREEITEM item) {
  return ReadWholeText([&](char* text, size_t room) {
    TVITEMA get = {};
    get.mask = TVIF_HANDLE | TVIF_TEXT;
    get.hItem = item;
    get.pszText = text;
    get.cchTextMax = int(room);
    SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&get));
  });
}

char* GetTreeItemPath(HWND tree, HTREEITEM item, const char* separator) {
  TextBuffer path;
  if (!TextBufferInit(&path) || !AppendItemPath(tree, item, separator, &path)) return nullptr;
  const uint32_t cut = uint32_t(strlen(separator));
  if (path.length >= cut) TextBufferTruncate(&path, path.length - cut);
  return std::exchange(path.text, nullptr);
}

char* PickRegistryKey(HWND owner) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  RegistryKeyPickerState state;
  const INT_PTR answer = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REGISTRY_KEY_PICKER), owner,
                                         RegistryKeyPickerProc, LPARAM(&state));
  if (answer == IDOK) return state.result;
  MemFree(state.result);
  return nullptr;
}
