// Resizable windows: controls whose edges follow the window's right and
// bottom edges, a smallest size, and list columns fitted to their contents.
#pragma once

#include <windows.h>

#include <cstddef>

// Which edges of a control move with the window's size.
enum Follow : unsigned {
  kFollowLeft = 1,
  kFollowTop = 2,
  kFollowRight = 4,
  kFollowBottom = 8,
  kGrowRight = kFollowRight,
  kGrowDown = kFollowBottom,
  kGrow = kFollowRight | kFollowBottom,
  kMoveRight = kFollowLeft | kFollowRight,
  kMoveDown = kFollowTop | kFollowBottom,
  kMoveRightAndDown = kMoveRight | kMoveDown,
};

struct ControlAnchor {
  int id;
  unsigned follow;
};

class DialogLayout {
 public:
  // Takes the controls' places and the window's size now as the smallest.
  void Start(HWND window, const ControlAnchor* anchors, size_t count);
  // WM_SIZE: moves the anchored controls by the change in client size.
  void Apply(HWND window) const;
  // WM_GETMINMAXINFO.
  void LimitSize(MINMAXINFO* limits) const;

 private:
  struct Placed {
    HWND control;  // not owned
    RECT start;
    unsigned follow;
  };
  static constexpr size_t kMostControls = 48;
  Placed placed_[kMostControls] = {};
  size_t count_ = 0;
  SIZE client_ = {}, smallest_ = {};
};

// WM_SIZE and WM_GETMINMAXINFO of a resizable window with one report list
// whose columns are fitted again.
void OnLayoutMessage(const DialogLayout& layout, HWND window, UINT message, LPARAM lParam, HWND list);

// Gives each column of a report list the width of its contents or its
// header, whichever is wider, then shares the list's client width (which
// excludes its scroll bar) among them by those widths, none narrower than
// its header.
void FitListColumns(HWND list);
