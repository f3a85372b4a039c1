// The small modeless "Processing..." window every backup operation shows,
// and the message drain that keeps the windows painted meanwhile.
#pragma once

#include <windows.h>

#include "core/handles.h"

// Shows the file or key at hand and a bar of thousandths; whoever drives it
// keeps its changes rare: under wine every change repaints at once.
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
  void SetCaption(int captionId);
  void SetText(const wchar_t* text);
  void SetPosition(unsigned thousandths);

 private:
  OwnedWindow window_;
  int captionId_ = 0;
  unsigned position_ = 0;
};

// A run's account of the work its operations do. They name each file copied
// and key exported, and ask between them whether the run is to stop: an
// operation told to stop ends its entry failed with ERROR_CANCELLED and
// leaves any earlier copy of it in place.
class RunProgress {
 public:
  virtual ~RunProgress() = default;
  // One more file or key done by the operation captioned captionId.
  virtual void Done(int captionId, const wchar_t* item) = 0;
  // True once the user has asked the run to stop; then true for good.
  virtual bool Stopping() = 0;
};

// Dispatches what is queued for the thread's windows when at least 20 ms have
// passed since the last drain: every PeekMessage is a round trip to the
// window server, as costly as a registry call.
void DrainMessages();
