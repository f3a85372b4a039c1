#include "operations/progress_window.h"

#include <commctrl.h>

#include "core/messages.h"
#include "resource.h"

namespace {

INT_PTR CALLBACK ProgressProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void RegisterProgressClass() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  done = true;
}

constexpr ULONGLONG kUpdateMs = 100;

}  // namespace

bool ProgressWindow::Show() {
  if (window_ || showFailed_) return bool(window_);
  RegisterProgressClass();
  window_.reset(
      CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc, 0));
  if (!window_) {
    showFailed_ = true;  // the operation goes on without its window
    return false;
  }
  SetWindowTextA(window_.get(), LoadMessage(captionId_));
  if (low_ != -1) SendDlgItemMessageA(window_.get(), IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(low_, high_));
  ShowWindow(window_.get(), SW_SHOWNOACTIVATE);
  return true;
}

ProgressWindow::~ProgressWindow() {
  const DWORD code = GetLastError();
  window_.reset();
  SetLastError(code);
}

bool ProgressWindow::Due() {
  const ULONGLONG now = GetTickCount64();
  if ((lastUpdate_ != 0 && now - lastUpdate_ < kUpdateMs) || !Show()) return false;
  lastUpdate_ = now;
  return true;
}

void ProgressWindow::SetText(const char* text) {
  if (Due()) SetDlgItemTextA(window_.get(), IDC_PROGRESS_TEXT, text);
}

void ProgressWindow::SetText(const wchar_t* text) {
  if (Due()) SetDlgItemTextW(window_.get(), IDC_PROGRESS_TEXT, text);
}

void ProgressWindow::SetRange(int low, int high) {
  if (low == low_ && high == high_) return;
  low_ = low;
  high_ = high;
  // A window not made yet takes the range when it is.
  if (window_) SendDlgItemMessageA(window_.get(), IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void ProgressWindow::SetPosition(int position) {
  if (position == position_ || !Due()) return;
  position_ = position;
  SendDlgItemMessageA(window_.get(), IDC_PROGRESS_BAR, PBM_SETPOS, WPARAM(position), 0);
}

void DrainMessages() {
  static ULONGLONG lastDrain = 0;
  const ULONGLONG now = GetTickCount64();
  if (lastDrain != 0 && now - lastDrain < 20) return;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  lastDrain = GetTickCount64();
}
