// The main window's control handles and view state, shared with the backup
// run for the length of the process.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "core/handles.h"

struct MainWindowState {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HWND tooltip = nullptr;
  HWND toolbar = nullptr;
  HWND compressionCombo = nullptr;
  HWND destinationEdit = nullptr;
  HWND browseButton = nullptr;
  HWND statusBar = nullptr;
  HWND overallProgress = nullptr;
  HWND templateProgress = nullptr;
  HWND templateList = nullptr;
  OwnedImageList toolbarImages;  // destroyed with the window
  int sortColumn = -1;
  int sortDescending = 0;
};

MainWindowState& MainState();

// The pressed state of a toolbar check button: the only store of the options.
bool IsToolbarButtonChecked(int command);
