// The small modeless "Processing..." window every backup operation shows,
// and the message drain that keeps the windows painted meanwhile.
#pragma once

#include <windows.h>

#include "core/handles.h"

// Its text and bar follow at most every 20 ms: under wine every change of
// the bar repaints it at once, which would cost more than the work shown.
class ProgressWindow {
 public:
  // Creates the window with a catalogue caption and shows it without taking
  // the focus from the main window.
  explicit ProgressWindow(int captionId);
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

  OwnedWindow window_;
  ULONGLONG lastUpdate_ = 0;
  int position_ = -1;
  int low_ = -1, high_ = -1;
};

// Dispatches what is queued for the thread's windows when at least 20 ms have
// passed since the last drain: every PeekMessage is a round trip to the
// window server, as costly as a registry call.
void DrainMessages();
