// The main window: toolbar with the option buttons, destination field,
// template list and status bar.
#pragma once

#include <windows.h>

int RegisterMainWindowClass(HINSTANCE instance);
// Creates the window with its controls, fits it to the toolbar and fills the
// list; returns 1, or 0 when the window could not be created.
int CreateMainWindow(HINSTANCE instance, int showCommand);
int CreateChildControls(HWND window, HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void AddToolbarButton(HWND toolbar, BYTE state, BYTE style, int image, int command, HWND tooltip, HINSTANCE instance,
                      const char* tooltipText);
void AddControlTooltip(HWND control, HWND tooltip, UINT toolId, const char* text);
// Runs the message loop until the window is closed; returns the exit code.
int RunMessageLoop();
