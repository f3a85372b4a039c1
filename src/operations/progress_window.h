// The small modeless "Processing..." window every backup operation shows,
// and the message drain that keeps the windows painted meanwhile.
#pragma once

#include <windows.h>

#include "core/handles.h"

// The window is made at the first change of its text or bar, so an
// operation that finds nothing to do costs no window at all. Its text and bar
// follow at most every 100 ms: under wine every change of the bar repaints it
// at once, which would cost more than the work shown.
class ProgressWindow {
 public:
  // Keeps the catalogue caption; the window, shown without taking the focus
  // from the main window, comes with the first change.
  explicit ProgressWindow(int captionId) : captionId_(captionId) {}
  // Destroying the window may change the thread's last error, which holds
  // the reason of the operation that showed it: the reason is kept.
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;
  HWND handle() const { return window_.get(); }
  void SetText(const char* text);
  void SetText(const wchar_t* text);
  void SetRange(int low, int high);
  void SetPosition(int position);

 private:
  bool Due();
  bool Show();

  int captionId_;
  bool showFailed_ = false;
  OwnedWindow window_;
  ULONGLONG lastUpdate_ = 0;
  int position_ = -1;
  int low_ = -1, high_ = -1;
};

// Dispatches what is queued for the thread's windows when at least 20 ms have
// passed since the last drain: every PeekMessage is a round trip to the
// window server, as costly as a registry call.
void DrainMessages();
