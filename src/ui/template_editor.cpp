#include "ui/template_editor.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "backup/template_format.h"
#include "core/errors.h"
#include "core/handles.h"
#include "core/dialog_text.h"
#include "core/files.h"
#include "core/interaction.h"
#include "core/memory.h"
#include "core/messages.h"
#include "core/notices.h"
#include "core/program_folder.h"
#include "core/paths.h"
#include "resource.h"
#include "ui/dialog_layout.h"
#include "ui/file_dialog.h"
#include "core/fixed_texts.h"
#include "ui/overwrite_question.h"
#include "ui/registry_key_picker.h"

namespace {

// An entry's argument must fit a path buffer, where the backup puts it.
constexpr size_t kArgumentLimit = kPathSize - 1;

struct TemplateEditorState {
  const char* templatePath = nullptr;  // not owned; null for a new template
  int modified = 0;                    // rows added, changed, deleted or moved
  OwnedImageList kindImages;
  DialogLayout layout;
};

// The kind icons by image index (the order of TemplateEntryKind).
constexpr int kKindIcons[] = {IDI_KIND_UNSET,    IDI_KIND_FILES,    IDI_KIND_FILES_RECURSIVE,
                              IDI_KIND_REGISTRY, IDI_KIND_RELATION, IDI_KIND_INI};
constexpr int kHeaderFields[] = {IDC_NAME_EDIT, IDC_DESCRIPTION_EDIT, IDC_DIRECTORY_EDIT};
constexpr int kPathFields[] = {IDC_FILE_PATH, IDC_KEY_PATH, IDC_EXE_PATH, IDC_INI_FILE};

// The controls each kind's radio button enables (and the others disable).
struct KindControls {
  int radio;
  int controls[8];  // ended by 0 when shorter
};
constexpr KindControls kKinds[] = {
    {IDC_KIND_FILE, {IDC_FILE_LABEL, IDC_FILE_PATH, IDC_BROWSE_FOLDER, IDC_INCLUDE_SUBDIRS}},
    {IDC_KIND_REGISTRY, {IDC_KEY_LABEL, IDC_KEY_PATH, IDC_BROWSE_KEY}},
    {IDC_KIND_RELATION, {IDC_EXE_LABEL, IDC_EXE_PATH, IDC_BROWSE_EXE}},
    {IDC_KIND_INI,
     {IDC_INI_FILE_LABEL, IDC_INI_FILE, IDC_BROWSE_INI, IDC_INI_SECTION_LABEL, IDC_INI_SECTION, IDC_INI_VALUE_LABEL,
      IDC_INI_ALL, IDC_INI_VALUE}},
};

// The kinds whose row text is a field's text.
struct KindField {
  int radio;
  int field;
  TemplateEntryKind kind;
};
constexpr KindField kKindFields[] = {
    {IDC_KIND_FILE, IDC_FILE_PATH, TemplateEntryKind::Files},
    {IDC_KIND_REGISTRY, IDC_KEY_PATH, TemplateEntryKind::Registry},
    {IDC_KIND_RELATION, IDC_EXE_PATH, TemplateEntryKind::Relation},
};

// On a larger window the entry list grows; the header fields grow to the
// right; the buttons and the kinds' group keep to the right edge.
constexpr ControlAnchor kFixedAnchors[] = {
    {IDC_NAME_EDIT, kGrowRight},      {IDC_DESCRIPTION_EDIT, kGrowRight},
    {IDC_DIRECTORY_EDIT, kGrowRight}, {IDOK, kMoveRight},
    {IDCANCEL, kMoveRight},           {IDC_ENTRY_LIST, kGrow},
    {IDC_ADD_ENTRY, kMoveRight},      {IDC_UPDATE_ENTRY, kMoveRight},
    {IDC_DELETE_ENTRIES, kMoveRight}, {IDC_MOVE_UP, kMoveRight},
    {IDC_MOVE_DOWN, kMoveRight},      {IDC_KIND_GROUP, kMoveRight | kGrowDown},
};

TemplateEditorState* StateOf(HWND dialog) {
  return reinterpret_cast<TemplateEditorState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

HWND EntryList(HWND dialog) { return GetDlgItem(dialog, IDC_ENTRY_LIST); }

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// Rows of the entry list: the entry's argument and its kind's image.

int RowCount(HWND list) { return int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

int SelectedRowCount(HWND list) { return int(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0)); }

bool IsRowSelected(HWND list, int row) {
  return (SendMessageA(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

char* RowText(HWND list, int row) {
  return ReadWholeText([&](char* text, size_t room) {
    LVITEMA item = {};
    item.pszText = text;
    item.cchTextMax = int(room);
    SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(row), LPARAM(&item));
  });
}

int RowImage(HWND list, int row) {
  LVITEMA item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  return SendMessageA(list, LVM_GETITEMA, 0, LPARAM(&item)) ? item.iImage : 0;
}

int AppendRow(HWND list, const char* text, int image) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = RowCount(list);
  item.pszText = const_cast<char*>(text);
  item.iImage = image;
  return int(SendMessageA(list, LVM_INSERTITEMA, 0, LPARAM(&item)));
}

// A row's whole state: selection, focus and the rest move with it.
constexpr UINT kRowStates =
    LVIS_SELECTED | LVIS_FOCUSED | LVIS_CUT | LVIS_DROPHILITED | LVIS_OVERLAYMASK | LVIS_STATEIMAGEMASK;

struct Row {
  HeapBlock text;
  int image = 0;
  UINT state = 0;
};

bool ReadRow(HWND list, int index, Row* row) {
  row->text.reset(RowText(list, index));
  row->image = RowImage(list, index);
  row->state = UINT(SendMessageA(list, LVM_GETITEMSTATE, WPARAM(index), kRowStates));
  return bool(row->text);
}

void WriteRow(HWND list, int index, const char* text, int image) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = index;
  item.pszText = const_cast<char*>(text);
  item.iImage = image;
  SendMessageA(list, LVM_SETITEMA, 0, LPARAM(&item));
}

void WriteRowState(HWND list, int index, UINT state) {
  LVITEMA item = {};
  item.stateMask = kRowStates;
  item.state = state;
  SendMessageA(list, LVM_SETITEMSTATE, WPARAM(index), LPARAM(&item));
}

bool SwapRows(HWND list, int first, int second) {
  Row a, b;
  if (!ReadRow(list, first, &a) || !ReadRow(list, second, &b)) return false;
  WriteRow(list, first, b.text.get(), b.image);
  WriteRow(list, second, a.text.get(), a.image);
  WriteRowState(list, first, b.state);
  WriteRowState(list, second, a.state);
  return true;
}

// Opening.

void SetUpEntryList(HWND dialog, TemplateEditorState* state, HINSTANCE module) {
  HWND list = EntryList(dialog);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  state->kindImages.reset(ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 6, 1));
  for (int id : kKindIcons) {
    OwnedIcon icon(static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0)));
    ImageList_AddIcon(state->kindImages.get(), icon.get());
  }
  SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, LPARAM(state->kindImages.get()));
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT;
  column.pszText = const_cast<char*>(LoadMessage(IDS_CAPTION_TASK));
  SendMessageA(list, LVM_INSERTCOLUMNA, 0, LPARAM(&column));
}

void StartLayout(HWND dialog, TemplateEditorState* state) {
  constexpr size_t kFixed = sizeof kFixedAnchors / sizeof kFixedAnchors[0];
  ControlAnchor anchors[kFixed + 4 * 9] = {};
  size_t count = 0;
  for (const ControlAnchor& a : kFixedAnchors) anchors[count++] = a;
  for (const KindControls& kind : kKinds) {
    anchors[count++] = {kind.radio, kMoveRight};
    for (int id : kind.controls)
      if (id) anchors[count++] = {id, kMoveRight};
  }
  state->layout.Start(dialog, anchors, count);
}

void LoadTemplate(HWND dialog, const char* path) {
  bool opened = false;
  HeapBlock content(ReadTemplateText(path, &opened));
  if (!content) return ShowError(dialog, LoadMessage(opened ? IDS_CANT_READ_TEMPLATE : IDS_CANT_OPEN_TEMPLATE));
  char* cursor = content.get();
  for (int id : kHeaderFields) {
    const char* line = TakeLine(&cursor);
    if (!line) return;
    SetDlgItemTextA(dialog, id, line);
  }
  HWND list = EntryList(dialog);
  for (const char* line; (line = TakeLine(&cursor)) != nullptr;) {
    TemplateEntry entry;
    if (ParseEntryLineByCharacter(line, &entry))
      AppendRow(list, entry.argument, ImageIndexOfKind(KindOfLetter(entry.letter)));
  }
}

void OnInitDialog(HWND dialog, TemplateEditorState* state, HINSTANCE module) {
  SetWindowLongPtrA(dialog, DWLP_USER, LONG_PTR(state));
  SetUpEntryList(dialog, state, module);
  StartLayout(dialog, state);
  for (int id : kPathFields) SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, kArgumentLimit, 0);
  if (state->templatePath) LoadTemplate(dialog, state->templatePath);
  FitListColumns(EntryList(dialog));
}

// Kinds and their fields.

void OnKindChosen(HWND dialog, int radio) {
  for (const KindControls& kind : kKinds)
    for (int id : kind.controls)
      if (id) EnableWindow(GetDlgItem(dialog, id), kind.radio == radio);
}

void OnBrowseFolder(HWND dialog) {
  char folder[kPathSize] = {};
  if (!BrowseForFolder(dialog, LoadMessage(IDS_SELECT_DIRECTORY), folder)) return;
  PathText pattern;
  if (!pattern.Set(folder) || !pattern.EnsureSeparator() || !pattern.Append("*.*"))
    return ShowSystemError(dialog, ERROR_FILENAME_EXCED_RANGE);
  SetDlgItemTextA(dialog, IDC_FILE_PATH, pattern.s);
}

void OnBrowseKey(HWND dialog) {
  HeapBlock key(PickRegistryKey(dialog));
  if (!key) return;
  if (strlen(key.get()) > kArgumentLimit) return ShowSystemError(dialog, ERROR_FILENAME_EXCED_RANGE);
  SetDlgItemTextA(dialog, IDC_KEY_PATH, key.get());
}

void OnBrowseFile(HWND dialog, const DialogFilter& filter, const char* extension, int field) {
  char path[kPathSize] = {};
  OPENFILENAMEA open = FileDialogRecord(dialog, filter, path, sizeof path, LoadMessage(IDS_CAPTION_SAVE_FILE));
  open.Flags = OFN_FILEMUSTEXIST;
  open.lpstrDefExt = extension;
  if (AskOpenFile(&open)) SetDlgItemTextA(dialog, field, path);
}

// What the chosen kind puts into a row. No text leaves the row as it is (no
// kind chosen, or its field empty).
struct KindInput {
  HeapBlock field;
  const char* text = nullptr;
  int image = 0;
  bool tooLong = false;
};

void ReadKindInput(HWND dialog, KindInput* input) {
  for (const KindField& k : kKindFields) {
    if (!IsChecked(dialog, k.radio)) continue;
    input->field.reset(GetItemTextCopy(dialog, k.field));
    if (!input->field || !input->field.get()[0]) return;
    // The field's limit counts characters; the file's counts bytes.
    if (strlen(input->field.get()) > kArgumentLimit) {
      input->tooLong = true;
      return;
    }
    TemplateEntryKind kind = k.kind;
    if (kind == TemplateEntryKind::Files && IsChecked(dialog, IDC_INCLUDE_SUBDIRS))
      kind = TemplateEntryKind::FilesRecursive;
    input->text = input->field.get();
    input->image = ImageIndexOfKind(kind);
    return;
  }
  if (IsChecked(dialog, IDC_KIND_INI)) {
    input->text = kIniEntryText;
    input->image = ImageIndexOfKind(TemplateEntryKind::Ini);
  }
}

// Add (row < 0: a new row at the end) and Update. A field too long for an
// entry is refused before anything changes.
void FillRow(HWND dialog, TemplateEditorState* state, int row) {
  KindInput input;
  ReadKindInput(dialog, &input);
  if (input.tooLong) return ShowSystemError(dialog, ERROR_FILENAME_EXCED_RANGE);
  HWND list = EntryList(dialog);
  if (row < 0 && (row = AppendRow(list, "", ImageIndexOfKind(TemplateEntryKind::Unset))) < 0) return;
  if (input.text) WriteRow(list, row, input.text, input.image);
  FitListColumns(list);
  if (input.image == ImageIndexOfKind(TemplateEntryKind::Ini))
    Tell(dialog, kIniEntryNotSupported, IDS_CAPTION_ERROR, MB_OK);
  state->modified = 1;
}

// Entry list commands.

void OnUpdate(HWND dialog, TemplateEditorState* state) {
  HWND list = EntryList(dialog);
  const int selected = SelectedRowCount(list);
  if (selected == 0) return ShowNotice(dialog, LoadMessage(IDS_NO_TEMPLATES_SELECTED));
  if (selected > 1) return ShowNotice(dialog, LoadMessage(IDS_TWO_OR_MORE_SELECTED));
  FillRow(dialog, state, int(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)));
}

void OnDelete(HWND dialog, TemplateEditorState* state) {
  HWND list = EntryList(dialog);
  const int selected = SelectedRowCount(list);
  if (selected == 0) return ShowNotice(dialog, LoadMessage(IDS_NO_TEMPLATES_SELECTED));
  const char* format = LoadMessage(IDS_DELETE_TASKS_QUESTION);
  char question[512];
  snprintf(question, sizeof question, format ? format : "", selected);
  if (!AskYesNo(dialog, question, IDS_CAPTION_QUESTION, MB_ICONWARNING | MB_DEFBUTTON2)) return;
  for (int row = 0; row < RowCount(list);) {
    if (!IsRowSelected(list, row)) {
      ++row;
      continue;
    }
    SendMessageA(list, LVM_DELETEITEM, WPARAM(row), 0);
    state->modified = 1;
  }
}

// Each block of selected rows moves one place; one at the edge stays.
void OnMoveUp(HWND dialog, TemplateEditorState* state) {
  HWND list = EntryList(dialog);
  const int count = RowCount(list);
  for (int row = 1; row < count; ++row)
    if (IsRowSelected(list, row) && !IsRowSelected(list, row - 1) && SwapRows(list, row - 1, row)) state->modified = 1;
}

void OnMoveDown(HWND dialog, TemplateEditorState* state) {
  HWND list = EntryList(dialog);
  for (int row = RowCount(list) - 2; row >= 0; --row)
    if (IsRowSelected(list, row) && !IsRowSelected(list, row + 1) && SwapRows(list, row, row + 1)) state->modified = 1;
}

// Saving.

// Asks for a new file name in the template folder until the person takes
// one that is free or agrees to replace it; false on Cancel.
bool AskNewTemplateName(HWND dialog, char* name) {
  PathText folder;
  const bool folderFits = TemplateFolderPath(&folder);
  const DialogFilter filter(kTemplateFilter);
  for (;;) {
    name[0] = '\0';
    OPENFILENAMEA save = FileDialogRecord(dialog, filter, name, kPathSize, LoadMessage(IDS_CAPTION_SAVE_TEMPLATE));
    save.lpstrInitialDir = folderFits ? folder.s : nullptr;
    save.lpstrDefExt = "txt";
    if (!AskSaveFile(&save)) return false;
    if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return true;
    if (AskYesNo(dialog, LoadMessage(IDS_SAME_NAME_OVERWRITE), IDS_CAPTION_QUESTION, MB_ICONQUESTION)) return true;
  }
}

bool AppendLine(TextBuffer* text, const char* prefix, const char* line) {
  return TextBufferAppend(text, prefix) && TextBufferAppend(text, line) && TextBufferAppend(text, "\r\n");
}

// The three header lines, then one line per row, each ended by CR LF.
bool ComposeTemplate(HWND dialog, TextBuffer* text) {
  if (!TextBufferInit(text)) return false;
  for (int id : kHeaderFields) {
    HeapBlock line(GetItemTextCopy(dialog, id));
    if (!line || !AppendLine(text, "", line.get())) return false;
  }
  HWND list = EntryList(dialog);
  for (int row = 0; row < RowCount(list); ++row) {
    HeapBlock entry(RowText(list, row));
    if (!entry || !AppendLine(text, PrefixOfImageIndex(RowImage(list, row)), entry.get())) return false;
  }
  return true;
}

// Writes the text beside the target and puts it in place, offering
// retries; false when the person gives up, which keeps them in the editor
// with their work and leaves any earlier file whole.
bool WriteTemplate(HWND dialog, const char* target, const TextBuffer& text) {
  for (;;) {
    const DWORD code = WriteFileAside(target, text.text, text.length);
    if (code == ERROR_SUCCESS) return true;
    if (!AskRetry(dialog, IsWriteFailure(code) ? IDS_CANT_WRITE_FILE : IDS_CANT_OPEN_FILE_TO_WRITE, IDS_CANT_OPEN_FILE))
      return false;
  }
}

void OnSave(HWND dialog, const TemplateEditorState* state) {
  char chosen[kPathSize] = {};
  const char* target = nullptr;
  if (state->templatePath) {
    const int answer = AskOverwriteOrSaveAs(dialog);
    if (answer == IDCANCEL) return;
    if (answer == IDC_OVERWRITE) target = state->templatePath;
  }
  if (!target) {
    if (!AskNewTemplateName(dialog, chosen)) return;
    target = chosen;
  }
  TextBuffer text;
  if (!ComposeTemplate(dialog, &text)) return ShowSystemError(dialog, ERROR_NOT_ENOUGH_MEMORY);
  if (WriteTemplate(dialog, target, text)) EndDialog(dialog, 1);
}

void OnCancel(HWND dialog, const TemplateEditorState* state) {
  if (state->modified && !AskYesNo(dialog, LoadMessage(IDS_CANCEL_EDITING), IDS_CAPTION_QUESTION, MB_ICONQUESTION))
    return;
  EndDialog(dialog, 0);
}

INT_PTR OnCommand(HWND dialog, int id, int notification) {
  TemplateEditorState* state = StateOf(dialog);
  if (!state || notification != BN_CLICKED) return FALSE;  // field notifications are not wanted
  switch (id) {
    case IDOK: OnSave(dialog, state); break;
    case IDCANCEL: OnCancel(dialog, state); break;
    case IDC_KIND_FILE:
    case IDC_KIND_REGISTRY:
    case IDC_KIND_RELATION:
    case IDC_KIND_INI: OnKindChosen(dialog, id); break;
    case IDC_BROWSE_FOLDER: OnBrowseFolder(dialog); break;
    case IDC_BROWSE_KEY: OnBrowseKey(dialog); break;
    case IDC_BROWSE_EXE: OnBrowseFile(dialog, DialogFilter(kExecutableFilter), "exe", IDC_EXE_PATH); break;
    case IDC_BROWSE_INI: OnBrowseFile(dialog, DialogFilter(kIniFileFilter), "ini", IDC_INI_FILE); break;
    case IDC_ADD_ENTRY: FillRow(dialog, state, -1); break;
    case IDC_UPDATE_ENTRY: OnUpdate(dialog, state); break;
    case IDC_DELETE_ENTRIES: OnDelete(dialog, state); break;
    case IDC_MOVE_UP: OnMoveUp(dialog, state); break;
    case IDC_MOVE_DOWN: OnMoveDown(dialog, state); break;
    default: return FALSE;
  }
  return TRUE;
}

struct EditorStart {
  TemplateEditorState* state;
  HINSTANCE module;
};

INT_PTR CALLBACK TemplateEditorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* start = reinterpret_cast<const EditorStart*>(lParam);
      OnInitDialog(dialog, start->state, start->module);
      return TRUE;
    }
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_CLOSE:
      if (StateOf(dialog)) OnCancel(dialog, StateOf(dialog));
      return TRUE;
    case WM_SIZE:
    case WM_GETMINMAXINFO:
      if (StateOf(dialog)) OnLayoutMessage(StateOf(dialog)->layout, dialog, message, lParam, EntryList(dialog));
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

int RunTemplateEditor(HWND owner, const char* path) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  TemplateEditorState state;
  state.templatePath = path;
  const HINSTANCE module =
      owner ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE)) : GetModuleHandleA(nullptr);
  EditorStart start{&state, module};
  const INT_PTR result =
      DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TEMPLATE_EDITOR), owner, TemplateEditorProc, LPARAM(&start));
  return result == 1 ? 1 : 0;
}
