// The time-stamped backup log, appended to log.txt in the destination.
#pragma once

#include <windows.h>

#include "core/memory.h"

void AppendLogStamp(TextBuffer* log);
// Stamp, message text, extra text (may be null), CR LF. Does nothing for a null log.
void AppendLogLine(TextBuffer* log, int messageId, const char* extra = nullptr);
// Adds the closing lines and appends the whole text to destination +
// "log.txt". Returns ERROR_SUCCESS, or the failure's code (it was shown) with
// the earlier log left whole.
DWORD WriteBackupLog(HWND owner, const char* destination, TextBuffer* log, int errorCount, const char* failedList);
