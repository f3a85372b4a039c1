// Folders that follow the user or the machine, as the command interpreter
// names them on whatever machine runs Restore.bat.
#pragma once

#include <cstddef>

#include "core/wide_text.h"

// The environment variable of the folder a path lies in (the deepest of
// APPDATA, LOCALAPPDATA, USERPROFILE, PUBLIC, ProgramData, ProgramFiles and
// SystemRoot, as this machine has them), and the length of the path that
// folder covers; null when the path lies in none of them.
const char* PortableFolderOf(const wchar_t* path, size_t* covered);
