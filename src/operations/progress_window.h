// The small modeless "Processing..." window every backup operation shows,
// and the message drain that keeps the windows painted meanwhile.
#pragma once

#include <windows.h>

#include "core/handles.h"

class ProgressWindow {
 public:
  // Creates the window with a catalogue caption and shows it without taking
  // the focus from the main window.
  explicit ProgressWindow(int captionId);
  HWND handle() const { return window_.get(); }
  void SetText(const char* text) const;
  void SetRange(int low, int high) const;
  void SetPosition(int position) const;

 private:
  OwnedWindow window_;
};

// Dispatches what is queued for the thread's windows when at least 20 ms have
// passed since the last drain: every PeekMessage is a round trip to the
// window server, as costly as a registry call.
void DrainMessages();
