#include "ui/check_report.h"

#include <commctrl.h>

#include <cstring>
#include <cwchar>

#include "core/messages.h"
#include "core/notices.h"
#include "core/paths.h"
#include "resource.h"
#include "ui/dialog_layout.h"

namespace {

struct CheckReportState {
  const CheckReport* report;
  DialogLayout layout;
};

constexpr ControlAnchor kAnchors[] = {{IDC_CHECK_SUMMARY, kGrowRight},
                                      {IDC_CHECK_LIST, kGrow},
                                      {IDC_CHECK_COPY, kMoveRightAndDown},
                                      {IDOK, kMoveRightAndDown}};

CheckReportState* StateOf(HWND dialog) {
  return reinterpret_cast<CheckReportState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_CHECK_LIST); }

// Names may lie beyond the code page: rows are set with the wide messages,
// which every list view takes.
void SetCell(HWND list, int row, int column, const wchar_t* text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text);
  SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(row), LPARAM(&item));
}

void FillList(HWND list, const CheckReport& report) {
  const int headings[] = {IDS_COLUMN_WHAT, IDS_COLUMN_WHERE, IDS_COLUMN_HOW};
  for (int c = 0; c < 3; ++c) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<char*>(LoadMessage(headings[c]));
    column.cx = 100;
    SendMessageA(list, LVM_INSERTCOLUMNA, WPARAM(c), LPARAM(&column));
  }
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  int row = 0;
  for (const CheckFinding& finding : report.findings()) {
    wchar_t what[256];
    FormatCatalogueText(what, 256, finding.whatId);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = what;
    if (SendMessageW(list, LVM_INSERTITEMW, 0, LPARAM(&item)) < 0) break;
    SetCell(list, row, 1, finding.where);
    SetCell(list, row, 2, finding.how);
    ++row;
  }
  FitListColumns(list);
}

// The report's whole text, as the command line prints it.
void CopyReport(HWND dialog, const CheckReport& report) {
  const TextBuffer& text = report.text;
  if (!text.text) return;
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.text, int(text.length), nullptr, 0);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (size_t(units) + 1) * sizeof(wchar_t));
  if (!block) return;
  auto* wide = static_cast<wchar_t*>(GlobalLock(block));
  if (wide) {
    MultiByteToWideChar(CP_UTF8, 0, text.text, int(text.length), wide, units);
    wide[units] = L'\0';
    GlobalUnlock(block);
  }
  // The clipboard owns the block once it took it.
  if (wide && OpenClipboard(dialog)) {
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block)) block = nullptr;
    CloseClipboard();
  }
  if (block) GlobalFree(block);
}

// The report's last line: what the check found in a sentence.
void ShowSummary(HWND dialog, const CheckReport& report) {
  const TextBuffer& text = report.text;
  if (!text.text || text.length < 2) return;
  uint32_t start = text.length - 2;
  while (start > 0 && text.text[start - 1] != '\n') --start;
  wchar_t line[1024] = {};
  MultiByteToWideChar(CP_UTF8, 0, text.text + start, int(text.length - 2 - start), line, 1023);
  SetDlgItemTextW(dialog, IDC_CHECK_SUMMARY, line);
}

void OnInitDialog(HWND dialog, CheckReportState* state) {
  SetWindowLongPtrA(dialog, DWLP_USER, LONG_PTR(state));
  const CheckReport& report = *state->report;
  SetWindowTextA(dialog, LoadMessage(report.kind == CheckKind::kVerify ? IDS_VERIFY_BACKUP : IDS_PREVIEW_RESTORE));
  ShowSummary(dialog, report);
  FillList(List(dialog), report);
  state->layout.Start(dialog, kAnchors, sizeof kAnchors / sizeof *kAnchors);
}

INT_PTR CALLBACK CheckReportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  CheckReportState* state = StateOf(dialog);
  switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog, reinterpret_cast<CheckReportState*>(lParam)); return TRUE;
    case WM_SIZE:
    case WM_GETMINMAXINFO:
      if (state) OnLayoutMessage(state->layout, dialog, message, lParam, List(dialog));
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_CHECK_COPY:
          if (state) CopyReport(dialog, *state->report);
          return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(dialog, IDOK); return TRUE;
        default: return FALSE;
      }
    case WM_CLOSE: EndDialog(dialog, IDOK); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

void ShowBackupCheck(HWND owner, HWND destinationField, CheckKind kind) {
  char destination[kPathSize] = {};
  GetWindowTextA(destinationField, destination, sizeof destination);
  if (!destination[0]) return ShowError(owner, LoadMessage(IDS_NO_DESTINATION));
  CheckReport report;
  if (RunBackupCheck(kind, destination, &report) == kCheckNoBackup)
    return ShowError(owner, LoadMessage(kind == CheckKind::kVerify ? IDS_CHECK_NO_MANIFEST : IDS_CHECK_NO_SCRIPT));
  CheckReportState state{&report, {}};
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CHECK_REPORT), owner, CheckReportProc,
                  LPARAM(&state));
}
