#include "about/about_box.h"

#include <cstdio>

#include "about/resource_reader.h"
#include "core/memory.h"
#include "resource.h"
#include "ui/user_guide.h"
#include "xm_player.h"

namespace {

constexpr char kVersionFormat[] = "Version %d.%d.%d.%d";
constexpr char kRootBlock[] = "\\";

// The dialog's user-data slot holds the playing module, 0 before the first
// click and after a load that failed.
XmModule* Module(HWND dialog) { return reinterpret_cast<XmModule*>(GetWindowLongPtrA(dialog, GWLP_USERDATA)); }
void SetModule(HWND dialog, XmModule* module) { SetWindowLongPtrA(dialog, GWLP_USERDATA, LONG_PTR(module)); }

void OnInitDialog(HWND dialog) {
  char path[MAX_PATH] = {};
  WORD version[4];
  if (GetModuleFileNameA(nullptr, path, sizeof path) == 0) path[0] = '\0';
  ReadFileVersion(path, version);
  char line[64];
  FormatVersionLine(version, line, sizeof line);
  SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, line);
  SetModule(dialog, nullptr);
}

// The first click loads the tune and plays it; it returns once the first
// 2 s are rendered. Later clicks do nothing, also when no device played it.
void OnIconClick(HWND dialog) {
  if (Module(dialog)) return;
  RegisterResourceReader();
  XmModule* module = xmLoad(MAKEINTRESOURCEA(IDR_TUNE));
  xmPlay(module);
  SetModule(dialog, module);
}

// Stops the music and frees the module; nothing when there is none.
void ReleaseModule(HWND dialog) {
  xmFree(Module(dialog));
  SetModule(dialog, nullptr);
}

// The line about help reads as a link: coloured as one, with the hand
// cursor over it; a click opens the user guide.
INT_PTR ColourHelpLink(HWND dialog, HDC dc, HWND control) {
  if (control != GetDlgItem(dialog, IDC_ABOUT_DETAILS)) return FALSE;
  SetTextColor(dc, GetSysColor(COLOR_HOTLIGHT));
  SetBkMode(dc, TRANSPARENT);
  return INT_PTR(GetSysColorBrush(COLOR_BTNFACE));
}

bool PointHelpLink(HWND dialog, HWND under) {
  if (under != GetDlgItem(dialog, IDC_ABOUT_DETAILS)) return false;
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
  return true;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;
    case WM_CLOSE: SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
          ReleaseModule(dialog);
          EndDialog(dialog, 0);
          break;
        case IDC_ABOUT_ICON: OnIconClick(dialog); break;
        case IDC_ABOUT_DETAILS: OpenUserGuide(dialog); break;
        default: break;
      }
      return FALSE;
    // However the box goes, the music does not outlive it.
    case WM_DESTROY: ReleaseModule(dialog); return FALSE;
    case WM_CTLCOLORSTATIC:
      return ColourHelpLink(dialog, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SETCURSOR: return PointHelpLink(dialog, reinterpret_cast<HWND>(wParam));
    case WM_HELP: OpenUserGuide(dialog); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

void RunAboutBox(HWND owner) {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutProc, 0);
}

bool ReadFileVersion(const char* path, WORD version[4]) {
  for (int i = 0; i < 4; ++i) version[i] = 0;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  HeapBlock record(size ? MemAlloc(size) : nullptr);
  if (!record || !GetFileVersionInfoA(path, 0, size, record.get())) return false;
  void* root = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(record.get(), kRootBlock, &root, &length) || !root || length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const VS_FIXEDFILEINFO& info = *static_cast<const VS_FIXEDFILEINFO*>(root);
  version[0] = HIWORD(info.dwFileVersionMS);
  version[1] = LOWORD(info.dwFileVersionMS);
  version[2] = HIWORD(info.dwFileVersionLS);
  version[3] = LOWORD(info.dwFileVersionLS);
  return true;
}

void FormatVersionLine(const WORD version[4], char* line, int size) {
  snprintf(line, size_t(size), kVersionFormat, int(version[0]), int(version[1]), int(version[2]), int(version[3]));
}
