// The About box, with the program's version and its tune.
#pragma once

#include <windows.h>

// Shows the About box modally, owned by owner.
void RunAboutBox(HWND owner);

// The four numbers of a file's version (the fixed part of its version
// record): major, minor, patch, build. All 0 and false when it has none.
bool ReadFileVersion(const char* path, WORD version[4]);

// "Version 1.2.0.30": the version line of the About box.
void FormatVersionLine(const WORD version[4], char* line, int size);
