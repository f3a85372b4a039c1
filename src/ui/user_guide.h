// The user guide: a text file per language in the "docs" folder beside the
// program, opened in the program the system shows text files with.
#pragma once

#include <windows.h>

// Opens the guide of the running language; says so when it cannot.
void OpenUserGuide(HWND owner);
