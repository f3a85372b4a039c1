// What a backup run shows while it works, and the window its questions
// belong to. The main window is one such view; a run without a window and
// the tests have their own.
#pragma once

#include <windows.h>

class BackupView {
 public:
  virtual ~BackupView() = default;
  // The owner of the run's message boxes; null for none.
  virtual HWND Owner() = 0;
  virtual void ShowStatus(const char* text) = 0;
  // The file or key at work, shown often: a view may leave it out.
  virtual void ShowWork(const char* text) { ShowStatus(text); }
  // The bar over the whole run (one step a template) and the bar over one
  // template (one step a line): each set to steps, at 0.
  virtual void StartRunBar(unsigned steps) = 0;
  virtual void StepRunBar() = 0;
  virtual void StartTemplateBar(unsigned steps) = 0;
  virtual void StepTemplateBar() = 0;
  // The controls that could start another command, off while the run works.
  virtual void EnableControls(bool enable) = 0;
  // A template backed up without error: its row is unchecked.
  virtual void TemplateSucceeded(int row) = 0;
};
