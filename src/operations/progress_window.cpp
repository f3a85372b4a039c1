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

}  // namespace

ProgressWindow::ProgressWindow(int captionId) {
  RegisterProgressClass();
  window_.reset(
      CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc, 0));
  if (!window_) return;
  SetCaption(captionId);
  SendDlgItemMessageA(window_.get(), IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 1000);
  ShowWindow(window_.get(), SW_SHOWNOACTIVATE);
}

ProgressWindow::~ProgressWindow() {
  const DWORD code = GetLastError();
  window_.reset();
  SetLastError(code);
}

void ProgressWindow::SetCaption(int captionId) {
  if (!window_ || captionId == captionId_) return;
  captionId_ = captionId;
  SetWindowTextA(window_.get(), LoadMessage(captionId));
}

void ProgressWindow::SetText(const wchar_t* text) {
  if (window_) SetDlgItemTextW(window_.get(), IDC_PROGRESS_TEXT, text);
}

void ProgressWindow::SetPosition(unsigned thousandths) {
  if (!window_ || thousandths == position_) return;
  position_ = thousandths;
  SendDlgItemMessageA(window_.get(), IDC_PROGRESS_BAR, PBM_SETPOS, WPARAM(thousandths), 0);
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
