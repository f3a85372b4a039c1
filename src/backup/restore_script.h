// The restore script Restore.bat: its header, its last line, and writing it
// into the destination.
#pragma once

#include <windows.h>

#include "core/memory.h"

void AppendRestoreHeader(TextBuffer* script);
void AppendRestoreEnd(TextBuffer* script);
// Creates, replaces or appends to destination + "Restore.bat", asking the
// user as needed; logs what it chose into log when log is not null. Returns
// ERROR_SUCCESS, or the failure's code with any earlier script left whole.
DWORD WriteRestoreScript(HWND owner, const char* destination, const TextBuffer& script, TextBuffer* log);
