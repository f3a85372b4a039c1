#include "ui/main_window.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "about/about_box.h"
#include "backup/backup_run.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/notices.h"
#include "core/paths.h"
#include "resource.h"
#include "ui/check_report.h"
#include "ui/dialog_layout.h"
#include "ui/file_dialog.h"
#include "core/fixed_texts.h"
#include "ui/main_window_state.h"
#include "ui/template_editor.h"
#include "ui/template_list.h"
#include "ui/user_guide.h"

namespace {

constexpr char kClassName[] = "Arkivanto2";
constexpr int kBrowseWidth = 50;  // at least; a longer text widens it
constexpr int kFieldHeight = 18;
// The list keeps a few rows when the window is made as small as it goes.
constexpr int kSmallestListHeight = 60;
const char* const kCompressionTypes[] = {"LZH", "ZIP", "CAB", "RAR", "GCA"};
constexpr LRESULT kZipIndex = 1;

struct ToolbarButton {
  int command;  // 0 for a separator
  int image;
  BYTE style;
  BYTE state;
  int tooltipId;  // 0 for none
};

constexpr ToolbarButton kButtons[] = {
    {IDM_RELOAD, 0, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_RELOAD},
    {0, 0, TBSTYLE_SEP, 0, 0},
    {IDM_RESIZE, 11, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_RESIZE},
    {0, 0, TBSTYLE_SEP, 0, 0},
    {IDM_NEW_TEMPLATE, 1, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_NEW_TEMPLATE},
    {IDM_EDIT_TEMPLATES, 2, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_EDIT_TEMPLATES},
    {IDM_DELETE_TEMPLATES, 3, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_DELETE_TEMPLATES},
    {0, 0, TBSTYLE_SEP, 0, 0},
    {IDM_CHECK_ALL, 4, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_CHECK_ALL},
    {IDM_UNCHECK_ALL, 5, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_UNCHECK_ALL},
    {0, 0, TBSTYLE_SEP, 0, 0},
    {IDM_ADD_DATE, 6, TBSTYLE_CHECK, TBSTATE_ENABLED, IDS_ADD_DATE},
    {IDM_COMPRESS, 7, TBSTYLE_CHECK, TBSTATE_ENABLED, IDS_COMPRESS},
    // Three disabled buttons keep the room the compression drop-down covers.
    {IDM_PLACEHOLDER_1, 0, TBSTYLE_BUTTON, 0, 0},
    {IDM_PLACEHOLDER_2, 0, TBSTYLE_BUTTON, 0, 0},
    {IDM_PLACEHOLDER_3, 0, TBSTYLE_BUTTON, 0, 0},
    {IDM_USE_REGEDIT, 15, TBSTYLE_CHECK, TBSTATE_ENABLED, IDS_USE_REGEDIT},
    {IDM_PORTABLE_RESTORE, 14, TBSTYLE_CHECK, TBSTATE_ENABLED, IDS_PORTABLE_RESTORE},
    {IDM_LOG, 8, TBSTYLE_CHECK, TBSTATE_ENABLED, IDS_LOG},
    {IDM_GRID, 9, TBSTYLE_CHECK, TBSTATE_ENABLED | TBSTATE_CHECKED, IDS_TOGGLE_GRID},
    {0, 0, TBSTYLE_SEP, 0, 0},
    {IDM_VERIFY_BACKUP, 12, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_VERIFY_BACKUP},
    {IDM_PREVIEW_RESTORE, 13, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_PREVIEW_RESTORE},
    {0, 0, TBSTYLE_SEP, 0, 0},
    {IDM_DO_BACKUP, 10, TBSTYLE_BUTTON, TBSTATE_ENABLED, IDS_DO_BACKUP},
};

MainWindowState& State() { return MainState(); }

// The controls' font: the system's GUI font ("*" in the catalogue), or its
// size in the face the catalogue names. Japanese names the dialogs' own
// face: the GUI font's fallback under wine draws "_" below the line, so file
// names lose it.
HFONT GuiFont() {
  static GdiObject font;
  static bool made = false;
  const auto stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (!made) {
    made = true;
    LOGFONTA face = {};
    const char* name = LoadMessage(IDS_WINDOW_FONT);
    if (name && strcmp(name, "*") != 0 && strlen(name) < sizeof face.lfFaceName &&
        GetObjectA(stock, sizeof face, &face)) {
      memcpy(face.lfFaceName, name, strlen(name) + 1);
      face.lfCharSet = DEFAULT_CHARSET;
      font.reset(CreateFontIndirectA(&face));
    }
  }
  return font ? static_cast<HFONT>(font.get()) : stock;
}

void UseGuiFont(HWND control) { SendMessageA(control, WM_SETFONT, WPARAM(GuiFont()), FALSE); }

int WindowHeight(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  return r.bottom - r.top;
}

HWND CreateChild(DWORD exStyle, const char* className, const char* text, DWORD style, int x, int y, int w, int h,
                 HWND parent, int id, HINSTANCE instance) {
  return CreateWindowExA(exStyle, className, text, style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

bool CreateToolbar(HWND window, HINSTANCE instance) {
  MainWindowState& s = State();
  s.toolbarImages.reset(ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 4, 4));
  if (!s.toolbarImages) return false;
  GdiObject strip(LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_TOOLBAR)));
  if (!strip) return false;
  ImageList_AddMasked(s.toolbarImages.get(), static_cast<HBITMAP>(strip.get()), RGB(255, 0, 255));
  s.toolbar = CreateChild(0, TOOLBARCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NODIVIDER, 0, 0,
                          100, 32, window, 0, instance);
  if (!s.toolbar) return false;
  SendMessageA(s.toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageA(s.toolbar, TB_SETIMAGELIST, 0, LPARAM(s.toolbarImages.get()));
  s.tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, window, nullptr, instance, nullptr);
  if (!s.tooltip) return false;
  for (const ToolbarButton& b : kButtons)
    AddToolbarButton(s.toolbar, b.state, b.style, b.image, b.command, s.tooltip, instance,
                     b.tooltipId ? LoadMessage(b.tooltipId) : nullptr);
  SendMessageA(s.toolbar, TB_SETTOOLTIPS, WPARAM(s.tooltip), 0);
  return true;
}

bool CreateCompressionCombo(HINSTANCE instance) {
  MainWindowState& s = State();
  RECT first = {}, last = {};
  SendMessageA(s.toolbar, TB_GETRECT, IDM_PLACEHOLDER_1, LPARAM(&first));
  SendMessageA(s.toolbar, TB_GETRECT, IDM_PLACEHOLDER_3, LPARAM(&last));
  s.compressionCombo = CreateChild(0, "COMBOBOX", nullptr, WS_CHILD | WS_VISIBLE | WS_DISABLED | CBS_DROPDOWNLIST,
                                   first.left, first.top, last.right - first.left, 200, s.toolbar, 0, instance);
  if (!s.compressionCombo) return false;
  for (const char* name : kCompressionTypes) SendMessageA(s.compressionCombo, CB_ADDSTRING, 0, LPARAM(name));
  SendMessageA(s.compressionCombo, CB_SETCURSEL, 0, 0);
  UseGuiFont(s.compressionCombo);
  AddControlTooltip(s.compressionCombo, s.tooltip, IDT_COMPRESSION_COMBO, LoadMessage(IDS_COMPRESSION_TYPE));
  return true;
}

HWND CreateProgressBar(HINSTANCE instance) {
  HWND bar = CreateChild(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0, State().statusBar,
                         0, instance);
  if (bar) {
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
  }
  return bar;
}

bool CreateTemplateListView(HWND window, HINSTANCE instance) {
  MainWindowState& s = State();
  s.templateList = CreateChild(WS_EX_CLIENTEDGE, WC_LISTVIEWA, nullptr,
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0,
                               300, 30, window, IDC_TEMPLATE_LIST, instance);
  if (!s.templateList) return false;
  // The list keeps the system's font unless the catalogue names another.
  if (GuiFont() != GetStockObject(DEFAULT_GUI_FONT)) UseGuiFont(s.templateList);
  SendMessageA(s.templateList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT);
  const int headers[] = {IDS_COLUMN_TEMPLATE, IDS_COLUMN_DETAIL, IDS_COLUMN_DIR, IDS_COLUMN_FILE};
  for (int i = 0; i < 4; ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(LoadMessage(headers[i]));
    column.iSubItem = i;
    SendMessageA(s.templateList, LVM_INSERTCOLUMNA, WPARAM(i), LPARAM(&column));
  }
  return true;
}

// "Refer..." as wide as its text needs in the button's font, 50 at least.
int BrowseButtonWidth(HWND button) {
  char text[64] = {};
  GetWindowTextA(button, text, sizeof text);
  HDC dc = GetDC(button);
  const HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageA(button, WM_GETFONT, 0, 0)));
  SIZE extent = {};
  GetTextExtentPoint32A(dc, text, lstrlenA(text), &extent);
  SelectObject(dc, old);
  ReleaseDC(button, dc);
  const int needed = extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + 8;
  return needed > kBrowseWidth ? needed : kBrowseWidth;
}

void Layout(HWND window, WPARAM wParam, LPARAM lParam) {
  const MainWindowState& s = State();
  if (!s.templateList || !s.statusBar || !s.toolbar || !s.destinationEdit) return;
  SendMessageA(s.toolbar, WM_SIZE, wParam, lParam);
  SendMessageA(s.statusBar, WM_SIZE, wParam, lParam);
  RECT client = {};
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  const int toolbarHeight = WindowHeight(s.toolbar), editHeight = WindowHeight(s.destinationEdit),
            statusHeight = WindowHeight(s.statusBar);
  MoveWindow(s.templateList, 0, toolbarHeight + editHeight, width, height - statusHeight - editHeight - toolbarHeight,
             FALSE);
  const int browseWidth = s.browseButton ? BrowseButtonWidth(s.browseButton) : kBrowseWidth;
  SetWindowPos(s.destinationEdit, nullptr, 0, toolbarHeight, width - browseWidth, kFieldHeight, SWP_NOZORDER);
  if (s.browseButton)
    SetWindowPos(s.browseButton, nullptr, width - browseWidth, toolbarHeight, browseWidth, kFieldHeight, SWP_NOZORDER);
  int parts[2] = {width - statusHeight - 100, width - statusHeight};
  SendMessageA(s.statusBar, SB_SETPARTS, 2, LPARAM(parts));
  RECT part = {};
  SendMessageA(s.statusBar, SB_GETRECT, 1, LPARAM(&part));
  const int half = (part.bottom - part.top) / 2;
  if (s.overallProgress) MoveWindow(s.overallProgress, part.left, part.top, part.right - part.left, half, TRUE);
  if (s.templateProgress)
    MoveWindow(s.templateProgress, part.left, part.top + half, part.right - part.left, half, TRUE);
  FitListColumns(s.templateList);
  InvalidateRect(window, nullptr, FALSE);
}

// As narrow as keeps "DO BACKUP!" in view, as low as keeps a few rows.
void LimitSize(HWND window, MINMAXINFO* limits) {
  const MainWindowState& s = State();
  RECT button = {};
  if (!s.toolbar || !s.statusBar || !SendMessageA(s.toolbar, TB_GETRECT, IDM_DO_BACKUP, LPARAM(&button))) return;
  RECT smallest = {0, 0, button.right,
                   WindowHeight(s.toolbar) + kFieldHeight + kSmallestListHeight + WindowHeight(s.statusBar)};
  AdjustWindowRectEx(&smallest, DWORD(GetWindowLongPtrA(window, GWL_STYLE)), FALSE,
                     DWORD(GetWindowLongPtrA(window, GWL_EXSTYLE)));
  limits->ptMinTrackSize.x = smallest.right - smallest.left;
  limits->ptMinTrackSize.y = smallest.bottom - smallest.top;
}

// The control that had the keyboard focus when the window was last left;
// it gets it back, as in a dialog box.
HWND focusKept = nullptr;

void KeepFocus(HWND window, WPARAM activation) {
  HWND focused = GetFocus();
  if (LOWORD(activation) == WA_INACTIVE && focused && IsChild(window, focused)) focusKept = focused;
}

void RestoreFocus(HWND window) {
  HWND target = focusKept && IsChild(window, focusKept) ? focusKept : State().destinationEdit;
  if (target && IsWindowEnabled(target)) SetFocus(target);
}

void FitToToolbar(HWND window) {
  const int count = int(SendMessageA(State().toolbar, TB_BUTTONCOUNT, 0, 0));
  RECT lastButton = {}, client = {};
  if (count <= 0 || !SendMessageA(State().toolbar, TB_GETITEMRECT, WPARAM(count - 1), LPARAM(&lastButton))) return;
  GetClientRect(window, &client);
  client.right = lastButton.right;
  AdjustWindowRect(&client, DWORD(GetWindowLongPtrA(window, GWL_STYLE)), FALSE);
  SetWindowPos(window, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOMOVE | SWP_NOZORDER);
}

void EditSelectedTemplates(HWND window) {
  const int count = TemplateRowCount();
  for (int row = 0; row < count; ++row) {
    if (!IsTemplateRowSelected(row)) continue;
    PathText path;
    if (!TemplateRowPath(row, &path)) continue;
    if (RunTemplateEditor(window, path.s)) SendMessageA(window, WM_COMMAND, IDM_RELOAD, 0);
  }
}

void DeleteSelectedTemplates(HWND window) {
  const int selected = SelectedTemplateRowCount();
  if (selected == 0) {
    ShowNotice(window, LoadMessage(IDS_NO_TEMPLATES_SELECTED));
    return;
  }
  char question[512];
  snprintf(question, sizeof question, LoadMessage(IDS_DELETE_TEMPLATES_QUESTION), selected);
  if (!AskYesNo(window, question, IDS_CAPTION_QUESTION, MB_ICONWARNING | MB_DEFBUTTON2)) return;
  for (;;) {
    const int row = int(SendMessageA(State().templateList, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    if (row < 0) break;
    PathText path;
    if (TemplateRowPath(row, &path)) DeleteFileA(path.s);
    SendMessageA(State().templateList, LVM_DELETEITEM, WPARAM(row), 0);
  }
}

// The window as a backup run sees it: the status bar, the two bars, the
// controls it disables and the rows it unchecks.
class MainWindowView final : public BackupView {
 public:
  explicit MainWindowView(HWND window) : window_(window) {}
  HWND Owner() override { return window_; }
  void ShowStatus(const char* text) override {
    SendMessageA(State().statusBar, SB_SETTEXTA, WPARAM(0 | SBT_NOBORDERS), LPARAM(text));
  }
  // The run's bar goes by thousandths of a template, so that it moves on
  // within a long template too, and only forward.
  void StartRunBar(unsigned steps) override {
    templatesDone_ = 0;
    StartBar(State().overallProgress, steps * kTemplateBarRange);
  }
  void StepRunBar() override {
    ++templatesDone_;
    SendMessageA(State().overallProgress, PBM_SETPOS, WPARAM(templatesDone_ * kTemplateBarRange), 0);
  }
  // The template's bar counts lines, of which a template may have millions:
  // the control hears of a step only when it moves the bar by a thousandth,
  // and, but for the last, at most every 50 ms (under wine each change
  // repaints the bar at once).
  void StartTemplateBar(unsigned steps) override {
    lines_ = steps;
    linesDone_ = 0;
    linesShown_ = 0;
    StartBar(State().templateProgress, kTemplateBarRange);
  }
  void StepTemplateBar() override {
    ++linesDone_;
    const unsigned position =
        lines_ == 0 ? kTemplateBarRange : unsigned(uint64_t(linesDone_) * kTemplateBarRange / lines_);
    if (position == linesShown_) return;
    const ULONGLONG now = GetTickCount64();
    if (linesDone_ < lines_ && now - barShownAt_ < kBarUpdateMs) return;
    barShownAt_ = now;
    linesShown_ = position;
    SendMessageA(State().templateProgress, PBM_SETPOS, WPARAM(position), 0);
    SendMessageA(State().overallProgress, PBM_SETPOS, WPARAM(templatesDone_ * kTemplateBarRange + position), 0);
  }
  void EnableControls(bool enable) override {
    const MainWindowState& s = State();
    if (!enable) EnableWindow(s.window, FALSE);
    EnableWindow(s.templateList, enable);
    EnableWindow(s.toolbar, enable);
    EnableWindow(s.compressionCombo, enable && IsToolbarButtonChecked(IDM_COMPRESS));
    EnableWindow(s.destinationEdit, enable);
    EnableWindow(s.browseButton, enable);
    if (enable) {
      EnableWindow(s.window, TRUE);
      SetForegroundWindow(s.window);
    } else {
      RedrawWindow(s.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
  }
  void TemplateSucceeded(int row) override { SetTemplateRowChecked(row, false); }

 private:
  static void StartBar(HWND bar, unsigned steps) {
    SendMessageA(bar, PBM_SETRANGE32, 0, LPARAM(steps));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
  }
  static constexpr unsigned kTemplateBarRange = 1000;
  static constexpr ULONGLONG kBarUpdateMs = 50;
  HWND window_;
  ULONGLONG barShownAt_ = 0;
  unsigned lines_ = 0, linesDone_ = 0, linesShown_ = 0, templatesDone_ = 0;
};

// "DO BACKUP!": the options, the destination and the checked rows are read
// once; the run works on them.
void BackUpCheckedTemplates(HWND window) {
  const MainWindowState& s = State();
  BackupRequest request;
  request.options.addDate = IsToolbarButtonChecked(IDM_ADD_DATE);
  request.options.writeLog = IsToolbarButtonChecked(IDM_LOG);
  request.options.useRegedit = IsToolbarButtonChecked(IDM_USE_REGEDIT);
  request.options.portableRestore = IsToolbarButtonChecked(IDM_PORTABLE_RESTORE);
  if (IsToolbarButtonChecked(IDM_COMPRESS))
    request.options.compression = int(SendMessageA(s.compressionCombo, CB_GETCURSEL, 0, 0)) + 1;
  GetWindowTextA(s.destinationEdit, request.destination, sizeof request.destination);
  for (int row = 0; row < TemplateRowCount(); ++row) {
    if (!IsTemplateRowChecked(row)) continue;
    HeapBlock name(CopyTemplateRowText(row, 0)), fileName(CopyTemplateRowText(row, 3));
    if (!name || !fileName || !request.AddTemplate(row, name.get(), fileName.get())) return;
  }
  MainWindowView view(window);
  RunBackup(request, view);
}

void SetAllRowsChecked(bool checked) {
  for (int row = 0; row < TemplateRowCount(); ++row) SetTemplateRowChecked(row, checked);
}

void BrowseDestination(HWND window) {
  char path[kPathSize] = {};
  if (IsToolbarButtonChecked(IDM_COMPRESS)) {
    // ZIP, the one type the program makes itself, offers its own files.
    const bool zip = SendMessageA(State().compressionCombo, CB_GETCURSEL, 0, 0) == kZipIndex;
    const DialogFilter filter = zip ? DialogFilter(kZipFilter) : DialogFilter(kArchiveFilter);
    OPENFILENAMEA dialog = FileDialogRecord(window, filter, path, sizeof path, LoadMessage(IDS_CAPTION_SAVE_FILE));
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (zip) dialog.lpstrDefExt = "zip";
    if (!AskSaveFile(&dialog)) return;
  } else if (!BrowseForFolder(window, LoadMessage(IDS_SELECT_DESTINATION), path)) {
    return;
  }
  SetWindowTextA(State().destinationEdit, path);
}

void OnCommand(HWND window, int command) {
  MainWindowState& s = State();
  switch (command) {
    case IDM_RELOAD:
      LoadTemplateList(window);
      FitListColumns(s.templateList);
      break;
    case IDM_RESIZE: FitToToolbar(window); break;
    case IDM_NEW_TEMPLATE:
      if (RunTemplateEditor(window, nullptr)) SendMessageA(window, WM_COMMAND, IDM_RELOAD, 0);
      break;
    case IDM_EDIT_TEMPLATES: EditSelectedTemplates(window); break;
    case IDM_DELETE_TEMPLATES: DeleteSelectedTemplates(window); break;
    case IDM_CHECK_ALL: SetAllRowsChecked(true); break;
    case IDM_UNCHECK_ALL: SetAllRowsChecked(false); break;
    case IDM_COMPRESS: EnableWindow(s.compressionCombo, IsToolbarButtonChecked(IDM_COMPRESS)); break;
    case IDM_GRID:
      SendMessageA(s.templateList, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES,
                   IsToolbarButtonChecked(IDM_GRID) ? LVS_EX_GRIDLINES : 0);
      break;
    case IDM_DO_BACKUP: BackUpCheckedTemplates(window); break;
    case IDM_VERIFY_BACKUP: ShowBackupCheck(window, s.destinationEdit, CheckKind::kVerify); break;
    case IDM_PREVIEW_RESTORE: ShowBackupCheck(window, s.destinationEdit, CheckKind::kPreview); break;
    case IDM_BROWSE: BrowseDestination(window); break;
    // Enter, routed as in a dialog box: in the destination field it starts
    // the backup, as "DO BACKUP!" does.
    case IDOK:
      if (GetFocus() == s.destinationEdit) SendMessageA(window, WM_COMMAND, IDM_DO_BACKUP, 0);
      break;
    case IDM_HELP: OpenUserGuide(window); break;
    default: break;
  }
}

void OnNotify(HWND window, const NMHDR* header) {
  if (header->idFrom != IDC_TEMPLATE_LIST) return;
  if (header->code == LVN_COLUMNCLICK)
    SortTemplateList(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
  else if (header->code == NM_DBLCLK)
    EditSelectedTemplates(window);
}

void ExtendSystemMenu(HWND window) {
  HMENU menu = GetSystemMenu(window, FALSE);
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, IDM_ABOUT, LoadMessage(IDS_ABOUT_MENU));
}

}  // namespace

void AddToolbarButton(HWND toolbar, BYTE state, BYTE style, int image, int command, HWND tooltip, HINSTANCE instance,
                      const char* tooltipText) {
  TBBUTTON button = {};
  button.iBitmap = image;
  button.idCommand = command;
  button.fsState = state;
  button.fsStyle = style;
  SendMessageA(toolbar, TB_ADDBUTTONSA, 1, LPARAM(&button));
  if (!tooltip || !tooltipText || style == TBSTYLE_SEP) return;
  TOOLINFOA tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = toolbar;
  tool.uId = UINT_PTR(command);
  tool.hinst = instance;
  tool.lpszText = const_cast<char*>(tooltipText);
  SendMessageA(toolbar, TB_GETRECT, WPARAM(command), LPARAM(&tool.rect));
  SendMessageA(tooltip, TTM_ADDTOOLA, 0, LPARAM(&tool));
}

void AddControlTooltip(HWND control, HWND tooltip, UINT toolId, const char* text) {
  // One tool for the control's place on its parent, one for the control itself.
  HWND parent = GetParent(control);
  TOOLINFOA tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = parent;
  tool.uId = toolId;
  tool.lpszText = const_cast<char*>(text);
  GetWindowRect(control, &tool.rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&tool.rect), 2);
  SendMessageA(tooltip, TTM_ADDTOOLA, 0, LPARAM(&tool));
  tool.hwnd = control;
  GetClientRect(control, &tool.rect);
  SendMessageA(tooltip, TTM_ADDTOOLA, 0, LPARAM(&tool));
}

int CreateChildControls(HWND window, HINSTANCE instance) {
  MainWindowState& s = State();
  bool ok = CreateToolbar(window, instance) && CreateCompressionCombo(instance);
  if (ok) {
    RECT toolbarClient = {};
    GetClientRect(s.toolbar, &toolbarClient);
    s.destinationEdit =
        CreateChild(WS_EX_CLIENTEDGE, "Edit", nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0,
                    toolbarClient.bottom, toolbarClient.right, 20, window, 0, instance);
    ok = s.destinationEdit != nullptr;
    if (ok) UseGuiFont(s.destinationEdit);
  }
  if (ok) {
    s.browseButton =
        CreateChild(0, "Button", LoadMessage(IDS_REFER), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, IDC_BROWSE_BUTTON, instance);
    ok = s.browseButton != nullptr;
    if (ok) UseGuiFont(s.browseButton);
  }
  if (ok) {
    s.statusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "", window, IDC_STATUS_BAR);
    ok = s.statusBar != nullptr;
  }
  if (ok) ok = (s.overallProgress = CreateProgressBar(instance)) != nullptr;
  if (ok) ok = (s.templateProgress = CreateProgressBar(instance)) != nullptr;
  if (ok) ok = CreateTemplateListView(window, instance);
  if (!ok) MessageBeep(MB_ICONHAND);
  return ok ? 0 : 1;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: ExtendSystemMenu(window); break;
    case WM_SIZE: Layout(window, wParam, lParam); break;
    case WM_GETMINMAXINFO: LimitSize(window, reinterpret_cast<MINMAXINFO*>(lParam)); break;
    case WM_ACTIVATE: KeepFocus(window, wParam); break;
    case WM_SETFOCUS: RestoreFocus(window); return 0;
    case WM_COMMAND: OnCommand(window, LOWORD(wParam)); break;
    case WM_NOTIFY: OnNotify(window, reinterpret_cast<const NMHDR*>(lParam)); break;
    case WM_SYSCOMMAND:
      if (LOWORD(wParam) == IDM_ABOUT) RunAboutBox(window);
      break;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY:
      State().toolbarImages.reset();
      PostQuitMessage(0);
      break;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
  windowClass.hIconSm =
      static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.lpszClassName = kClassName;
  return RegisterClassExA(&windowClass) != 0;
}

int CreateMainWindow(HINSTANCE instance, int showCommand) {
  MainWindowState& s = State();
  s.instance = instance;
  InitCommonControls();
  s.window = CreateWindowExA(0, kClassName, LoadMessage(IDS_CAPTION_ARKIVANTO), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!s.window) return 0;
  CreateChildControls(s.window, instance);
  SendMessageA(s.window, WM_COMMAND, IDM_RESIZE, 0);
  SendMessageA(s.statusBar, SB_SETTEXTA, WPARAM(0 | SBT_NOBORDERS), LPARAM(LoadMessage(IDS_STATUS_READY)));
  LoadTemplateList(s.window);
  FitListColumns(s.templateList);
  ShowWindow(s.window, showCommand);
  UpdateWindow(s.window);
  SetFocus(s.window);
  return 1;
}

// Messages are taken in UTF-16: a character typed into a control arrives
// whole. Taken as ANSI, wine hands a double-byte character to the edit
// control as two WM_CHARs of one byte each, and the control makes two
// characters of them. Our own window procedure still gets ANSI messages.
// F1 and F5 come from the key table; Tab, Shift+Tab and Enter are routed
// as in a dialog box.
int RunMessageLoop() {
  HWND window = State().window;
  const HACCEL keys = LoadAcceleratorsW(State().instance, MAKEINTRESOURCEW(IDR_MAIN_KEYS));
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) continue;
    if (keys && TranslateAcceleratorW(window, keys, &message)) continue;
    if (IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return int(message.wParam);
}
