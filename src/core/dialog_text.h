// Texts of dialog controls, read whole.
#pragma once

#include <windows.h>

int GetItemTextLength(HWND dialog, int id);
// A new block (MemFree it) with the control's whole text, or null.
char* GetItemTextCopy(HWND dialog, int id);
