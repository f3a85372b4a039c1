// Every label, button and check box of every dialog shows its whole text in
// the dialog's own font, in the language the system runs in. The tests'
// wine prefix maps the dialogs' fonts to metric-compatible ones, as the run
// command's does; without that this measures fallback fonts.
#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/test_support.h"

namespace {

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::wstring WindowText(HWND window) {
  std::wstring text(size_t(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(size_t(GetWindowTextW(window, text.data(), int(text.size()))));
  return text;
}

// What a control draws: "&&" is an ampersand, a single one underlines.
std::wstring Drawn(const std::wstring& text) {
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && ++i == text.size()) break;
    shown += text[i];
  }
  return shown;
}

struct Font {
  std::wstring face;
  SIZE extent;
};

Font Measure(HWND control, const std::wstring& text) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageW(control, WM_GETFONT, 0, 0)));
  // The family of the font drawn, not the name asked for (GetTextFace).
  Font font = {};
  std::vector<char> metrics(GetOutlineTextMetricsW(dc, 0, nullptr));
  if (!metrics.empty() &&
      GetOutlineTextMetricsW(dc, UINT(metrics.size()), reinterpret_cast<OUTLINETEXTMETRICW*>(metrics.data())))
    font.face = reinterpret_cast<const wchar_t*>(
        metrics.data() + size_t(reinterpret_cast<const OUTLINETEXTMETRICW*>(metrics.data())->otmpFamilyName));
  GetTextExtentPoint32W(dc, text.data(), int(text.size()), &font.extent);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return font;
}

// The room a control leaves its text, in pixels, or -1 for one without text
// to measure (icons, edits, lists).
int TextRoom(HWND control) {
  wchar_t className[32] = {};
  GetClassNameW(control, className, 32);
  const LONG style = LONG(GetWindowLongPtrW(control, GWL_STYLE));
  RECT client = {};
  GetClientRect(control, &client);
  const std::wstring kind = className;
  if (kind == L"Static") {
    const LONG type = style & SS_TYPEMASK;
    return type == SS_LEFT || type == SS_RIGHT || type == SS_CENTER || type == SS_LEFTNOWORDWRAP ? client.right : -1;
  }
  if (kind != L"Button") return -1;
  // The box and the gap beside it, as the button control draws them.
  HDC screen = GetDC(nullptr);
  const int box = MulDiv(12, GetDeviceCaps(screen, LOGPIXELSX), 96) + 1 + 4;
  ReleaseDC(nullptr, screen);
  const LONG type = style & BS_TYPEMASK;
  if (type == BS_GROUPBOX) return client.right - 2 * 8;  // the caption sits inside the frame's corners
  // Check boxes and radio buttons of every kind; push buttons have a raised edge.
  const bool boxed = (type >= BS_CHECKBOX && type <= BS_AUTO3STATE) || type == BS_AUTORADIOBUTTON;
  return boxed ? client.right - box : client.right - 2 * 3;
}

}  // namespace

TEST_CASE("every text fits its control in the dialog's font") {
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  const bool japanese = JapaneseSystem();
  const LANGID language =
      japanese ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT) : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  // The fonts the run command's prefix substitutes; any other face means a
  // fallback of other widths, which would make this measure nothing real.
  const std::wstring standIn = japanese ? L"IPA Pゴシック" : L"Liberation Sans";
  int measured = 0;
  for (int id : {IDD_TEMPLATE_EDITOR, IDD_PROGRESS, IDD_ABOUT, IDD_OVERWRITE_OR_SAVE_AS, IDD_REGISTRY_KEY_PICKER}) {
    CAPTURE(id);
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), language);  // RT_DIALOG
    REQUIRE(found);
    const auto* layout = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
    HWND dialog = CreateDialogIndirectParamW(module, layout, nullptr, Inert, 0);
    REQUIRE(dialog);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      const int room = TextRoom(c);
      const std::wstring text = Drawn(WindowText(c));
      if (room < 0 || text.empty()) continue;
      const Font font = Measure(c, text);
      CAPTURE(Utf8(text));
      CHECK(Utf8(font.face) == Utf8(standIn));
      CHECK(font.extent.cx <= room);
      ++measured;
    }
    DestroyWindow(dialog);
  }
  CHECK(measured > 35);
}
