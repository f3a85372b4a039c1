#include "ui/dialog_layout.h"

#include <commctrl.h>

#include "core/errors.h"

namespace {

// Room beside a header's text: the header control's own margins.
constexpr int kHeaderMargin = 16;

RECT PlaceInParent(HWND control) {
  RECT r = {};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int HeaderTextWidth(HWND list, int column) {
  char text[256] = {};
  LVCOLUMNA get = {};
  get.mask = LVCF_TEXT;
  get.pszText = text;
  get.cchTextMax = sizeof text;
  if (!SendMessageA(list, LVM_GETCOLUMNA, WPARAM(column), LPARAM(&get))) return 0;
  return int(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, LPARAM(text))) + kHeaderMargin;
}

}  // namespace

void DialogLayout::Start(HWND window, const ControlAnchor* anchors, size_t count) {
  count_ = 0;
  for (size_t i = 0; i < count; ++i) {
    HWND control = GetDlgItem(window, anchors[i].id);
    if (!control) continue;
    ARK_ASSERT(count_ < kMostControls);
    if (count_ == kMostControls) break;
    placed_[count_++] = {control, PlaceInParent(control), anchors[i].follow};
  }
  RECT client = {}, frame = {};
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  client_ = {client.right, client.bottom};
  smallest_ = {frame.right - frame.left, frame.bottom - frame.top};
}

void DialogLayout::Apply(HWND window) const {
  if (count_ == 0) return;
  RECT client = {};
  GetClientRect(window, &client);
  const int dx = client.right - client_.cx, dy = client.bottom - client_.cy;
  HDWP moves = BeginDeferWindowPos(int(count_));
  for (size_t i = 0; i < count_; ++i) {
    const Placed& p = placed_[i];
    RECT r = p.start;
    if (p.follow & kFollowLeft) r.left += dx;
    if (p.follow & kFollowRight) r.right += dx;
    if (p.follow & kFollowTop) r.top += dy;
    if (p.follow & kFollowBottom) r.bottom += dy;
    if (moves)
      moves = DeferWindowPos(moves, p.control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (moves) EndDeferWindowPos(moves);
  // Group boxes and labels leave their old frames behind otherwise.
  InvalidateRect(window, nullptr, TRUE);
}

void DialogLayout::LimitSize(MINMAXINFO* limits) const {
  if (count_ == 0) return;
  limits->ptMinTrackSize.x = smallest_.cx;
  limits->ptMinTrackSize.y = smallest_.cy;
}

void OnLayoutMessage(const DialogLayout& layout, HWND window, UINT message, LPARAM lParam, HWND list) {
  if (message == WM_GETMINMAXINFO) return layout.LimitSize(reinterpret_cast<MINMAXINFO*>(lParam));
  if (message != WM_SIZE) return;
  layout.Apply(window);
  FitListColumns(list);
}

void FitListColumns(HWND list) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const int columns = int(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  if (columns <= 0) return;
  constexpr int kMostColumns = 8;
  int widths[kMostColumns] = {}, headings[kMostColumns] = {};
  int total = 0;
  const int fitted = columns < kMostColumns ? columns : kMostColumns;
  for (int c = 0; c < fitted; ++c) {
    SendMessageA(list, LVM_SETCOLUMNWIDTH, WPARAM(c), LVSCW_AUTOSIZE);
    const int contents = int(SendMessageA(list, LVM_GETCOLUMNWIDTH, WPARAM(c), 0));
    headings[c] = HeaderTextWidth(list, c);
    widths[c] = contents > headings[c] ? contents : headings[c];
    total += widths[c];
  }
  if (total <= 0) return;
  RECT client = {};
  GetClientRect(list, &client);
  const int spare = client.right - total;
  if (spare >= 0) {
    // More room than the contents need: shared out by need; the last column
    // takes the rounding, so the columns end at the edge.
    int given = 0;
    for (int c = 0; c < fitted; ++c) {
      const int share = c == fitted - 1 ? spare - given : MulDiv(spare, widths[c], total);
      given += share;
      widths[c] += share;
    }
  } else {
    // Too little: the columns that need less than an even share keep their
    // width, the others share what is left alike, none below its header.
    bool kept[kMostColumns] = {};
    int room = client.right, open = fitted;
    for (bool changed = true; changed && open > 0;) {
      changed = false;
      for (int c = 0; c < fitted; ++c) {
        if (kept[c] || widths[c] > room / open) continue;
        kept[c] = changed = true;
        room -= widths[c];
        --open;
      }
    }
    for (int c = 0; c < fitted; ++c)
      if (!kept[c]) widths[c] = room / open > headings[c] ? room / open : headings[c];
  }
  for (int c = 0; c < fitted; ++c) SendMessageA(list, LVM_SETCOLUMNWIDTH, WPARAM(c), MAKELPARAM(widths[c], 0));
}
