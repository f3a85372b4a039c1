// The main window's control handles and view state, shared with the backup
// run for the length of the process.
#pragma once

#include <windows.h>

struct MainWindowState {
  HWND window = nullptr;
  HWND toolbar = nullptr;
  HWND compressionCombo = nullptr;
  HWND destinationEdit = nullptr;
  HWND browseButton = nullptr;
  HWND statusBar = nullptr;
  HWND overallProgress = nullptr;
  HWND templateProgress = nullptr;
  HWND templateList = nullptr;
};

MainWindowState& MainState();
